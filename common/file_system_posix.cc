// POSIX file layer for the native build. Paths are wide text converted to UTF-8.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwchar>
#include <thread>

#include "common/file_system.h"
#include "common/unique_fd.h"

namespace {

std::string narrow(const Path& path) {
    std::string out;
    for (wchar_t w : path) {
        auto c = static_cast<uint32_t>(w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/// The UTF-8 text `bytes` as wide text; bytes that are not UTF-8 pass one by one.
Path widen(const std::string& bytes) {
    Path out;
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead < 0x80 || i + length > bytes.size() || lead < 0xC0) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        uint32_t c = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        }
        out += static_cast<wchar_t>(c);
        i += length;
    }
    return out;
}

bool isNotFound(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG;
}

class PosixFile : public WritableFile {
  public:
    explicit PosixFile(UniqueFd fd) : fd_(std::move(fd)) {}
    bool write(std::string_view text) override {
        while (!text.empty()) {
            ssize_t n = ::write(fd_.get(), text.data(), text.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            text.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }
    bool flush() override { return ::fsync(fd_.get()) == 0; }
    bool close() override { return ::close(fd_.release()) == 0; }

  private:
    UniqueFd fd_;
};

class PosixFileSystem : public FileSystem {
  public:
    bool elevated() override { return ::geteuid() == 0; }

    Path fullPath(const Path& path) override {
        if (path.empty() || path[0] == L'/') {
            return path;
        }
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer) == nullptr) {
            return Path();
        }
        return widen(buffer) + L"/" + path;
    }

    NameInfo inspect(const Path& path) override {
        struct stat st;
        if (::lstat(narrow(path).c_str(), &st) != 0) {
            return NameInfo{isNotFound(errno) || path.empty() ? PathState::absent
                                                              : PathState::unknown};
        }
        const bool directory = S_ISDIR(st.st_mode);
        return NameInfo{PathState::present, S_ISLNK(st.st_mode),
                        directory ? 1u : static_cast<unsigned>(st.st_nlink)};
    }

    PathState query(const Path& path) override {
        struct stat st;
        if (::lstat(narrow(path).c_str(), &st) == 0) {
            return PathState::present;
        }
        return isNotFound(errno) || path.empty() ? PathState::absent : PathState::unknown;
    }

    bool makeDirectories(const Path& dir) override {
        std::string text = narrow(dir);
        if (text.empty()) {
            return false;
        }
        for (size_t i = 1; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '/') {
                ::mkdir(text.substr(0, i).c_str(), 0777);
            }
        }
        struct stat st;
        return ::stat(text.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    ReadOutcome readAll(const Path& path, std::string& bytes, size_t limit) override {
        const int flags = O_RDONLY | O_CLOEXEC | (elevated() ? O_NOFOLLOW : 0);
        const UniqueFd fd(::open(narrow(path).c_str(), flags));
        if (!fd.valid()) {
            return isNotFound(errno) || path.empty() ? ReadOutcome::absent : ReadOutcome::failed;
        }
        bytes.clear();
        char buffer[65536];
        ReadOutcome outcome = ReadOutcome::ok;
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || static_cast<size_t>(st.st_size) > limit ||
            (elevated() && st.st_nlink > 1)) {
            return ReadOutcome::failed;
        }
        for (;;) {
            ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                outcome = ReadOutcome::failed;
                break;
            }
            if (n == 0) {
                break;
            }
            if (bytes.size() + static_cast<size_t>(n) > limit) {
                outcome = ReadOutcome::failed;
                break;
            }
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return outcome;
    }

    std::unique_ptr<WritableFile> createNew(const Path& path) override {
        UniqueFd fd(::open(narrow(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd.valid()) {
            return nullptr;
        }
        return std::make_unique<PosixFile>(std::move(fd));
    }

    FileStatus replace(const Path& from, const Path& to) override {
        const std::string target = narrow(to);
        if (::rename(narrow(from).c_str(), target.c_str()) != 0) {
            return FileStatus::failed;
        }
        // The rename itself is durable only once its directory is.
        std::string dir = narrow(to);
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
        const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.valid()) {
            ::fsync(fd.get());
        }
        return FileStatus::ok;
    }

    bool clearReadOnly(const Path& path) override {
        struct stat st;
        const std::string text = narrow(path);
        if (::stat(text.c_str(), &st) != 0 || (st.st_mode & S_IWUSR) != 0) {
            return false;
        }
        return ::chmod(text.c_str(), st.st_mode | S_IWUSR) == 0;
    }

    FileStatus removeFile(const Path& path) override {
        return ::unlink(narrow(path).c_str()) == 0 || errno == ENOENT ? FileStatus::ok
                                                                      : FileStatus::failed;
    }

    void pause(std::chrono::milliseconds wait) override { std::this_thread::sleep_for(wait); }
};

}  // namespace

FileSystem& platformFileSystem() {
    static PosixFileSystem instance;
    return instance;
}
