#include <windows.h>

#include "common/elevation.h"
#include "common/win32_handle.h"

bool processIsElevated() {
    static const bool elevated = [] {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            return true;  // cannot tell: take the careful side
        }
        const UniqueHandle token(raw);
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation,
                                 &size)) {
            return true;
        }
        return elevation.TokenIsElevated != 0;
    }();
    return elevated;
}
