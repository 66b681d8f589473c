#include "sim/nvapi/state_file.h"

#include <windows.h>

#include "sim/nvapi/text.h"

namespace {

class MemoryStore : public StateStore {
  public:
    bool load(Profile& profile, std::string&) override {
        profile = committed_;
        return true;
    }
    bool save(const Profile& profile, std::string&) override {
        committed_ = profile;
        return true;
    }

  private:
    Profile committed_;
};

std::string lastError(const char* what) {
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

class FileStore : public StateStore {
  public:
    explicit FileStore(std::wstring path) : path_(std::move(path)) {}

    bool load(Profile& profile, std::string& error) override {
        HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND) {
                profile.clear();  // no state yet: a profile without settings of its own
                return true;
            }
            error = "opening the state file failed with error " + std::to_string(code);
            return false;
        }
        std::string bytes;
        char buffer[4096];
        bool ok = true;
        for (;;) {
            DWORD done = 0;
            if (!ReadFile(h, buffer, sizeof buffer, &done, nullptr)) {
                error = lastError("reading the state file");
                ok = false;
                break;
            }
            if (done == 0) {
                break;
            }
            bytes.append(buffer, done);
        }
        CloseHandle(h);
        return ok && parseState(bytes, profile, error);
    }

    /// Temporary file, then one replacing rename: the state file always holds a complete
    /// commit, the old one or the new one, however the process ends. Nothing is forced to
    /// disk: a fake driver's state need not outlive a power cut.
    bool save(const Profile& profile, std::string& error) override {
        const std::wstring temporary = path_ + L".tmp";
        HANDLE h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error = lastError("creating the temporary state file");
            return false;
        }
        const std::string text = formatState(profile);
        DWORD done = 0;
        bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                  done == text.size();
        if (!ok) {
            error = lastError("writing the temporary state file");
        }
        ok = CloseHandle(h) && ok;
        if (ok && !MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            error = lastError("renaming the temporary state file");
            ok = false;
        }
        if (!ok) {
            DeleteFileW(temporary.c_str());
        }
        return ok;
    }

  private:
    std::wstring path_;
};

}  // namespace

bool parseState(std::string_view text, Profile& profile, std::string& error) {
    profile.clear();
    size_t number = 0;
    for (std::string_view line : splitAt(text, '\n')) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        StoredSetting setting;
        const size_t typeAt = line.find(" type=");
        if (typeAt != std::string_view::npos) {
            if (!parseU32(trimBlanks(line.substr(typeAt + 6)), setting.type)) {
                error = "state file line " + std::to_string(number) + ": bad type";
                return false;
            }
            line = trimBlanks(line.substr(0, typeAt));
        }
        const size_t eq = line.find('=');
        NvU32 id = 0;
        if (eq == std::string_view::npos || !parseU32(trimBlanks(line.substr(0, eq)), id) ||
            !parseU32(trimBlanks(line.substr(eq + 1)), setting.value)) {
            error = "state file line " + std::to_string(number) + ": expected <id>=<value>";
            return false;
        }
        profile[id] = setting;
    }
    return true;
}

std::string formatState(const Profile& profile) {
    std::string text;
    for (const auto& [id, setting] : profile) {
        text += hex8(id) + "=" + hex8(setting.value);
        if (setting.type != 0) {
            text += " type=" + std::to_string(setting.type);
        }
        text += "\r\n";
    }
    return text;
}

std::unique_ptr<StateStore> makeStateStore(const std::wstring& path) {
    if (path.empty()) {
        return std::make_unique<MemoryStore>();
    }
    return std::make_unique<FileStore>(path);
}
