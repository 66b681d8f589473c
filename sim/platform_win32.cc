// The simulated libraries' Win32 services; see the header.
#include <windows.h>

#include "sim/platform.h"
#include "windows/win32_handle.h"

namespace {

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

std::optional<std::string> readWholeFile(const std::wstring& path, uint32_t* error) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file.valid() && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, got);
    }
    if (error != nullptr) {
        *error = GetLastError();
    }
    return std::nullopt;
}

// The state must survive the process ending at any call, which the rename alone ensures.
// It need not survive a power cut, so nothing is forced to disk: the state is saved at
// every change, and a flush each time would only slow every run down.
uint32_t replaceFileAtomically(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".tmp";
    UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return GetLastError();
    }
    if (writeAll(file.get(), bytes) && file.reset() &&
        MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 0;
    }
    const uint32_t error = GetLastError();
    file.reset();  // the file was opened without delete sharing
    DeleteFileW(temporary.c_str());
    return error;
}

void appendToFile(const std::wstring& path, const std::string& text) {
    if (path.empty()) {
        return;
    }
    // FILE_APPEND_DATA makes every write land at the current end, even when several
    // processes share one log.
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) {
        writeAll(file.get(), text);
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
