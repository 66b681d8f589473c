#include "amd/process_adlx.h"

namespace {

// A namespace-scope object, so it exists before the entry point and its destructor
// unloads the runtime at exit even after a failed Initialize.
ADLXHelper g_adlxHelper(platformRuntimeLibraries());

}  // namespace

ADLXHelper& processAdlx() {
    return g_adlxHelper;
}
