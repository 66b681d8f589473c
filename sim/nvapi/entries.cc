// The library's face: the one export "nvapi_QueryInterface", the driver entries it hands
// out, the two call hooks and the unload entries. Every entry counts as one driver call:
// it is checked against the injected faults, performed on the simulated driver, and
// logged with its arguments, its status and what it returned.
#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/load_by_name.h"
#include "sim/nvapi/config.h"
#include "sim/nvapi/driver.h"
#include "sim/nvapi/text.h"
#include "sim/nvapi/variant.h"
#include "sim/platform.h"

namespace {

class Simulation {
  public:
    Simulation() {
        NvapiSimConfig config;
        std::string error;
        const bool configured = readConfig(config, error);
        logPath_ = config.logPath;
        if (!configured) {
            // Running on with half a configuration would make a test pass for the wrong
            // reason; stop loudly instead.
            write("sim.config-error " + error);
            refuseConfiguration("simulated nvapi64.dll: " + error);
        }
        loadByName_ = config.loadByName;
        store_ = makeStateStore(config.statePath);
        faults_ = std::make_unique<FaultPlan>(config.faults);
        driver_ = std::make_unique<SimDriver>(*store_, config.typeOverrides,
                                              kSimVariant.initialiseStatus);
    }

    /// One driver call: `perform` runs unless a fault fires first.
    template <typename Perform>
    NvAPI_Status call(const char* function, const std::string& arguments,
                      std::optional<NvU32> settingId, Perform perform) {
        std::lock_guard<std::mutex> hold(lock_);
        std::string line = function;
        if (!arguments.empty()) {
            line += " " + arguments;
        }
        if (const std::optional<FaultRule> fault = faults_->nextCall(function, settingId)) {
            if (fault->exitProcess) {
                write(line + " -> exit (injected)");
                crashProcess();
            }
            if (fault->sleepMs == 0) {
                write(line + " -> " + std::to_string(fault->status) + " (injected)");
                return fault->status;
            }
            // Logged before the wait, so a test knows the process is inside the call.
            write(line + " -> sleep " + std::to_string(fault->sleepMs) + " (injected)");
            sleepMilliseconds(fault->sleepMs);
        }
        DriverNote note;
        const NvAPI_Status status = perform(*driver_, note);
        if (!note.misuse.empty()) {
            write(std::string("MISUSE ") + function + " " + note.misuse);
        }
        line += " -> " + std::to_string(status);
        if (!note.detail.empty()) {
            line += " " + note.detail;
        }
        write(line);
        return status;
    }

    void note(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock_);
        write(line);
    }

    uintptr_t nextCookie() { return ++cookies_; }

    /// Loads the configured library by bare name, as a real driver loads helpers of its
    /// own, and logs where it came from: the caller's search rules decide.
    void loadByNameIfAsked() {
        if (!loadByName_.empty()) {
            note("sim.load-by-name " + toUtf8(loadByName_) + " -> " + loadByName(loadByName_));
        }
    }

  private:
    /// One line and CR LF, appended with a single write, so a process that is killed in the
    /// middle of a run still leaves only complete lines behind.
    void write(const std::string& line) { appendToFile(logPath_, line + "\r\n"); }

    std::mutex lock_;
    std::wstring logPath_;
    std::wstring loadByName_;
    std::unique_ptr<StateStore> store_;
    std::unique_ptr<FaultPlan> faults_;
    std::unique_ptr<SimDriver> driver_;
    uintptr_t cookies_ = 0;
};

Simulation* gSimulation = nullptr;

Simulation& simulation() {
    static Simulation instance;
    gSimulation = &instance;
    return instance;
}

std::string sessionArgument(NvDRSSessionHandle session) {
    return "session=" + hexHandle(session);
}

std::string profileArguments(NvDRSSessionHandle session, NvDRSProfileHandle profile) {
    return sessionArgument(session) + " profile=" + hexHandle(profile);
}

NvAPI_Status simInitialize() {
    simulation().loadByNameIfAsked();
    return simulation().call("NvAPI_Initialize", "", std::nullopt,
                             [](SimDriver& d, DriverNote& note) { return d.initialize(note); });
}

NvAPI_Status simCreateSession(NvDRSSessionHandle* session) {
    return simulation().call(
        "NvAPI_DRS_CreateSession", "", std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.createSession(session, note); });
}

NvAPI_Status simLoadSettings(NvDRSSessionHandle session) {
    return simulation().call(
        "NvAPI_DRS_LoadSettings", sessionArgument(session), std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.loadSettings(session, note); });
}

NvAPI_Status simGetBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile) {
    return simulation().call(
        "NvAPI_DRS_GetBaseProfile", sessionArgument(session), std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.getBaseProfile(session, profile, note); });
}

NvAPI_Status simGetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NvU32 id,
                           NVDRS_SETTING* record) {
    return simulation().call("NvAPI_DRS_GetSetting",
                             profileArguments(session, profile) + " id=" + hex8(id), id,
                             [&](SimDriver& d, DriverNote& note) {
                                 return d.getSetting(session, profile, id, record, note);
                             });
}

NvAPI_Status simSetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                           NVDRS_SETTING* record) {
    std::string arguments = profileArguments(session, profile);
    std::optional<NvU32> id;
    if (record != nullptr) {
        id = record->settingId;
        arguments += " id=" + hex8(record->settingId) +
                     " type=" + std::to_string(record->settingType) +
                     " value=" + hex8(record->u32CurrentValue);
    }
    return simulation().call("NvAPI_DRS_SetSetting", arguments, id,
                             [&](SimDriver& d, DriverNote& note) {
                                 return d.setSetting(session, profile, record, note);
                             });
}

NvAPI_Status simDeleteProfileSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                     NvU32 id) {
    return simulation().call("NvAPI_DRS_DeleteProfileSetting",
                             profileArguments(session, profile) + " id=" + hex8(id), id,
                             [&](SimDriver& d, DriverNote& note) {
                                 return d.deleteProfileSetting(session, profile, id, note);
                             });
}

NvAPI_Status simSaveSettings(NvDRSSessionHandle session) {
    return simulation().call(
        "NvAPI_DRS_SaveSettings", sessionArgument(session), std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.saveSettings(session, note); });
}

NvAPI_Status simDestroySession(NvDRSSessionHandle session) {
    return simulation().call(
        "NvAPI_DRS_DestroySession", sessionArgument(session), std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.destroySession(session, note); });
}

NvAPI_Status simUnload() {
    return simulation().call("NvAPI_Unload", "", std::nullopt,
                             [](SimDriver& d, DriverNote& note) { return d.unload(note); });
}

NvAPI_Status simUnloadWithArgument(NvU32 argument) {
    return simulation().call(
        "UnloadWithArgument", "arg=" + std::to_string(argument), std::nullopt,
        [&](SimDriver& d, DriverNote& note) { return d.unload(note, argument); });
}

/// The cookie a caller gets from the before-call hook must come back to the after-call
/// hook unchanged; the log shows both, so a test can pair them.
void simBeforeCall(NvU32 id, void** cookie) {
    Simulation& sim = simulation();
    const uintptr_t value = sim.nextCookie();
    if (cookie != nullptr) {
        *cookie = reinterpret_cast<void*>(value);
    }
    sim.note("hook.before id=" + hex8(id) + " cookie=" + std::to_string(value) +
             (cookie == nullptr ? " null" : ""));
}

void simAfterCall(NvU32 id, void* cookie, NvAPI_Status status) {
    simulation().note("hook.after id=" + hex8(id) +
                      " cookie=" + std::to_string(reinterpret_cast<uintptr_t>(cookie)) +
                      " status=" + std::to_string(status));
}

template <typename Function>
void* entry(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(NvU32 id) {
    simulation();  // read the configuration before anything can be called
    switch (id) {
        case nvapiid::kInitialize:
            return entry(&simInitialize);
        case nvapiid::kCreateSession:
            return entry(&simCreateSession);
        case nvapiid::kLoadSettings:
            return entry(&simLoadSettings);
        case nvapiid::kGetBaseProfile:
            return entry(&simGetBaseProfile);
        case nvapiid::kGetSetting:
            return entry(&simGetSetting);
        case nvapiid::kSetSetting:
            return entry(&simSetSetting);
        case nvapiid::kDeleteProfileSetting:
            return entry(&simDeleteProfileSetting);
        case nvapiid::kSaveSettings:
            return entry(&simSaveSettings);
        case nvapiid::kDestroySession:
            return entry(&simDestroySession);
        case nvapiid::kUnload:
            return entry(&simUnload);
        case nvapiid::kUnloadWithArgument:
            return kSimVariant.unloadWithArgument ? entry(&simUnloadWithArgument) : nullptr;
        case nvapiid::kBeforeCallHook:
            return kSimVariant.beforeCallHook ? entry(&simBeforeCall) : nullptr;
        case nvapiid::kAfterCallHook:
            return kSimVariant.afterCallHook ? entry(&simAfterCall) : nullptr;
        default:
            return nullptr;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // A null `reserved` on detach means FreeLibrary rather than process exit: record it,
    // so a test can see that the caller let go of the library.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr && gSimulation != nullptr) {
        gSimulation->note("sim.freed");
    }
    return TRUE;
}
