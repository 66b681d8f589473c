// The loader's operating system on Win32: library loading through the common seam,
// version test, directories and a critical section for the loader lock.
#include <windows.h>

#include "nvidia/nvapi_loader_os.h"

namespace {

/// Longest path GetModuleFileNameA can hand back, terminator included.
constexpr DWORD kLongestModulePath = 32768;

class CriticalSectionLock final : public LoaderLock {
  public:
    CriticalSectionLock() { InitializeCriticalSection(&section_); }
    ~CriticalSectionLock() override { DeleteCriticalSection(&section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void enter() override { EnterCriticalSection(&section_); }
    void leave() override { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

class Win32LoaderOs final : public LoaderOs {
  public:
    LoadResult loadLibrary(const std::wstring& file, uint32_t flags) override {
        return libraries_.loadLibrary(file, flags);
    }

    RawFunction resolve(ModuleHandle module, const char* name) override {
        return libraries_.resolve(module, name);
    }

    void freeLibrary(ModuleHandle module) override { libraries_.freeLibrary(module); }

    void sleep(uint32_t milliseconds) override { Sleep(milliseconds); }

    bool buildAtLeast9200() override {
        OSVERSIONINFOEXW wanted{};
        wanted.dwOSVersionInfoSize = sizeof(wanted);
        wanted.dwBuildNumber = 9200;
        const DWORDLONG mask = VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL);
        return VerifyVersionInfoW(&wanted, VER_BUILDNUMBER, mask) != FALSE;
    }

    std::wstring systemDirectory() override {
        // A first call with no buffer gives the size needed, terminator included.
        UINT size = GetSystemDirectoryW(nullptr, 0);
        while (size != 0) {
            std::wstring dir(size, L'\0');
            const UINT length = GetSystemDirectoryW(dir.data(), size);
            if (length < size) {
                dir.resize(length);
                return dir;
            }
            size = length;  // grew between the calls: try again with the new size
        }
        return {};
    }

    std::string modulePath() override {
        // A path that does not fit comes back cut and unterminated, with the buffer's size
        // as its length: grow and ask again rather than compare a cut path.
        for (DWORD size = MAX_PATH; size <= kLongestModulePath; size *= 2) {
            std::string path(size, '\0');
            const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
            if (length == 0) {
                return {};
            }
            if (length < size) {
                path.resize(length);
                return path;
            }
        }
        return {};
    }

    uint32_t lastError() override { return GetLastError(); }

    std::unique_ptr<LoaderLock> createLock() override {
        return std::make_unique<CriticalSectionLock>();
    }

  private:
    RuntimeLibraries& libraries_ = platformRuntimeLibraries();
};

}  // namespace

LoaderOs& platformLoaderOs() {
    static Win32LoaderOs os;
    return os;
}
