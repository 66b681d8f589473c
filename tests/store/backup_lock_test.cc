// The lock's name digest: a fixed-length name for any key text.
#include <gtest/gtest.h>

#include "store/backup_lock_key.h"

TEST(BackupLockKey, IsSixtyFourBitFnv1aOverFourByteUnits) {
    // Expected digests computed independently from the published FNV-1a parameters.
    struct Case {
        const wchar_t* text;
        const char* key;
    } cases[] = {
        {L"", "CBF29CE484222325"},
        {L"a", "AC804B820E4FE984"},
        {L"C:\\B\\BACKUP.TXT", "07B1E789CC1A49C6"},
        {L"c:\\b\\backup.txt", "86F9D1125A4D8A66"},
        {L"\u00e7\U0001F600", "9381DCC258EC5B79"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backupLockKey(c.text), c.key);
    }
}
