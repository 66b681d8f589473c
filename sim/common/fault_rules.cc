#include "sim/common/fault_rules.h"

#include "sim/common/sim_text.h"

namespace {

bool fail(std::string& error, const char* what, std::string_view rule) {
    error = std::string("fault rule ") + what + ": " + std::string(rule);
    return false;
}

bool parseOutcome(std::string_view text, FaultOutcome& outcome) {
    constexpr std::string_view kSleep = "sleep:";
    if (text == "crash" || text == "exit") {
        outcome.kind = FaultOutcome::Kind::kCrash;
        return true;
    }
    if (text.substr(0, kSleep.size()) == kSleep) {
        outcome.kind = FaultOutcome::Kind::kSleep;
        return parseU32(trimBlanks(text.substr(kSleep.size())), outcome.sleepMs) &&
               outcome.sleepMs > 0;
    }
    constexpr size_t kSuffix = 4;  // "+out" or "-out"
    if (text.size() > kSuffix) {
        const std::string_view suffix = text.substr(text.size() - kSuffix);
        if (suffix == "+out" || suffix == "-out") {
            outcome.writesOut = suffix == "+out";
            text = trimBlanks(text.substr(0, text.size() - kSuffix));
        }
    }
    return parseStatus(text, outcome.status);
}

bool parseRule(std::string_view text, LegacyAt at, FaultRuleText& rule, std::string& error) {
    rule.text = std::string(text);
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return fail(error, "without '='", text);
    }
    std::string_view head = trimBlanks(text.substr(0, eq));
    const size_t hash = head.find('#');
    if (hash != std::string_view::npos) {
        if (!parseU32(trimBlanks(head.substr(hash + 1)), rule.nth) || rule.nth == 0) {
            return fail(error, "with a bad call number", text);
        }
        head = trimBlanks(head.substr(0, hash));
    }
    const size_t atSign = head.find('@');
    if (atSign != std::string_view::npos) {
        const std::string_view value = trimBlanks(head.substr(atSign + 1));
        head = trimBlanks(head.substr(0, atSign));
        if (at == LegacyAt::kTarget) {
            rule.target = std::string(value);
        } else if (rule.nth != 0) {
            return fail(error, "with two call numbers", text);
        } else if (!parseU32(value, rule.nth) || rule.nth == 0) {
            return fail(error, "with a bad call number", text);
        }
    }
    const size_t colon = head.find(':');
    if (colon != std::string_view::npos) {
        if (rule.target) {
            return fail(error, "with two targets", text);
        }
        rule.target = std::string(trimBlanks(head.substr(colon + 1)));
        head = trimBlanks(head.substr(0, colon));
    }
    rule.call = std::string(head);
    if (!parseOutcome(trimBlanks(text.substr(eq + 1)), rule.outcome)) {
        return fail(error,
                    rule.outcome.kind == FaultOutcome::Kind::kSleep ? "with a bad sleep"
                                                                    : "with a bad status",
                    text);
    }
    return true;
}

}  // namespace

bool parseFaultRuleList(std::string_view text, LegacyAt at, std::vector<FaultRuleText>& rules,
                        std::string& error) {
    rules.clear();
    // Both separators are accepted everywhere: neither can occur inside a rule.
    std::vector<std::string_view> pieces;
    for (std::string_view part : splitAt(text, ';')) {
        for (std::string_view piece : splitAt(part, ',')) {
            pieces.push_back(trimBlanks(piece));
        }
    }
    for (std::string_view piece : pieces) {
        if (piece.empty()) {
            continue;
        }
        FaultRuleText rule;
        if (!parseRule(piece, at, rule, error)) {
            return false;
        }
        rules.push_back(std::move(rule));
    }
    return true;
}
