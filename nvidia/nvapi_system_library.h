// Loading libraries from the Windows system directory and nowhere else, together with the
// one-time preload of the system libraries the driver library depends on. Keeping a
// library out of the program's own directory and the search path is what stops a planted
// copy from being loaded in its place.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "nvidia/nvapi_loader_os.h"
#include "windows/module_owner.h"

/// Library load flags, as the system defines them.
namespace loadflag {
constexpr uint32_t kAlteredSearchPath = 0x8;
constexpr uint32_t kSearchDllLoadDir = 0x100;
constexpr uint32_t kSearchApplicationDir = 0x200;
constexpr uint32_t kSearchUserDirs = 0x400;
constexpr uint32_t kSearchSystem32 = 0x800;
constexpr uint32_t kSearchDefaultDirs = 0x1000;
}  // namespace loadflag

/// System error codes the loader reports or tells apart.
namespace loaderror {
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kModuleNotFound = 126;
constexpr uint32_t kBadArguments = 160;
}  // namespace loaderror

/// The two classes of system the loader tells apart by build number.
constexpr int kBuildClassWindows8 = 9200;
constexpr int kBuildClassWindows7 = 7600;

/// The libraries loaded ahead of the driver library, in load order.
constexpr std::array<const wchar_t*, 6> kPreloadLibraries = {
    L"msasn1.dll", L"cryptnet.dll", L"cryptbase.dll", L"wldp.dll", L"drvstore.dll", L"devobj.dll",
};

/// Not thread-safe: callers serialise every use (the driver loader holds its lock).
class SystemLibraryLoader {
  public:
    explicit SystemLibraryLoader(LoaderOs& os) : os_(os) {}

    /// Loads the library `name` from the system directory only. A name holding "\" or "/"
    /// is refused with error 160 before anything else is asked of the system. The preload
    /// runs first; once it has failed, every load fails with the error that made it fail.
    /// From build 9200 on the bare name is loaded with the search limited to the system
    /// directory; before that the full path is built and loaded with no search flags.
    LoadResult load(const std::wstring& name, uint32_t flags);

    /// 9200 or 7600; asked of the system once and remembered.
    int buildClass();

    /// 1 until a preload fails with an error other than "module not found", then 0 for good.
    int preloadStatus() const { return preloadStatus_; }

  private:
    LoadResult loadFromSystemDirectory(const std::wstring& name, uint32_t flags);
    void preload(uint32_t flags);
    bool preloadAlreadyDone() const;
    bool runningAsMfpmp();

    LoaderOs& os_;
    int buildClass_ = 0;
    /// Held for the life of the loader, which in the program is the life of the process.
    std::array<ModuleOwner, kPreloadLibraries.size()> preloaded_;
    int preloadStatus_ = 1;
    uint32_t preloadError_ = 0;
};
