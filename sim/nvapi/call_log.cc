#include "sim/nvapi/call_log.h"

#include <windows.h>

CallLog::~CallLog() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
    }
}

void CallLog::open(const std::wstring& path) {
    if (path.empty()) {
        return;
    }
    // Appending through FILE_APPEND_DATA makes every write land at the current end, even
    // when several processes share one log.
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void CallLog::write(std::string_view line) {
    if (handle_ == nullptr) {
        return;
    }
    std::string text(line);
    text += "\r\n";
    DWORD done = 0;
    WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}
