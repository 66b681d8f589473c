#include "sim/adlx/sim_config.h"

#include <cstdlib>

const char* const kSimVariables[] = {
    "SIM_ADLX_GPUS",
    "SIM_ADLX_IDS",
    "SIM_ADLX_ABSENT",
    "SIM_ADLX_UNSUPPORTED",
    "SIM_ADLX_MISSING_SERVICES",
    "SIM_ADLX_INITIAL",
    "SIM_ADLX_FAULTS",
    "SIM_ADLX_STATE",
    "SIM_ADLX_LOG",
    "SIM_ADLX_WATCH",
    "SIM_ADLX_MARK_STDOUT",
    "SIM_ADLX_LOAD_BY_NAME",
};
const size_t kSimVariableCount = sizeof(kSimVariables) / sizeof(kSimVariables[0]);

namespace {

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(start, end - start);
        while (!part.empty() && part.front() == ' ') {
            part.erase(part.begin());
        }
        while (!part.empty() && part.back() == ' ') {
            part.pop_back();
        }
        if (!part.empty()) {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

std::optional<int64_t> number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    // Decimal, or hexadecimal after "0x"; a leading zero does not mean octal.
    const size_t digits = text[0] == '-' || text[0] == '+' ? 1 : 0;
    const bool hex = text.size() > digits + 1 && text[digits] == '0' &&
                     (text[digits + 1] == 'x' || text[digits + 1] == 'X');
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (end == nullptr || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<FaultAction> parseAction(const std::string& text) {
    FaultAction action;
    if (text == "crash") {
        action.crash = true;
        return action;
    }
    const std::string sleep = "sleep:";
    if (text.compare(0, sleep.size(), sleep) == 0) {
        const std::optional<int64_t> ms = number(text.substr(sleep.size()));
        if (!ms || *ms < 1 || *ms > UINT32_MAX) {
            return std::nullopt;
        }
        action.sleepMs = static_cast<uint32_t>(*ms);
        return action;
    }
    std::string code = text;
    const size_t plus = text.find("+out");
    const size_t minus = text.find("-out");
    if (plus != std::string::npos && plus + 4 == text.size()) {
        action.writesOut = true;
        code = text.substr(0, plus);
    } else if (minus != std::string::npos && minus > 0 && minus + 4 == text.size()) {
        action.writesOut = false;
        code = text.substr(0, minus);
    }
    const std::optional<int64_t> value = number(code);
    if (!value) {
        return std::nullopt;
    }
    action.result = static_cast<int32_t>(*value);
    return action;
}

std::optional<FaultSpec> parseFault(const std::string& text) {
    const size_t eq = text.rfind('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    FaultSpec rule;
    std::string head = text.substr(0, eq);
    const size_t at = head.find('@');
    if (at != std::string::npos) {
        const std::optional<int64_t> n = number(head.substr(at + 1));
        if (!n || *n < 1) {
            return std::nullopt;
        }
        rule.nth = static_cast<uint32_t>(*n);
        head = head.substr(0, at);
    }
    const size_t colon = head.find(':');
    rule.call = head.substr(0, colon);
    if (colon != std::string::npos) {
        rule.target = head.substr(colon + 1);
    }
    const std::optional<FaultAction> action = parseAction(text.substr(eq + 1));
    if (rule.call.empty() || !action) {
        return std::nullopt;
    }
    rule.action = *action;
    return rule;
}

}  // namespace

bool refCovers(const std::string& ref, const std::string& subject) {
    if (ref == subject) {
        return true;
    }
    return subject.size() > ref.size() + 1 &&
           subject.compare(subject.size() - ref.size(), ref.size(), ref) == 0 &&
           subject[subject.size() - ref.size() - 1] == '.';
}

std::optional<FaultAction> takeFault(std::vector<FaultSpec>& faults, const std::string& call,
                                     const std::string& subject) {
    std::optional<FaultAction> fired;
    for (FaultSpec& rule : faults) {
        if (rule.call != call || (!rule.target.empty() && !refCovers(rule.target, subject))) {
            continue;
        }
        ++rule.seen;
        if (!fired && (rule.nth == 0 || rule.nth == rule.seen)) {
            fired = rule.action;
        }
    }
    return fired;
}

SimConfig parseSimConfig(const std::map<std::string, std::wstring>& variables) {
    auto text = [&variables](const char* name) {
        const auto found = variables.find(name);
        return found == variables.end() ? std::string() : narrow(found->second);
    };
    auto wide = [&variables](const char* name) {
        const auto found = variables.find(name);
        return found == variables.end() ? std::wstring() : found->second;
    };
    SimConfig config;
    if (!text("SIM_ADLX_GPUS").empty()) {
        const std::optional<int64_t> n = number(text("SIM_ADLX_GPUS"));
        if (n && *n >= 0 && *n <= 64) {
            config.gpuCount = static_cast<uint32_t>(*n);
        } else {
            config.problems.push_back("SIM_ADLX_GPUS");
        }
    }
    for (const std::string& id : split(text("SIM_ADLX_IDS"), ',')) {
        if (id == "none") {
            config.ids.push_back(std::nullopt);
        } else if (const std::optional<int64_t> n = number(id)) {
            config.ids.push_back(static_cast<int32_t>(*n));
        } else {
            config.problems.push_back("SIM_ADLX_IDS " + id);
        }
    }
    for (const std::string& ref : split(text("SIM_ADLX_ABSENT"), ',')) {
        config.absent.insert(ref);
    }
    for (const std::string& ref : split(text("SIM_ADLX_UNSUPPORTED"), ',')) {
        config.unsupported.insert(ref);
    }
    for (const std::string& which : split(text("SIM_ADLX_MISSING_SERVICES"), ',')) {
        if (which == "1") {
            config.services1 = false;
        } else if (which == "3") {
            config.services3 = false;
        } else {
            config.problems.push_back("SIM_ADLX_MISSING_SERVICES " + which);
        }
    }
    for (const std::string& entry : split(text("SIM_ADLX_INITIAL"), ',')) {
        const size_t eq = entry.find('=');
        const std::optional<int64_t> n =
            eq == std::string::npos ? std::nullopt : number(entry.substr(eq + 1));
        if (n) {
            config.initial[entry.substr(0, eq)] = static_cast<int32_t>(*n);
        } else {
            config.problems.push_back("SIM_ADLX_INITIAL " + entry);
        }
    }
    for (const std::string& entry : split(text("SIM_ADLX_FAULTS"), ';')) {
        if (std::optional<FaultSpec> rule = parseFault(entry)) {
            config.faults.push_back(*rule);
        } else {
            config.problems.push_back("SIM_ADLX_FAULTS " + entry);
        }
    }
    config.statePath = wide("SIM_ADLX_STATE");
    config.logPath = wide("SIM_ADLX_LOG");
    config.watchPath = wide("SIM_ADLX_WATCH");
    config.markStdout = text("SIM_ADLX_MARK_STDOUT") == "1";
    config.loadByName = wide("SIM_ADLX_LOAD_BY_NAME");
    return config;
}
