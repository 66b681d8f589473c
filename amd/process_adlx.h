// The program's one ADLX binding, built before wmain and torn down at exit.
#pragma once

#include "amd/adlx_helper.h"

ADLXHelper& processAdlx();
