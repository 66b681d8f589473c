// The backup path as the command line gave it: wide text on every platform.
#pragma once

#include <string>

using Path = std::wstring;
