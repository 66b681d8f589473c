#include "sim/nvapi/state_file.h"

#include <windows.h>

#include "sim/nvapi/text.h"
#include "sim/platform.h"

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

class FileStore : public StateStore {
  public:
    explicit FileStore(std::wstring path) : path_(std::move(path)) {}

    bool load(Profile& profile, std::string& error) override {
        uint32_t code = 0;
        const std::optional<std::string> bytes = readWholeFile(path_, &code);
        if (!bytes && code == ERROR_FILE_NOT_FOUND) {
            profile.clear();  // no state yet: a profile without settings of its own
            return true;
        }
        if (!bytes) {
            error = "reading the state file failed with error " + std::to_string(code);
            return false;
        }
        return parseState(*bytes, profile, error);
    }

    /// The state file always holds a complete commit, the old one or the new one, however
    /// the process ends.
    bool save(const Profile& profile, std::string& error) override {
        const uint32_t code = replaceFileAtomically(path_, formatState(profile));
        if (code != 0) {
            error = "writing the state file failed with error " + std::to_string(code);
        }
        return code == 0;
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
