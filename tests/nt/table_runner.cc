#include "tests/nt/table_runner.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace nttest {

namespace {

struct Case {
    const char* name;
    CaseFunction run;
};

std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

std::vector<std::string> gLabels;
int gFailures = 0;

}  // namespace

bool addCase(const char* name, CaseFunction run) {
    cases().push_back(Case{name, run});
    return true;
}

Label::Label(std::string text) {
    gLabels.push_back(std::move(text));
}

Label::~Label() {
    gLabels.pop_back();
}

std::string show(const std::string& value) {
    std::string shown = "\"";
    for (const char c : value) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown + "\"";
}

void fail(const char* file, int line, const std::string& message) {
    ++gFailures;
    std::string where;
    for (const std::string& label : gLabels) {
        where += " [" + label + "]";
    }
    std::printf("FAIL %s:%d%s\n      %s\n", file, line, where.c_str(), message.c_str());
}

int runAll(const std::string& filter) {
    int ran = 0;
    for (const Case& c : cases()) {
        if (std::string(c.name).find(filter) == std::string::npos) {
            continue;
        }
        const int before = gFailures;
        c.run();
        ++ran;
        std::printf("%s %s\n", gFailures == before ? "ok  " : "FAIL", c.name);
    }
    std::printf("%d cases, %d failed checks\n", ran, gFailures);
    std::fflush(stdout);
    return gFailures == 0 && ran > 0 ? 0 : 1;
}

}  // namespace nttest
