#include "store/failure_log.h"

#include <cstdio>

#include "store/system_codes.h"

namespace {

struct CodeName {
    CodeFamily family;
    int64_t value;
    const char* name;
};

#define PRESETS_NT_NAME(constant, value, name) {CodeFamily::ntstatus, value, name},
#define PRESETS_WIN32_NAME(constant, value, name) {CodeFamily::win32, value, name},
constexpr CodeName kCodeNames[] = {PRESETS_SYSTEM_CODES(PRESETS_NT_NAME, PRESETS_WIN32_NAME)};
#undef PRESETS_NT_NAME
#undef PRESETS_WIN32_NAME

/// The name of a code the file layer classifies or answers with, or one our own checks
/// give; null for any other.
const char* nameOf(SystemCode code) {
    for (const CodeName& entry : kCodeNames) {
        if (entry.family == code.family && entry.value == code.value) {
            return entry.name;
        }
    }
    return nullptr;
}

}  // namespace

std::string utf8(const Path& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = 0xFFFD;
        }
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

bool FailureLog::note(std::string_view step, FileStatus status) {
    if (status.ok()) {
        return true;
    }
    failures_.push_back(Failure{std::string(step), std::move(status)});
    return false;
}

void FailureLog::noteDriver(std::string step, std::string_view call, SystemCode code,
                            std::string_view codeName, std::string_view key) {
    FileStatus status = fileFailure(FileOutcome::failed, call, code, Path(key.begin(), key.end()));
    status.codeName = codeName;
    failures_.push_back(Failure{std::move(step), std::move(status)});
}

std::string codeText(SystemCode code, std::string_view known) {
    char number[32];
    switch (code.family) {
        case CodeFamily::none:
            return "";
        case CodeFamily::ntstatus:
            std::snprintf(number, sizeof number, "0x%08llX",
                          static_cast<unsigned long long>(code.value) & 0xFFFFFFFFull);
            break;
        case CodeFamily::win32:
        case CodeFamily::nvapi:
        case CodeFamily::adlx:
            std::snprintf(number, sizeof number, "%lld", static_cast<long long>(code.value));
            break;
    }
    if (!known.empty()) {
        return std::string(known) + " (" + number + ")";
    }
    const char* name = nameOf(code);
    return name != nullptr ? std::string(name) + " (" + number + ")" : std::string(number);
}

std::string detailLine(const Failure& failure) {
    std::string line = failure.step;
    for (const std::string& part :
         {std::string(failure.status.call), codeText(failure.status.code, failure.status.codeName),
          utf8(failure.status.path)}) {
        if (!part.empty()) {
            line.append(": ").append(part);
        }
    }
    return line;
}
