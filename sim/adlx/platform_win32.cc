#include <windows.h>

#include "sim/adlx/platform.h"

namespace {

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

bool writeAll(HANDLE h, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote,
                       nullptr) ||
            wrote == 0) {
            return false;
        }
        done += wrote;
    }
    return true;
}

}  // namespace

std::optional<std::string> readWholeFile(const std::wstring& path) {
    Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, got);
    }
}

// The state must survive the process ending at any call, which the rename alone ensures.
// It need not survive a power cut, so nothing is forced to disk: the state is saved at
// every write of a setting, and a flush each time would only slow every run down.
bool replaceFileAtomically(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".tmp";
    {
        Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid() || !writeAll(file.get(), bytes)) {
            return false;
        }
    }
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void appendLine(const std::wstring& path, const std::string& line) {
    Handle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) {
        writeAll(file.get(), line + "\n");
    }
}

void writeStdout(const std::string& text) {
    writeAll(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void sleepMilliseconds(uint32_t ms) {
    Sleep(ms);
}

void crashProcess() {
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    ExitProcess(kCrashExitCode);
}

void refuseConfiguration(const std::string& line) {
    writeAll(GetStdHandle(STD_ERROR_HANDLE), line + "\r\n");
    TerminateProcess(GetCurrentProcess(), kConfigExitCode);
    ExitProcess(kConfigExitCode);
}
