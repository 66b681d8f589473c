// Win32 file layer. Wine's stat-based queries report every failure as absence, so
// existence is asked of GetFileAttributesW and its error code read here. Plain Win32 file
// calls stop at MAX_PATH; every path goes through callPath, which hands a long one to the
// system in its absolute extended-length form and leaves the caller's text as it is.
#include <windows.h>

#include "common/backup_path.h"
#include "common/file_system.h"
#include "common/win32_handle.h"

namespace {

/// The error codes that mean "nothing there": file, directory on the way, network path or
/// share not found, or a text that is no valid path name.
bool isNotFound(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:   // 2
        case ERROR_PATH_NOT_FOUND:   // 3
        case ERROR_BAD_NETPATH:      // 53
        case ERROR_NETNAME_DELETED:  // 64
        case ERROR_INVALID_NAME:     // 123
        case ERROR_BAD_PATHNAME:     // 161
        case ERROR_DIRECTORY:        // 267
            return true;
        default:
            return false;
    }
}

/// The absolute form of `path` (relative to the working directory, "." and ".." resolved);
/// empty when the system cannot make one.
Path fullPathOf(const Path& path) {
    if (path.empty()) {
        return Path();
    }
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return Path();
    }
    Path full(needed, L'\0');
    DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) {
        return Path();
    }
    full.resize(written);
    return full;
}

/// What the Win32 calls are given for `path`.
Path callPath(const Path& path) {
    return win32CallPath(path, fullPathOf(path));
}

bool writeAll(HANDLE h, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h, data, chunk, &done, nullptr) || done == 0) {
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

class Win32File : public WritableFile {
  public:
    explicit Win32File(HANDLE h) : handle_(h) {}
    bool write(std::string_view text) override {
        // Text mode, as the file has always been written: each "\n" is CR LF on disk.
        std::string out;
        out.reserve(text.size() + text.size() / 16 + 2);
        for (char c : text) {
            if (c == '\n') {
                out += '\r';
            }
            out += c;
        }
        return writeAll(handle_.get(), out.data(), out.size());
    }
    bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }
    bool close() override { return handle_.reset(); }

  private:
    UniqueHandle handle_;
};

class Win32FileSystem : public FileSystem {
  public:
    PathState query(const Path& path) override {
        if (GetFileAttributesW(callPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
            return PathState::present;
        }
        return isNotFound(GetLastError()) ? PathState::absent : PathState::unknown;
    }

    bool makeDirectories(const Path& dir) override {
        // Made from the absolute form, so a relative path and ".." on the way make the
        // directories the system will look in, and each step can be long.
        const Path full = fullPathOf(dir);
        for (const Path& step : directoryChain(full)) {
            CreateDirectoryW(win32CallPath(step, step).c_str(), nullptr);
        }
        if (full.empty()) {
            return false;
        }
        DWORD attributes = GetFileAttributesW(win32CallPath(dir, full).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    ReadOutcome readAll(const Path& path, std::string& bytes) override {
        UniqueHandle file(CreateFileW(callPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            return isNotFound(GetLastError()) ? ReadOutcome::absent : ReadOutcome::failed;
        }
        bytes.clear();
        char buffer[65536];
        for (;;) {
            DWORD done = 0;
            if (!ReadFile(file.get(), buffer, sizeof buffer, &done, nullptr)) {
                return ReadOutcome::failed;
            }
            if (done == 0) {
                return ReadOutcome::ok;
            }
            bytes.append(buffer, done);
        }
    }

    std::unique_ptr<WritableFile> openForWrite(const Path& path) override {
        HANDLE h = CreateFileW(callPath(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return std::make_unique<Win32File>(h);
    }

    bool replace(const Path& from, const Path& to) override {
        return MoveFileExW(
                   callPath(from).c_str(), callPath(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool clearReadOnly(const Path& path) override {
        const Path target = callPath(path);
        DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
            return false;
        }
        return SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) !=
               0;
    }

    bool removeFile(const Path& path) override {
        const Path target = callPath(path);
        if (DeleteFileW(target.c_str())) {
            return true;
        }
        DWORD error = GetLastError();
        if (isNotFound(error)) {
            return true;
        }
        if (error == ERROR_ACCESS_DENIED && clearReadOnly(path)) {
            return DeleteFileW(target.c_str()) != 0;
        }
        return false;
    }
};

}  // namespace

FileSystem& platformFileSystem() {
    static Win32FileSystem instance;
    return instance;
}
