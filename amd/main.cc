// preset-amd: the entry point only; everything else lives in the libraries.
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/process_adlx.h"
#include "frame/program.h"

int wmain(int argc, wchar_t** argv) {
    return runProgram(argc, argv, backendOver<&processAdlx, &amdStatus, &amdApply, &amdRestore>(),
                      amdword::kVendorLine, amdword::kVendorFile);
}
