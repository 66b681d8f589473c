#include "store/backup_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_file_system.h"

namespace {

const Path kGuid = L"{12345678-9abc-DEF0-1234-56789abcdef0}";

std::vector<Path> texts(const std::vector<Name>& names) {
    std::vector<Path> out;
    for (const Name& name : names) {
        out.push_back(name.text());
    }
    return out;
}

}  // namespace

TEST(BackupPath, EverySpellingOfARootGivesTheSystemsOwnForm) {
    struct Case {
        Path given;
        Path full;  // what the system made of it; only asked for paths not taken literally
        RouteKind kind;
        Path root;
        std::vector<Path> folders;
        Path leaf;
        bool endsWithSeparator = false;
    } cases[] = {
        {L"C:\\a\\b\\c.txt",
         L"C:\\a\\b\\c.txt",
         RouteKind::known,
         L"\\??\\C:\\",
         {L"a", L"b"},
         L"c.txt"},
        {L"c:\\c.txt", L"c:\\c.txt", RouteKind::known, L"\\??\\c:\\", {}, L"c.txt"},
        {L"rel\\c.txt",
         L"D:\\work\\rel\\c.txt",
         RouteKind::known,
         L"\\??\\D:\\",
         {L"work", L"rel"},
         L"c.txt"},
        {L"\\\\?\\C:\\a\\c.txt", L"", RouteKind::known, L"\\??\\C:\\", {L"a"}, L"c.txt"},
        {L"\\\\.\\C:\\a\\c.txt",
         L"\\\\.\\C:\\a\\c.txt",
         RouteKind::known,
         L"\\??\\C:\\",
         {L"a"},
         L"c.txt"},
        {L"\\??\\C:\\a\\c.txt", L"", RouteKind::known, L"\\??\\C:\\", {L"a"}, L"c.txt"},
        {L"\\\\srv\\share\\a\\c.txt",
         L"\\\\srv\\share\\a\\c.txt",
         RouteKind::known,
         L"\\??\\UNC\\srv\\share\\",
         {L"a"},
         L"c.txt"},
        {L"\\\\?\\UNC\\srv\\share\\c.txt",
         L"",
         RouteKind::known,
         L"\\??\\UNC\\srv\\share\\",
         {},
         L"c.txt"},
        {L"\\\\.\\unc\\srv\\share\\c.txt",
         L"\\\\.\\unc\\srv\\share\\c.txt",
         RouteKind::known,
         L"\\??\\UNC\\srv\\share\\",
         {},
         L"c.txt"},
        {L"\\\\?\\Volume" + kGuid + L"\\a\\c.txt",
         L"",
         RouteKind::known,
         L"\\??\\Volume" + kGuid + L"\\",
         {L"a"},
         L"c.txt"},
        // Doubled separators are one; a trailing one ends the last name, and is told.
        {L"C:\\a\\\\b\\", L"C:\\a\\\\b\\", RouteKind::known, L"\\??\\C:\\", {L"a"}, L"b", true},
        // Forms the programs do not understand: only their folder, as given.
        {L"\\\\?\\unix\\tmp\\x\\c.txt",
         L"",
         RouteKind::foreign,
         L"\\??\\unix\\tmp\\x",
         {},
         L"c.txt"},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\c.txt",
         L"",
         RouteKind::foreign,
         L"\\??\\GLOBALROOT\\Device\\HarddiskVolume1",
         {},
         L"c.txt"},
        {L"\\\\?\\Volume{x}\\c.txt", L"", RouteKind::foreign, L"\\??\\Volume{x}", {}, L"c.txt"},
        {L"\\\\.\\pipe\\p", L"\\\\.\\pipe\\p", RouteKind::foreign, L"\\??\\pipe", {}, L"p"},
        // No file can have these names: a root alone, a literal "." or "..", a character
        // Windows refuses, a device, a stream other than the file's own.
        {L"C:\\", L"C:\\", RouteKind::noFile, L"", {}, L""},
        {L"\\\\?\\C:\\a\\..\\c.txt", L"", RouteKind::noFile, L"", {}, L""},
        {L"\\??\\C:\\.\\c.txt", L"", RouteKind::noFile, L"", {}, L""},
        {L"\\\\?\\C:", L"", RouteKind::noFile, L"", {}, L""},
        {L"\\\\srv\\share", L"\\\\srv\\share", RouteKind::noFile, L"", {}, L""},
        {L"\\\\?\\UNC\\srv\\share", L"", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\c*.txt", L"C:\\a\\c*.txt", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a?\\c.txt", L"C:\\a?\\c.txt", RouteKind::noFile, L"", {}, L""},
        {L"\\\\?\\C:\\a\\<c>.txt", L"", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\\"c\".txt", L"C:\\a\\\"c\".txt", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\c|d.txt", L"C:\\a\\c|d.txt", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\c\td.txt", L"C:\\a\\c\td.txt", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\NUL", L"\\\\.\\NUL", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\com1.txt", L"\\\\.\\com1", RouteKind::noFile, L"", {}, L""},
        {L"\\\\.\\NUL", L"\\\\.\\NUL", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a\\c.txt:s", L"C:\\a\\c.txt:s", RouteKind::noFile, L"", {}, L""},
        {L"\\\\?\\C:\\a\\c.txt:s:$DATA", L"", RouteKind::noFile, L"", {}, L""},
        {L"C:\\a::$DATA\\c.txt", L"C:\\a::$DATA\\c.txt", RouteKind::noFile, L"", {}, L""},
        // The file's own stream is the file.
        {L"C:\\a\\c.txt::$DATA",
         L"C:\\a\\c.txt::$DATA",
         RouteKind::known,
         L"\\??\\C:\\",
         {L"a"},
         L"c.txt"},
        {L"\\\\?\\C:\\a\\c.txt::$data", L"", RouteKind::known, L"\\??\\C:\\", {L"a"}, L"c.txt"},
        // A name ending in a dot or a space, which only a literal form keeps: not used.
        {L"\\\\?\\C:\\a\\c.txt.", L"", RouteKind::invalid, L"", {}, L""},
        {L"\\??\\C:\\a\\c.txt ", L"", RouteKind::invalid, L"", {}, L""},
        {L"\\\\?\\C:\\d.\\c.txt", L"", RouteKind::invalid, L"", {}, L""},
        {L"C:\\d..\\c.txt", L"C:\\d.\\c.txt", RouteKind::invalid, L"", {}, L""},
        {L"C:\\d \\c.txt", L"C:\\d \\c.txt", RouteKind::invalid, L"", {}, L""},
        // What the system drops from a plain or "\\.\" spelling names the file without it.
        {L"C:\\d.\\c.txt. ", L"C:\\d\\c.txt", RouteKind::known, L"\\??\\C:\\", {L"d"}, L"c.txt"},
        {L"\\\\.\\C:\\a\\c.txt.",
         L"\\\\.\\C:\\a\\c.txt",
         RouteKind::known,
         L"\\??\\C:\\",
         {L"a"},
         L"c.txt"},
        {L"x.txt", L"", RouteKind::invalid, L"", {}, L""},
    };
    for (const Case& c : cases) {
        const BackupRoute route = routeOf(c.given, c.full);
        EXPECT_EQ(route.kind, c.kind) << narrowForTest(c.given);
        EXPECT_EQ(route.root.text(), c.root) << narrowForTest(c.given);
        EXPECT_EQ(texts(route.folders), c.folders) << narrowForTest(c.given);
        EXPECT_EQ(route.leaf.text(), c.leaf) << narrowForTest(c.given);
        EXPECT_EQ(route.endsWithSeparator, c.endsWithSeparator) << narrowForTest(c.given);
    }
}

TEST(BackupPath, ARootIsShownAsTheUserSpellsIt) {
    const struct {
        Path root;
        Path shown;
    } cases[] = {
        {L"\\??\\C:\\", L"C:\\"},
        {L"\\??\\c:\\", L"c:\\"},
        {L"\\??\\UNC\\srv\\share\\", L"\\\\srv\\share\\"},
        {L"\\??\\Volume" + kGuid + L"\\", L"\\\\?\\Volume" + kGuid + L"\\"},
        {L"\\??\\unix\\tmp\\x", L"\\\\?\\unix\\tmp\\x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shownRoot(Root(c.root)), c.shown) << narrowForTest(c.root);
    }
}

TEST(BackupPath, OnlyExtendedAndSystemFormsAreTakenLiterally) {
    EXPECT_TRUE(isLiteralPath(L"\\\\?\\C:\\b.txt"));
    EXPECT_TRUE(isLiteralPath(L"\\??\\C:\\b.txt"));
    EXPECT_FALSE(isLiteralPath(L"\\\\.\\C:\\b.txt"));
    EXPECT_FALSE(isLiteralPath(L"C:\\b.txt"));
    EXPECT_FALSE(isLiteralPath(L"//?/C:/b.txt"));
}

TEST(BackupPath, LongNonAsciiNamesKeepEveryCharacterAndTheTemporaryItsExtension) {
    const Path name = L"configura\u00E7\u00F5es \u8A2D\u5B9A \U0001F3AE";
    Path full = L"C:";
    std::vector<Path> folders;
    while (full.size() <= 300) {
        full += L"\\" + name;
        folders.push_back(name);
    }
    full += L"\\c\u00F3pia.txt";
    const BackupRoute route = routeOf(full, full);
    EXPECT_EQ(texts(route.folders), folders);
    EXPECT_EQ(route.leaf.text(), L"c\u00F3pia.txt");
    EXPECT_EQ(temporaryNameFor(route.leaf).text(), L"c\u00F3pia.txt.tmp");
}
