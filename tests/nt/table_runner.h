// A small runner for the Windows test program: named cases, checks that name the line they
// stand on and the row and backend they ran for, and a summary; the exit code says whether
// every check held. GoogleTest is not built for the Windows tree: a fresh clone would compile
// it there on every machine (tens of seconds on two shared cores), and tables of rows need no
// more than this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "store/failure_log.h"

namespace nttest {

using CaseFunction = void (*)();
bool addCase(const char* name, CaseFunction run);

/// Names the row (and backend) every failure reported while it lives belongs to.
class Label {
  public:
    explicit Label(std::string text);
    ~Label();
    Label(const Label&) = delete;
    Label& operator=(const Label&) = delete;
};

void fail(const char* file, int line, const std::string& message);

/// Text in quotes, line breaks and other control characters written as escapes.
std::string show(const std::string& value);
inline std::string show(const char* value) {
    return show(std::string(value));
}
inline std::string show(const std::wstring& value) {
    return show(utf8(value));
}
inline std::string show(bool value) {
    return value ? "true" : "false";
}
template <typename T, typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
std::string show(T value) {
    return std::to_string(static_cast<long long>(value));
}
template <typename T>
std::string show(const std::optional<T>& value) {
    return value ? show(*value) : std::string("(none)");
}

template <typename A, typename B>
bool checkEqual(const A& a, const B& b, const char* file, int line, const char* aText,
                const char* bText) {
    if (a == b) {
        return true;
    }
    fail(file, line,
         std::string(aText) + " == " + bText + "\n      got  " + show(a) + "\n      want " +
             show(b));
    return false;
}

/// Runs every case whose name contains `filter`; 0 when every check held.
int runAll(const std::string& filter);

}  // namespace nttest

#define NT_CASE(name)                                                              \
    static void name();                                                            \
    [[maybe_unused]] static const bool name##Added = nttest::addCase(#name, name); \
    static void name()
#define NT_EXPECT(condition) \
    ((condition) ? true : (nttest::fail(__FILE__, __LINE__, #condition), false))
#define NT_EXPECT_EQ(a, b) nttest::checkEqual((a), (b), __FILE__, __LINE__, #a, #b)
