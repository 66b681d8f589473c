#include "common/backup_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/// For failure messages: the path with every non-ASCII character as "?".
std::string narrow(const Path& path) {
    std::string out;
    for (wchar_t c : path) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace

TEST(BackupPath, ParentDirectory) {
    struct Case {
        const wchar_t* path;
        const wchar_t* parent;
    } cases[] = {
        {L"C:\\dir\\sub\\backup.txt", L"C:\\dir\\sub"},
        {L"C:\\backup.txt", L"C:\\"},
        {L"C:/backup.txt", L"C:/"},
        {L"\\backup.txt", L"\\"},
        {L"/backup.txt", L"/"},
        {L"backup.txt", L""},
        {L"dir\\\\backup.txt", L"dir"},
        {L"dir/sub/backup.txt", L"dir/sub"},
        {L"C:\\dir\\", L"C:\\dir"},
        {L"\\\\server\\share\\backup.txt", L"\\\\server\\share"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parentDirectory(c.path), c.parent) << std::wstring(c.path).size();
    }
}

TEST(BackupPath, TemporaryPathKeepsTheExtension) {
    EXPECT_EQ(temporaryPathFor(L"C:\\b\\backup.txt"), L"C:\\b\\backup.txt.tmp");
    EXPECT_EQ(temporaryPathFor(L"backup"), L"backup.tmp");
}

TEST(BackupPath, AbsoluteRootLength) {
    struct Case {
        const wchar_t* path;
        size_t root;
    } cases[] = {
        {L"C:\\dir\\b.txt", 3},
        {L"C:\\", 3},
        {L"C:/dir", 3},
        {L"\\\\server\\share\\dir\\b.txt", 15},
        {L"\\\\server\\share", 14},
        {L"\\\\?\\C:\\dir", 7},
        {L"\\\\.\\C:\\dir", 7},
        {L"\\\\?\\UNC\\server\\share\\dir", 21},
        // Neither drive nor complete share: no root a directory could be made under.
        {L"\\\\server", 0},
        {L"\\\\server\\", 0},
        {L"\\\\\\share", 0},
        {L"\\\\?\\UNC\\server", 0},
        {L"\\\\?\\Volume{x}\\dir", 0},
        {L"\\dir\\b.txt", 0},
        {L"dir\\b.txt", 0},
        {L"C:dir", 0},
        {L"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(absoluteRootLength(c.path), c.root) << narrow(c.path);
    }
}

TEST(BackupPath, DirectoryChainStartsBelowTheRoot) {
    struct Case {
        const wchar_t* dir;
        std::vector<Path> chain;
    } cases[] = {
        {L"C:\\a\\b", {L"C:\\a", L"C:\\a\\b"}},
        {L"C:\\a\\\\b\\", {L"C:\\a", L"C:\\a\\\\b"}},
        {L"C:/a/b", {L"C:/a", L"C:/a/b"}},
        {L"C:\\", {}},
        {L"\\\\server\\share\\a", {L"\\\\server\\share\\a"}},
        {L"\\\\server\\share", {}},
        {L"\\\\?\\C:\\a\\b", {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a\\b"}},
        {L"\\\\?\\UNC\\srv\\sh\\a", {L"\\\\?\\UNC\\srv\\sh\\a"}},
        {L"relative\\a", {}},
        {L"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(directoryChain(c.dir), c.chain) << narrow(c.dir);
    }
}

TEST(BackupPath, LongPathsTakeTheExtendedLengthForm) {
    // 247 characters still go to the system as the caller wrote them; 248 do not.
    const Path dir = L"C:\\" + Path(240, L'd');
    const Path fits = dir + L"\\b.txt";
    ASSERT_EQ(fits.size(), 249u);
    const Path plainLimit = fits.substr(0, 247);
    EXPECT_EQ(win32CallPath(plainLimit, plainLimit), plainLimit);
    const Path overLimit = fits.substr(0, 248);
    EXPECT_EQ(win32CallPath(overLimit, overLimit), L"\\\\?\\" + overLimit);

    struct Case {
        const char* what;
        Path given;
        Path full;
        Path expected;
    } cases[] = {
        {"long drive path", fits, fits, L"\\\\?\\" + fits},
        {"relative text, long absolute form", L"sub\\b.txt", fits, L"\\\\?\\" + fits},
        {"dot segments were resolved by the system", dir + L"\\x\\..\\.\\b.txt", fits,
         L"\\\\?\\" + fits},
        {"UNC", L"\\\\srv\\sh\\" + Path(250, L'u'), L"\\\\srv\\sh\\" + Path(250, L'u'),
         L"\\\\?\\UNC\\srv\\sh\\" + Path(250, L'u')},
        {"forward slashes never reach the extended form", L"C:/" + Path(250, L'f') + L"/b",
         L"C:/" + Path(250, L'f') + L"/b", L"\\\\?\\C:\\" + Path(250, L'f') + L"\\b"},
        {"already extended", L"\\\\?\\" + fits, L"\\\\?\\" + fits, L"\\\\?\\" + fits},
        {"device form", L"\\\\.\\" + fits, L"\\\\.\\" + fits, L"\\\\.\\" + fits},
        {"short path: the caller's own text", L"sub/../b.txt", L"C:\\w\\b.txt", L"sub/../b.txt"},
        {"no absolute form known", Path(300, L'n'), L"", Path(300, L'n')},
        {"device name the system answered with", L"C:\\" + Path(250, L'x') + L"\\nul",
         L"\\\\.\\nul", L"C:\\" + Path(250, L'x') + L"\\nul"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win32CallPath(c.given, c.full), c.expected) << c.what;
    }
}

TEST(BackupPath, LongNonAsciiPathsKeepEveryCharacter) {
    const Path name = L"configura\u00E7\u00F5es \u8A2D\u5B9A";
    Path full = L"C:\\";
    while (full.size() <= kLongestPlainPath) {
        full += name + L"\\";
    }
    full += L"c\u00F3pia.txt";
    EXPECT_EQ(win32CallPath(full, full), L"\\\\?\\" + full);
    EXPECT_EQ(temporaryPathFor(full), full + L".tmp");
    EXPECT_EQ(win32CallPath(temporaryPathFor(full), temporaryPathFor(full)),
              L"\\\\?\\" + full + L".tmp");
    EXPECT_EQ(directoryChain(parentDirectory(full)).back(), parentDirectory(full));
}
