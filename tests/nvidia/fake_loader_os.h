// A LoaderOs that records every call in one log, in order, and fails what a test asks.
// Library handles are numbered per load, so frees can be matched to their loads.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "nvidia/nvapi_loader_os.h"

/// Narrows an ASCII wide text for log lines.
std::string narrow(const std::wstring& text);

class FakeLoaderOs : public LoaderOs {
  public:
    /// Every call, e.g. "load C:\windows\system32\msasn1.dll 0x0", "free nvapi64.dll",
    /// "sleep 100", "lock", "unlock". Fake library functions write here too.
    std::vector<std::string> log;

    bool build9200 = true;
    std::wstring systemDir = L"C:\\windows\\system32";
    uint32_t systemDirError = 0;
    std::string programPath = "C:\\tools\\preset-nvidia.exe";
    /// Load failures by bare file name; every other load succeeds.
    std::map<std::string, uint32_t> loadErrors;
    /// Exports by name, the same for every module.
    std::map<std::string, RawFunction> exports;
    int locksCreated = 0;

    /// Handles of the library `name` (bare file name) that are loaded and not yet freed.
    int liveHandles(const std::string& name) const;
    /// The log lines that start with `prefix`.
    std::vector<std::string> linesStarting(const std::string& prefix) const;

    LoadResult loadLibrary(const std::wstring& file, uint32_t flags) override;
    RawFunction resolve(ModuleHandle module, const char* name) override;
    void freeLibrary(ModuleHandle module) override;
    void sleep(uint32_t milliseconds) override;
    bool buildAtLeast9200() override;
    std::wstring systemDirectory() override;
    std::string modulePath() override;
    uint32_t lastError() override;
    std::unique_ptr<LoaderLock> createLock() override;

  private:
    std::map<ModuleHandle, std::string> live_;
    uintptr_t nextHandle_ = 1;
    uint32_t lastError_ = 0;
};
