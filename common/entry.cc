#include "common/entry.h"

#include <exception>

#include "common/exit_codes.h"

namespace {

int commandLineError(Host& host, std::string_view message, int code) {
    host.out.printResultLine(resultkind::kError, 0, 0, message);
    return code;
}

int dispatch(int argc, const wchar_t* const* argv, const Backend& backend, Host& host) {
    if (argc < 2) {
        return commandLineError(host, framemessage::kMissingCommand, exitcode::kCommandLine);
    }
    const std::wstring_view command = argv[1];
    if (equalsIgnoringAsciiCase(command, "status")) {
        return backend.status(host);
    }
    if (equalsIgnoringAsciiCase(command, "apply") && argc >= 4) {
        const PresetLevel level = parsePresetLevel(argv[2]);
        if (level == kNoPreset) {
            return commandLineError(host, framemessage::kBadPreset, exitcode::kUnknownPreset);
        }
        return backend.apply(host, level, Path(argv[3]));
    }
    if (equalsIgnoringAsciiCase(command, "restore") && argc >= 3) {
        return backend.restore(host, Path(argv[2]));
    }
    return commandLineError(host, framemessage::kBadArguments, exitcode::kCommandLine);
}

}  // namespace

int runEntry(int argc, const wchar_t* const* argv, const Backend& backend, Host& host) {
    try {
        return dispatch(argc, argv, backend, host);
    } catch (...) {
        // The backend's owners have closed the driver on the way out; the front-end still
        // gets its one line, unless the backend printed it before failing.
        try {
            if (host.out.linesPrinted() == 0) {
                host.out.printResultLine(resultkind::kError, 0, 0, framemessage::kUnexpected);
            }
        } catch (...) {
            // Not even the line could be made; the exit code still tells.
        }
        return exitcode::kUnexpectedFailure;
    }
}
