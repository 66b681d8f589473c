#include "store/backup_lock_key.h"

#include <cstdint>

namespace {

constexpr uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;
constexpr int kBytesPerUnit = 4;  // wide enough for a code unit of either platform
constexpr int kHexDigits = 16;

}  // namespace

std::string backupLockKey(std::wstring_view canonicalPath) {
    uint64_t hash = kFnvOffsetBasis;
    for (wchar_t unit : canonicalPath) {
        const auto value = static_cast<uint32_t>(unit);
        for (int i = 0; i < kBytesPerUnit; ++i) {
            hash ^= (value >> (8 * i)) & 0xFF;
            hash *= kFnvPrime;
        }
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string key(kHexDigits, '0');
    for (int i = kHexDigits - 1; i >= 0; --i) {
        key[static_cast<size_t>(i)] = kDigits[hash & 0xF];
        hash >>= 4;
    }
    return key;
}
