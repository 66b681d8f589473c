// The status probe: success of the four opening calls is the whole test.
#include "frame/exit_codes.h"
#include "nvidia/nvapi_session.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/preset_table.h"

int nvidiaStatus(const NvapiTable& api, LineAndBackup& io) {
    NvapiSession driver(api, &io.out.failures());
    if (driver.open() != NVAPI_OK) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, nvidiaword::kUnavailable);
        return exitcode::kUnavailable;
    }
    io.out.printResultLine(resultkind::kOk, static_cast<int32_t>(NvidiaPresetTable.size()), 0,
                           nvidiaword::kDetected);
    return exitcode::kSuccess;
}
