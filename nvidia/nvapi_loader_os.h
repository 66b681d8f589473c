// What the driver library loader needs from the operating system, behind one small
// interface so that tests can record every call and fail any of them: the run-time
// library seam, and what the NVIDIA rules add to it. The Win32 implementation lives in
// loader_os_win32.cc.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "windows/runtime_library.h"

/// A process-wide lock that the same thread may take again while it holds it.
class LoaderLock {
  public:
    virtual ~LoaderLock() = default;
    virtual void enter() = 0;
    virtual void leave() = 0;
};

class LoaderOs : public RuntimeLibraries {
  public:
    virtual void sleep(uint32_t milliseconds) = 0;
    /// True when the system's build number is 9200 (Windows 8) or higher.
    virtual bool buildAtLeast9200() = 0;
    /// The system directory, or an empty text when it cannot be found (see `lastError`).
    virtual std::wstring systemDirectory() = 0;
    /// The full path of the running program's file, or an empty text when unknown.
    virtual std::string modulePath() = 0;
    /// The calling thread's last error code.
    virtual uint32_t lastError() = 0;
    /// Creates the lock that serialises initialise and unload.
    virtual std::unique_ptr<LoaderLock> createLock() = 0;
};

/// The operating system the program runs on; the Windows build provides it.
LoaderOs& platformLoaderOs();
