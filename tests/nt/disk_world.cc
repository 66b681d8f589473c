// The rows' world under Wine: Wine's own system calls on a new folder of the test's, which is
// also the working folder while the row runs. Another program is this process acting through
// the Win32 calls a program would use (Wine holds handles of one process to the same sharing
// rules as those of two); another run's lock is taken on a thread of its own, because a mutex
// belongs to a thread.
#include <ntstatus.h>

#include <thread>
#include <vector>

#include "tests/nt/table_runner.h"
#include "tests/nt/world.h"

namespace {

Path gDiskFolder;
int gRows = 0;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class DiskWorld : public World {
  public:
    explicit DiskWorld(Path base) : base_(std::move(base)) {
        // A folder of the row's own, new: what stood there before would spoil the row.
        NT_EXPECT(CreateDirectoryW(base_.c_str(), nullptr) != FALSE);
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        SetCurrentDirectoryW(base_.c_str());
    }
    ~DiskWorld() override {
        for (HANDLE held : holds_) {
            if (held != INVALID_HANDLE_VALUE) {
                CloseHandle(held);
            }
        }
        if (waiting_ != nullptr) {
            CloseHandle(waiting_);
        }
        anotherRunCrashes();
        SetCurrentDirectoryW(previous_.c_str());
    }

    Where where() const override { return Where::wine; }
    NtCalls calls() override {
        useNtCalls(nullptr);
        return ntCalls();
    }
    Path at(const Path& name) const override { return name.empty() ? base_ : base_ + L"\\" + name; }

    void folder(const Path& name) override {
        for (size_t cut = name.find(L'\\'); cut != Path::npos; cut = name.find(L'\\', cut + 1)) {
            CreateDirectoryW(at(name.substr(0, cut)).c_str(), nullptr);
        }
        CreateDirectoryW(at(name).c_str(), nullptr);
    }
    void file(const Path& name, const std::string& bytes) override {
        const size_t cut = name.rfind(L'\\');
        if (cut != Path::npos) {
            folder(name.substr(0, cut));
        }
        HANDLE file = CreateFileW(at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    void readOnly(const Path& name, bool on) override {
        SetFileAttributesW(at(name).c_str(), on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
    }

    bool hardLink(const Path& existing, const Path& name) override {
        return CreateHardLinkW(at(name).c_str(), at(existing).c_str(), nullptr) != FALSE;
    }
    bool rename(const Path& from, const Path& to) override {
        return MoveFileExW(at(from).c_str(), at(to).c_str(), 0) != FALSE;
    }
    int hold(const Path& name, ACCESS_MASK access, ULONG share) override {
        holds_.push_back(CreateFileW(at(name).c_str(), access, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return static_cast<int>(holds_.size() - 1);
    }
    void release(int hold) override {
        HANDLE& held = holds_.at(static_cast<size_t>(hold));
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }

    void anotherRunHolds(const Path& mutex) override {
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        crash_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        holder_ = std::thread([mutex, taken, this] {
            HANDLE held = CreateMutexW(nullptr, FALSE, mutex.c_str());
            WaitForSingleObject(held, 0);
            SetEvent(taken);
            WaitForSingleObject(crash_, INFINITE);
            CloseHandle(held);  // and ends without ReleaseMutex: the mutex is abandoned
        });
        WaitForSingleObject(taken, INFINITE);
        CloseHandle(taken);
    }
    void anotherRunCrashes() override {
        if (holder_.joinable()) {
            SetEvent(crash_);
            holder_.join();
            CloseHandle(crash_);
        }
    }
    void anotherRunWaitsFor(const Path& mutex) override {
        waiting_ = CreateMutexW(nullptr, FALSE, mutex.c_str());
    }
    DWORD anotherRunTakes() override {
        DWORD answer = WAIT_FAILED;
        std::thread([&] { answer = WaitForSingleObject(waiting_, 0); }).join();
        return answer;
    }

    Path shortName(const Path& name) override {
        wchar_t buffer[MAX_PATH * 4];
        const DWORD length = GetShortPathNameW(at(name).c_str(), buffer, MAX_PATH * 4);
        const Path whole(buffer, length);
        const Path leaf = whole.substr(whole.rfind(L'\\') + 1);
        const Path longLeaf = name.substr(name.rfind(L'\\') + 1);
        return length == 0 || leaf == longLeaf ? Path() : leaf;
    }
    std::optional<std::string> bytes(const Path& name) override {
        HANDLE file = CreateFileW(at(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        std::string bytes;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            bytes.append(buffer, read);
        }
        CloseHandle(file);
        return bytes;
    }
    bool exists(const Path& name) override {
        return GetFileAttributesW(at(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool isFolder(const Path& name) override {
        const DWORD attributes = GetFileAttributesW(at(name).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    unsigned names(const Path& name) override {
        HANDLE file = CreateFileW(at(name).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        return known ? info.nNumberOfLinks : 0;
    }
    bool isReadOnly(const Path& name) override {
        const DWORD attributes = GetFileAttributesW(at(name).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    }

  private:
    Path base_;
    Path previous_;
    std::vector<HANDLE> holds_;
    std::thread holder_;
    HANDLE crash_ = nullptr;
    HANDLE waiting_ = nullptr;
};

}  // namespace

std::unique_ptr<World> makeModelWorld();

void setDiskFolder(const Path& folder) {
    gDiskFolder = folder;
}

std::unique_ptr<World> makeWorld(Where where) {
    if (where == Where::model) {
        return makeModelWorld();
    }
    return std::make_unique<DiskWorld>(gDiskFolder + L"\\row-" + std::to_wstring(++gRows));
}
