// preset-amd: the entry point only; everything else lives in the libraries.
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/process_adlx.h"
#include "frame/program.h"

namespace {

int status(LineAndBackup& io) {
    return amdStatus(processAdlx(), io);
}

int apply(LineAndBackup& io, PresetLevel level) {
    return amdApply(processAdlx(), io, level);
}

int restore(LineAndBackup& io) {
    return amdRestore(processAdlx(), io);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return runProgram(argc, argv, Backend{&status, &apply, &restore}, amdword::kVendorLine,
                      amdword::kVendorFile);
}
