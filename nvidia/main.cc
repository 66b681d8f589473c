// preset-nvidia: the entry point only; everything else lives in the libraries.
#include "frame/program.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/process_nvapi.h"

int wmain(int argc, wchar_t** argv) {
    return runProgram(
        argc, argv, backendOver<&processNvapiTable, &nvidiaStatus, &nvidiaApply, &nvidiaRestore>(),
        nvidiaword::kVendorLine, nvidiaword::kVendorFile);
}
