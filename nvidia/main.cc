// preset-nvidia: the entry point only; everything else lives in the libraries.
#include "frame/program.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/process_nvapi.h"

namespace {

int status(LineAndBackup& io) {
    return nvidiaStatus(processNvapiTable(), io);
}

int apply(LineAndBackup& io, PresetLevel level) {
    return nvidiaApply(processNvapiTable(), io, level);
}

int restore(LineAndBackup& io) {
    return nvidiaRestore(processNvapiTable(), io);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return runProgram(argc, argv, Backend{&status, &apply, &restore}, nvidiaword::kVendorLine,
                      nvidiaword::kVendorFile);
}
