// A test tool of the end-to-end tests, never shipped: plays another program that holds a
// file open and shares it with nobody, so every other open of it fails with a sharing
// violation and it cannot be renamed over or deleted while held.
//
//   hold-file <file> <ready-marker> <release-marker>
//
// Opens <file> (which must exist) with share mode 0, then creates <ready-marker> to say
// the handle is open, and keeps it until <release-marker> appears. A time limit ends it
// anyway, so a test that fails half-way never leaves a holder behind.
// Exit codes: 0 released, 1 bad usage, 2 the file could not be opened, 3 the marker could
// not be made, 4 the time limit passed.
#include <windows.h>

namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr DWORD kTimeLimitMilliseconds = 120000;

enum Exit { kReleased = 0, kUsage = 1, kCannotOpen = 2, kCannotSignal = 3, kTimedOut = 4 };

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
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
    for (DWORD waited = 0; waited < kTimeLimitMilliseconds; waited += kPollMilliseconds) {
        if (exists(argv[3])) {
            return kReleased;
        }
        Sleep(kPollMilliseconds);
    }
    return kTimedOut;
}
