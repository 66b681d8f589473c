// A test tool of the end-to-end tests, never shipped: plays another program that holds a
// file open and shares it with nobody, so every other open of it fails with a sharing
// violation and it cannot be renamed over or deleted while held.
//
//   hold-file <file> <ready-marker> <release-marker> [<milliseconds> [<start-marker>]]
//   hold-file --short-name <path>
//
// Opens <file> (which must exist) with share mode 0, then creates <ready-marker> to say
// the handle is open, and keeps it until <release-marker> appears or, when given,
// <milliseconds> have passed: an antivirus scanner or indexer that lets go on its own.
// The milliseconds count from when <start-marker> appears, when given (a file the program
// under test makes just before it opens <file>: how long Wine takes to start a program
// must not eat the hold), else from the ready marker. A time limit ends it anyway, so a
// test that fails half-way never leaves a holder behind.
// Exit codes: 0 released, 1 bad usage, 2 the file could not be opened, 3 the marker could
// not be made, 4 the time limit passed.
//
// --short-name prints the 8.3 short form of an existing <path> as the system gives it to
// any program (GetShortPathNameW), in UTF-8, and exits 0; 2 when there is none, 3 when it
// cannot be printed. The tests need that name from the system itself: Wine makes it up
// from a hash of the long name.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr DWORD kTimeLimitMilliseconds = 120000;

enum Exit { kReleased = 0, kUsage = 1, kCannotOpen = 2, kCannotSignal = 3, kTimedOut = 4 };
enum ShortNameExit { kPrinted = 0, kNoShortName = 2, kCannotPrint = 3 };

class FileHandle {
  public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (valid()) {
            CloseHandle(h_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

bool exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

/// A whole decimal number of milliseconds below the time limit, or false.
bool parseMilliseconds(const wchar_t* text, DWORD& out) {
    out = 0;
    if (*text == L'\0') {
        return false;
    }
    for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9') {
            return false;
        }
        out = out * 10 + static_cast<DWORD>(*text - L'0');
        if (out >= kTimeLimitMilliseconds) {
            return false;
        }
    }
    return true;
}

int printShortName(const wchar_t* path) {
    const DWORD needed = GetShortPathNameW(path, nullptr, 0);
    if (needed == 0) {
        return kNoShortName;
    }
    std::wstring shortName(needed, L'\0');
    const DWORD written = GetShortPathNameW(path, shortName.data(), needed);
    if (written == 0 || written >= needed) {
        return kNoShortName;
    }
    shortName.resize(written);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, shortName.c_str(), static_cast<int>(written),
                                          nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, shortName.c_str(), static_cast<int>(written), text.data(),
                        bytes, nullptr, nullptr);
    DWORD done = 0;
    const BOOL printed = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                                   static_cast<DWORD>(text.size()), &done, nullptr);
    return printed && done == text.size() ? kPrinted : kCannotPrint;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--short-name") == 0) {
        return printShortName(argv[2]);
    }
    DWORD holdFor = 0;
    const bool timed = argc == 5 || argc == 6;
    const wchar_t* startMarker = argc == 6 ? argv[5] : nullptr;
    if (timed) {
        if (!parseMilliseconds(argv[4], holdFor)) {
            return kUsage;
        }
    } else if (argc != 4) {
        return kUsage;
    }
    FileHandle held(CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held.valid()) {
        return kCannotOpen;
    }
    {
        FileHandle ready(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!ready.valid()) {
            return kCannotSignal;
        }
    }
    // Timed by the clock, not by counting polls: a loaded machine oversleeps each one.
    const ULONGLONG start = GetTickCount64();
    ULONGLONG countFrom = start;
    bool counting = timed && startMarker == nullptr;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (timed && !counting && exists(startMarker)) {
            counting = true;
            countFrom = now;
        }
        if (exists(argv[3]) || (counting && now - countFrom >= holdFor)) {
            return kReleased;
        }
        if (now - start >= kTimeLimitMilliseconds) {
            return kTimedOut;
        }
        Sleep(kPollMilliseconds);
    }
}
