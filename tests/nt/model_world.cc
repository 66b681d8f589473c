// The rows' world on the model of NT: the row's folder is C:\row, also the working folder.
#include <ntstatus.h>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/world.h"

namespace {

using ntmodel::Actor;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class ModelWorld : public World {
  public:
    ModelWorld() {
        model_.makeFolder(kBase);
        model_.setWorkingFolder(kBase);
    }

    Where where() const override { return Where::model; }
    NtCalls calls() override { return model_.calls(); }
    ntmodel::Model* model() override { return &model_; }
    Path at(const Path& name) const override { return name.empty() ? kBase : kBase + L"\\" + name; }

    void folder(const Path& name) override { model_.makeFolder(at(name)); }
    void file(const Path& name, const std::string& bytes) override {
        model_.makeFile(at(name), bytes);
    }
    void readOnly(const Path& name, bool on) override {
        HANDLE handle = nullptr;
        model_.open(Actor::other, at(name), FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                    FILE_OPEN_REPARSE_POINT, &handle);
        FILE_BASIC_INFORMATION basic{};
        basic.FileAttributes = on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
        model_.ntSetInformationFile(handle, &basic, sizeof basic, FileBasicInformation);
        model_.close(handle);
    }

    bool hardLink(const Path& existing, const Path& name) override {
        // Making a further name needs no access that sharing counts ([MS-FSA] FileLinkInformation).
        HANDLE handle = nullptr;
        if (model_.open(Actor::other, at(existing), FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                        FILE_OPEN_REPARSE_POINT, &handle) < 0) {
            return false;
        }
        const NTSTATUS status = model_.hardLink(handle, at(name));
        model_.close(handle);
        return status >= 0;
    }
    bool rename(const Path& from, const Path& to) override {
        HANDLE handle = nullptr;
        if (model_.open(Actor::other, at(from), DELETE, kShareAll, FILE_OPEN,
                        FILE_OPEN_REPARSE_POINT, &handle) < 0) {
            return false;
        }
        const NTSTATUS status = model_.rename(handle, at(to), false);
        model_.close(handle);
        return status >= 0;
    }
    int hold(const Path& name, ACCESS_MASK access, ULONG share) override {
        HANDLE handle = nullptr;
        model_.open(Actor::other, at(name), access, share, FILE_OPEN, 0, &handle);
        holds_.push_back(handle);
        return static_cast<int>(holds_.size() - 1);
    }
    void release(int hold) override { model_.close(holds_.at(static_cast<size_t>(hold))); }

    void anotherRunHolds(const Path& mutex) override { model_.takeMutex(Actor::other, mutex); }
    void anotherRunCrashes() override { model_.crash(Actor::other); }
    void anotherRunWaitsFor(const Path& mutex) override {
        waitedFor_ = mutex;
        model_.openMutex(Actor::other, mutex);
    }
    DWORD anotherRunTakes() override { return model_.takeMutex(Actor::other, waitedFor_); }

    Path shortName(const Path& name) override { return model_.shortName(at(name)); }
    std::optional<std::string> bytes(const Path& name) override { return model_.bytes(at(name)); }
    bool exists(const Path& name) override { return model_.exists(at(name)); }
    bool isFolder(const Path& name) override { return model_.isFolder(at(name)); }
    unsigned names(const Path& name) override { return model_.names(at(name)); }
    bool isReadOnly(const Path& name) override {
        return (model_.attributes(at(name)) & FILE_ATTRIBUTE_READONLY) != 0;
    }

  private:
    const Path kBase = L"C:\\row";
    ntmodel::Model model_;
    std::vector<HANDLE> holds_;
    Path waitedFor_;
};

}  // namespace

std::unique_ptr<World> makeModelWorld() {
    return std::make_unique<ModelWorld>();
}
