#include "nvidia/nvapi_system_library.h"

namespace {

constexpr size_t kCryptnet = 1;
constexpr size_t kCryptbase = 2;

/// Everything that would widen the search beyond the system directory.
constexpr uint32_t kWideningFlags = loadflag::kAlteredSearchPath | loadflag::kSearchDllLoadDir |
                                    loadflag::kSearchApplicationDir | loadflag::kSearchUserDirs |
                                    loadflag::kSearchDefaultDirs;
/// A full path needs no search at all, the system-directory bit included.
constexpr uint32_t kAllSearchFlags = kWideningFlags | loadflag::kSearchSystem32;

/// The media pipeline host process: the preload is left out there. Only "\mfpmp." is
/// compared, exactly as the driver's own loader does, so "\mfpmp.dll" counts too.
constexpr char kMfpmpTail[] = "\\mfpmp.exe";
constexpr size_t kMfpmpComparedChars = 7;

}  // namespace

int SystemLibraryLoader::buildClass() {
    if (buildClass_ == 0) {
        buildClass_ = os_.buildAtLeast9200() ? kBuildClassWindows8 : kBuildClassWindows7;
    }
    return buildClass_;
}

LoadResult SystemLibraryLoader::load(const std::wstring& name, uint32_t flags) {
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        return {nullptr, loaderror::kBadArguments};
    }
    buildClass();
    preload(flags);
    if (preloadStatus_ == 0) {
        return {nullptr, preloadError_};
    }
    return loadFromSystemDirectory(name, flags);
}

LoadResult SystemLibraryLoader::loadFromSystemDirectory(const std::wstring& name, uint32_t flags) {
    if (buildClass() >= kBuildClassWindows8) {
        return os_.loadLibrary(name, (flags & ~kWideningFlags) | loadflag::kSearchSystem32);
    }
    std::wstring path = os_.systemDirectory();
    if (path.empty()) {
        // Without the directory the "full path" would be relative to the current drive.
        uint32_t error = os_.lastError();
        return {nullptr, error != 0 ? error : loaderror::kPathNotFound};
    }
    if (path.back() != L'\\') {
        path += L'\\';
    }
    return os_.loadLibrary(path + name, flags & ~kAllSearchFlags);
}

bool SystemLibraryLoader::preloadAlreadyDone() const {
    for (size_t i = 0; i < preloaded_.size(); ++i) {
        // cryptnet.dll does not count: only the other five mark the preload as done.
        if (i != kCryptnet && preloaded_[i]) {
            return true;
        }
    }
    return false;
}

bool SystemLibraryLoader::runningAsMfpmp() {
    const std::string path = os_.modulePath();
    const size_t slash = path.rfind('\\');
    return slash != std::string::npos &&
           path.compare(slash, kMfpmpComparedChars, kMfpmpTail, kMfpmpComparedChars) == 0;
}

void SystemLibraryLoader::preload(uint32_t flags) {
    if (preloadAlreadyDone() || runningAsMfpmp()) {
        return;
    }
    for (size_t i = 0; i < kPreloadLibraries.size(); ++i) {
        if (preloaded_[i]) {
            continue;  // a repeated preload must not replace (and so free) a held handle
        }
        LoadResult loaded = loadFromSystemDirectory(kPreloadLibraries[i], flags);
        if (loaded.handle != nullptr) {
            preloaded_[i] = ModuleOwner(os_, loaded.handle);
        } else if (i != kCryptbase && loaded.error != loaderror::kModuleNotFound &&
                   preloadStatus_ != 0) {
            preloadStatus_ = 0;
            preloadError_ = loaded.error;
        }
    }
}
