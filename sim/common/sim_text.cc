#include "sim/common/sim_text.h"

#include <algorithm>

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::wstring variableValue(const std::map<std::string, std::wstring>& variables, const char* name) {
    const auto found = variables.find(name);
    return found == variables.end() ? std::wstring() : found->second;
}

std::string variableText(const std::map<std::string, std::wstring>& variables, const char* name) {
    std::string text;
    for (wchar_t c : variableValue(variables, name)) {
        text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return text;
}

bool parseU32(std::string_view text, uint32_t& out) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    out = static_cast<uint32_t>(value);
    return true;
}

bool parseStatus(std::string_view text, int32_t& out) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative || (!text.empty() && text.front() == '+')) {
        text.remove_prefix(1);
    }
    uint32_t magnitude = 0;
    if (!parseU32(text, magnitude)) {
        return false;
    }
    if (negative) {
        if (magnitude > 0x80000000u) {
            return false;
        }
        out = static_cast<int32_t>(0u - magnitude);
    } else {
        out = static_cast<int32_t>(magnitude);  // a hexadecimal pattern keeps its bits
    }
    return true;
}

std::string unknownVariableProblem(const std::map<std::string, std::wstring>& variables,
                                   const std::vector<std::string_view>& known) {
    for (const auto& variable : variables) {
        if (std::find(known.begin(), known.end(), variable.first) != known.end()) {
            continue;
        }
        std::string problem = variable.first + ": not a variable of this library, which reads ";
        for (size_t i = 0; i < known.size(); ++i) {
            problem += (i == 0 ? "" : ", ") + std::string(known[i]);
        }
        return problem;
    }
    return {};
}
