// The status probe: a non-empty GPU list and the 3D settings services are the whole test.
#include "amd/adlx_session.h"
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "frame/exit_codes.h"

namespace {

bool probe(AdlxRuntime& adlx, FailureLog& log) {
    AdlxSession session(adlx, log);
    return session.open() == SessionOpening::ready;
}  // released and terminated here, before the line

}  // namespace

int amdStatus(AdlxRuntime& adlx, LineAndBackup& io) {
    if (!probe(adlx, io.out.failures())) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kUnavailable);
        return exitcode::kUnavailable;
    }
    io.out.printResultLine(resultkind::kOk, 1, 0, amdword::kDetected);
    return exitcode::kSuccess;
}
