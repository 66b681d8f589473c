// A test tool of the end-to-end tests, never shipped: drives a simulated ADLX runtime call by
// call as a faulty caller would, so the runtime's refusals can be tested apart from
// preset-amd, which never misuses it. Usage:
//   adlx-probe <library path> "<command>" ...
// Commands, one argument each; NAME keeps the object a call writes for later commands:
//   init | terminate | gpus NAME | services NAME | empty L | size L | at L INDEX NAME |
//   id G [null] | query S 1|3 NAME | get S rsr|afmf NAME | get S SETTING G NAME |
//   supported X [null] | enabled X [null] | mode X [null] | setenabled X V | setmode X V |
//   release X
// SETTING is chill, boost (switches), vsync-mode (a mode) or fsr (on the services of
// "query S 3"). In place of an object, "null" passes a null pointer and "bogus" a pointer
// the runtime never handed out (one that faults when followed); as NAME or as a last word,
// "null" passes a null out pointer. Calls on an object after its last Release go through
// the pointer as the caller kept it. Prints one line per command,
// "<command> -> <result> [value]"; exit code 0 unless the library or a command could not be
// used.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "contracts/adlx_interface.h"
#include "windows/function_cast.h"

namespace {

/// An address no runtime hands out; reading behind it faults, so a runtime that follows an
/// argument before it checks it crashes instead of passing.
constexpr uintptr_t kBogus = 0x10;

struct Held {
    void* pointer = nullptr;           // as the call wrote it, of the interface it writes
    IADLXInterface* object = nullptr;  // the same object, to release it
};

ADLXInitialize2_Fn gInitialize = nullptr;
ADLXTerminate_Fn gTerminate = nullptr;
IADLXSystem* gSystem = nullptr;
std::map<std::string, Held> gHeld;

std::vector<std::string> words(const wchar_t* text) {
    std::vector<std::string> out(1);
    for (const wchar_t* c = text; *c != 0; ++c) {
        if (*c != L' ') {
            out.back() += static_cast<char>(*c);
        } else if (!out.back().empty()) {
            out.emplace_back();
        }
    }
    if (out.back().empty()) {
        out.pop_back();
    }
    return out;
}

/// The object kept as `name`, "null" or "bogus", as the interface `T`.
template <typename T>
T* object(const std::string& name) {
    if (name == "null") {
        return nullptr;
    }
    if (name == "bogus") {
        return reinterpret_cast<T*>(kBogus);
    }
    const auto found = gHeld.find(name);
    if (found == gHeld.end()) {
        std::fprintf(stderr, "no object %s\n", name.c_str());
        std::exit(5);
    }
    return static_cast<T*>(found->second.pointer);
}

/// Runs `call` with the out slot for `name` (null for "null") and keeps what it wrote.
template <typename T, typename Call>
ADLX_RESULT into(const std::string& name, Call call) {
    T* written = nullptr;
    const ADLX_RESULT result = call(name == "null" ? nullptr : &written);
    if (name != "null") {
        gHeld[name] = Held{written, written};
    }
    return result;
}

/// A per-GPU getter of `services`; every one the table uses takes (GPU, out setting).
template <typename Setting, typename Services>
ADLX_RESULT perGpu(ADLX_RESULT (Services::*getter)(IADLXGPU*, Setting**),
                   const std::vector<std::string>& w) {
    return into<Setting>(w[4], [&](Setting** out) {
        return (object<Services>(w[1])->*getter)(object<IADLXGPU>(w[3]), out);
    });
}

ADLX_RESULT get(const std::vector<std::string>& w) {
    using Services = IADLX3DSettingsServices;
    const std::string& setting = w[2];
    if (setting == "rsr") {
        return into<IADLX3DSwitchSetting>(w[3], [&](IADLX3DSwitchSetting** out) {
            return object<Services>(w[1])->GetRadeonSuperResolution(out);
        });
    }
    if (setting == "afmf") {
        return into<IADLX3DSwitchSetting>(w[3], [&](IADLX3DSwitchSetting** out) {
            return object<IADLX3DSettingsServices1>(w[1])->GetAMDFluidMotionFrames(out);
        });
    }
    if (setting == "chill") {
        return perGpu(&Services::GetChill, w);
    }
    if (setting == "boost") {
        return perGpu(&Services::GetBoost, w);
    }
    if (setting == "vsync-mode") {
        return perGpu(&Services::GetWaitForVerticalRefresh, w);
    }
    return perGpu(&IADLX3DSettingsServices3::GetFidelityFXSuperResolution, w);
}

/// A read into a value of type `V`, or into a null pointer when the last word is "null".
template <typename V, typename Read>
ADLX_RESULT read(const std::vector<std::string>& w, std::string& shown, Read call) {
    V value = 0;
    const ADLX_RESULT result = call(w.back() == "null" ? nullptr : &value);
    if (adlxSucceeded(result)) {
        shown = " " + std::to_string(value);
    }
    return result;
}

bool run(const std::vector<std::string>& w) {
    const std::string& c = w[0];
    const auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string("null"); };
    std::string shown;
    int64_t result = 0;
    if (c == "init") {
        IADLMapping* mapping = nullptr;
        result = gInitialize(kAdlxFullVersion,
                             arg(1) == "null" && w.size() > 1 ? nullptr : &gSystem, &mapping);
    } else if (c == "terminate") {
        result = gTerminate();
    } else if (c == "gpus") {
        result =
            into<IADLXGPUList>(arg(1), [](IADLXGPUList** out) { return gSystem->GetGPUs(out); });
    } else if (c == "services") {
        result = into<IADLX3DSettingsServices>(arg(1), [](IADLX3DSettingsServices** out) {
            return gSystem->Get3DSettingsServices(out);
        });
    } else if (c == "empty") {
        result = object<IADLXGPUList>(arg(1))->Empty();
    } else if (c == "size") {
        result = object<IADLXGPUList>(arg(1))->Size();
    } else if (c == "at") {
        result = into<IADLXGPU>(arg(3), [&](IADLXGPU** out) {
            return object<IADLXGPUList>(arg(1))->At(std::strtoul(arg(2).c_str(), nullptr, 10), out);
        });
    } else if (c == "id") {
        result = read<int32_t>(w, shown,
                               [&](int32_t* id) { return object<IADLXGPU>(arg(1))->UniqueId(id); });
    } else if (c == "query") {
        const wchar_t* id = arg(2) == "1" ? kIdSettingsServices1 : kIdSettingsServices3;
        result = into<IADLXInterface>(arg(3), [&](IADLXInterface** out) {
            return object<IADLX3DSettingsServices>(arg(1))->QueryInterface(
                id, reinterpret_cast<void**>(out));
        });
    } else if (c == "get") {
        std::vector<std::string> padded = w;  // a missing last word passes a null out pointer
        padded.resize(5, "null");
        result = get(padded);
    } else if (c == "supported") {
        result = read<adlx_bool>(w, shown, [&](adlx_bool* out) {
            return object<IADLX3DSwitchSetting>(arg(1))->IsSupported(out);
        });
    } else if (c == "enabled") {
        result = read<adlx_bool>(w, shown, [&](adlx_bool* out) {
            return object<IADLX3DSwitchSetting>(arg(1))->IsEnabled(out);
        });
    } else if (c == "mode") {
        result = read<int32_t>(w, shown, [&](int32_t* out) {
            return object<IADLX3DModeSetting>(arg(1))->GetMode(out);
        });
    } else if (c == "setenabled") {
        result = object<IADLX3DSwitchSetting>(arg(1))->SetEnabled(
            static_cast<adlx_bool>(std::atoi(arg(2).c_str())));
    } else if (c == "setmode") {
        result = object<IADLX3DModeSetting>(arg(1))->SetMode(std::atoi(arg(2).c_str()));
    } else if (c == "release") {
        object<IADLXInterface>(arg(1));  // refuses a name it does not keep
        result = gHeld[arg(1)].object->Release();
    } else {
        std::fprintf(stderr, "unknown command %s\n", c.c_str());
        return false;
    }
    std::printf("%s -> %s%s\n", c.c_str(), std::to_string(result).c_str(), shown.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HMODULE library = argc >= 2 ? LoadLibraryW(argv[1]) : nullptr;
    if (library != nullptr) {
        gInitialize =
            functionAs<ADLXInitialize2_Fn>(GetProcAddress(library, adlxexport::kInitialize2));
        gTerminate = functionAs<ADLXTerminate_Fn>(GetProcAddress(library, adlxexport::kTerminate));
    }
    if (gInitialize == nullptr || gTerminate == nullptr) {
        std::fprintf(stderr,
                     "usage: adlx-probe <runtime with %s and %s> <command>... (error %lu)\n",
                     adlxexport::kInitialize2, adlxexport::kTerminate, GetLastError());
        return 2;
    }
    // The runtime stays loaded to the end: a released object is still called through it.
    bool ok = true;
    for (int i = 2; ok && i < argc; ++i) {
        const std::vector<std::string> command = words(argv[i]);
        ok = !command.empty() && run(command);
    }
    return ok ? 0 : 5;
}
