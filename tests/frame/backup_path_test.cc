#include "common/backup_path.h"

#include <gtest/gtest.h>

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
