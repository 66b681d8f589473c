#include "sim/adlx/objects.h"

#include <cwchar>
#include <string>

#include "sim/adlx/runtime.h"

namespace {

std::string resultText(ADLX_RESULT result) {
    return std::to_string(result);
}

/// Reference counting and the log for every object handed out. Objects are never freed:
/// a release too many is logged instead of touching freed memory.
template <typename Interface>
class SimObject : public Interface {
  public:
    explicit SimObject(const std::string& name) : serial_(SimRuntime::get().registerObject(name)) {}
    int32_t Release() override { return SimRuntime::get().release(serial_); }
    ADLX_RESULT QueryInterface(const wchar_t*, void**) override {
        SimRuntime::get().log("QueryInterface " + label() + " -> 5");
        return ADLX_NOT_SUPPORTED;
    }
    std::string label() const { return SimRuntime::get().objectName(serial_); }

  private:
    uint32_t serial_;
};

class SimGpu : public SimObject<IADLXGPU> {
  public:
    explicit SimGpu(uint32_t index) : SimObject("gpu" + std::to_string(index)), index_(index) {}
    ADLX_RESULT UniqueId(int32_t* id) override {
        SimRuntime& rt = SimRuntime::get();
        const CallOutcome o = rt.outcome("UniqueId", "gpu" + std::to_string(index_));
        int32_t value = 0;
        const bool has = rt.gpuId(index_, value);
        if (o.writesOut && has && id != nullptr) {
            *id = value;
        }
        rt.log("UniqueId " + label() + " -> " + resultText(o.result) + " " +
               (o.writesOut && has ? std::to_string(value) : "(none)"));
        return o.result;
    }
    uint32_t index() const { return index_; }

  private:
    uint32_t index_;
};

/// The part both setting shapes share: the ref, IsSupported, and the Set bookkeeping.
template <typename Interface>
class SimSetting : public SimObject<Interface> {
  public:
    explicit SimSetting(const std::string& ref) : SimObject<Interface>(ref), ref_(ref) {}
    ADLX_RESULT IsSupported(adlx_bool* supported) override {
        SimRuntime& rt = SimRuntime::get();
        const CallOutcome o = rt.outcome("IsSupported", ref_);
        const adlx_bool flag = rt.supported(ref_) ? 1 : 0;
        if (o.writesOut) {
            *supported = flag;
        }
        rt.log("IsSupported " + this->label() + " -> " + resultText(o.result) +
               (o.writesOut ? " " + std::to_string(flag) : ""));
        return o.result;
    }

  protected:
    ADLX_RESULT read(const char* call, int32_t& value, bool& wrote) {
        SimRuntime& rt = SimRuntime::get();
        const CallOutcome o = rt.outcome(call, ref_);
        wrote = o.writesOut;
        value = rt.value(ref_);
        rt.log(std::string(call) + " " + this->label() + " -> " + resultText(o.result) +
               (wrote ? " " + std::to_string(value) : ""));
        return o.result;
    }
    ADLX_RESULT write(const char* call, int32_t value) {
        SimRuntime& rt = SimRuntime::get();
        rt.logWatchedFile();
        const CallOutcome o = rt.outcome(call, ref_);
        if (o.writesOut) {
            rt.setValue(ref_, value);
        }
        rt.log(std::string(call) + " " + this->label() + " " + std::to_string(value) + " -> " +
               resultText(o.result));
        return o.result;
    }

    std::string ref_;
};

class SimSwitch : public SimSetting<IADLX3DSwitchSetting> {
  public:
    using SimSetting::SimSetting;
    ADLX_RESULT IsEnabled(adlx_bool* enabled) override {
        int32_t value = 0;
        bool wrote = false;
        const ADLX_RESULT result = read("IsEnabled", value, wrote);
        if (wrote) {
            *enabled = static_cast<adlx_bool>(value);
        }
        return result;
    }
    ADLX_RESULT SetEnabled(adlx_bool enable) override { return write("SetEnabled", enable); }
};

class SimMode : public SimSetting<IADLX3DModeSetting> {
  public:
    using SimSetting::SimSetting;
    ADLX_RESULT GetMode(int32_t* mode) override {
        int32_t value = 0;
        bool wrote = false;
        const ADLX_RESULT result = read("GetMode", value, wrote);
        if (wrote) {
            *mode = value;
        }
        return result;
    }
    ADLX_RESULT SetMode(int32_t mode) override { return write("SetMode", mode); }
};

/// One getter call: `gpu` null for the global settings.
template <typename Setting, typename Out>
ADLX_RESULT getSetting(IADLXGPU* gpu, const char* name, Out** out) {
    SimRuntime& rt = SimRuntime::get();
    const std::string ref =
        gpu == nullptr ? std::string(name)
                       : "gpu" + std::to_string(static_cast<SimGpu*>(gpu)->index()) + "." + name;
    CallOutcome o = rt.outcome("Get", ref);
    if (adlxSucceeded(o.result) && o.writesOut && !rt.exists(ref)) {
        o = CallOutcome{ADLX_NOT_SUPPORTED, false};
    }
    std::string made = "";
    if (o.writesOut && out != nullptr) {
        Setting* setting = new Setting(ref);
        *out = setting;
        made = " " + setting->label();
    }
    rt.log("Get " + ref + " -> " + resultText(o.result) + made);
    return o.result;
}

class SimServices1 : public SimObject<IADLX3DSettingsServices1> {
  public:
    SimServices1() : SimObject("services1") {}
    ADLX_RESULT GetAMDFluidMotionFrames(IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(nullptr, "afmf", out);
    }
};

class SimServices3 : public SimObject<IADLX3DSettingsServices3> {
  public:
    SimServices3() : SimObject("services3") {}
    ADLX_RESULT GetFidelityFXSuperResolution(IADLXGPU* gpu, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(gpu, "fsr", out);
    }
    ADLX_RESULT GetFrameGeneration(IADLXGPU* gpu, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(gpu, "frame-generation", out);
    }
};

class SimServices : public SimObject<IADLX3DSettingsServices> {
  public:
    SimServices() : SimObject("services") {}
    ADLX_RESULT QueryInterface(const wchar_t* id, void** out) override {
        SimRuntime& rt = SimRuntime::get();
        const bool one = id != nullptr && std::wcscmp(id, kIdSettingsServices1) == 0;
        const bool three = id != nullptr && std::wcscmp(id, kIdSettingsServices3) == 0;
        const std::string which = one ? "1" : three ? "3" : "?";
        CallOutcome o = rt.outcome("QueryInterface", which);
        const bool present = (one && rt.config().services1) || (three && rt.config().services3);
        if (!present && o.result == ADLX_OK) {
            o = CallOutcome{ADLX_NOT_SUPPORTED, false};
        }
        std::string made;
        if (o.writesOut && out != nullptr && (one || three)) {
            if (one) {
                auto* object = new SimServices1();
                *out = static_cast<IADLX3DSettingsServices1*>(object);
                made = " " + object->label();
            } else {
                auto* object = new SimServices3();
                *out = static_cast<IADLX3DSettingsServices3*>(object);
                made = " " + object->label();
            }
        }
        rt.log("QueryInterface " + label() + " IADLX3DSettingsServices" + which + " -> " +
               resultText(o.result) + made);
        return o.result;
    }
    ADLX_RESULT GetRadeonSuperResolution(IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(nullptr, "rsr", out);
    }
    ADLX_RESULT GetChill(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "chill", out);
    }
    ADLX_RESULT GetBoost(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "boost", out);
    }
    ADLX_RESULT GetFrameRateTargetControl(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "frtc", out);
    }
    ADLX_RESULT GetImageSharpening(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "sharpening", out);
    }
    ADLX_RESULT GetMorphologicalAntiAliasing(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "mlaa", out);
    }
    ADLX_RESULT GetAntiAliasing(IADLXGPU* g, IADLX3DModeSetting** out) override {
        return getSetting<SimMode>(g, "aa-mode", out);
    }
    ADLX_RESULT GetAnisotropicFiltering(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "anisotropic", out);
    }
    ADLX_RESULT GetTessellation(IADLXGPU* g, IADLX3DModeSetting** out) override {
        return getSetting<SimMode>(g, "tessellation-mode", out);
    }
    ADLX_RESULT GetEnhancedSync(IADLXGPU* g, IADLX3DSwitchSetting** out) override {
        return getSetting<SimSwitch>(g, "enhanced-sync", out);
    }
    ADLX_RESULT GetWaitForVerticalRefresh(IADLXGPU* g, IADLX3DModeSetting** out) override {
        return getSetting<SimMode>(g, "vsync-mode", out);
    }
};

class SimGpuList : public SimObject<IADLXGPUList> {
  public:
    SimGpuList() : SimObject("gpulist") {}
    adlx_bool Empty() override {
        const adlx_bool empty = SimRuntime::get().gpuCount() == 0 ? 1 : 0;
        SimRuntime::get().log("Empty " + label() + " -> " + std::to_string(empty));
        return empty;
    }
    uint32_t Size() override {
        const uint32_t size = SimRuntime::get().gpuCount();
        SimRuntime::get().log("Size " + label() + " -> " + std::to_string(size));
        return size;
    }
    ADLX_RESULT At(uint32_t index, IADLXGPU** gpu) override {
        SimRuntime& rt = SimRuntime::get();
        CallOutcome o = rt.outcome("At", std::to_string(index));
        if (index >= rt.gpuCount() && adlxSucceeded(o.result)) {
            o = CallOutcome{ADLX_INVALID_ARGS, false};
        }
        std::string made;
        if (o.writesOut && gpu != nullptr && index < rt.gpuCount()) {
            auto* object = new SimGpu(index);
            *gpu = object;
            made = " " + object->label();
        }
        rt.log("At " + label() + " " + std::to_string(index) + " -> " + resultText(o.result) +
               made);
        return o.result;
    }
};

class SimSystem : public IADLXSystem {
  public:
    ADLX_RESULT GetGPUs(IADLXGPUList** gpus) override {
        SimRuntime& rt = SimRuntime::get();
        const CallOutcome o = rt.outcome("GetGPUs", "");
        std::string made;
        if (o.writesOut && gpus != nullptr) {
            auto* object = new SimGpuList();
            *gpus = object;
            made = " " + object->label();
        }
        rt.log("GetGPUs -> " + resultText(o.result) + made);
        return o.result;
    }
    ADLX_RESULT Get3DSettingsServices(IADLX3DSettingsServices** services) override {
        SimRuntime& rt = SimRuntime::get();
        const CallOutcome o = rt.outcome("Get3DSettingsServices", "");
        std::string made;
        if (o.writesOut && services != nullptr) {
            auto* object = new SimServices();
            *services = object;
            made = " " + object->label();
        }
        rt.log("Get3DSettingsServices -> " + resultText(o.result) + made);
        return o.result;
    }
};

class SimMapping : public IADLMapping {};

}  // namespace

IADLXSystem* simSystem() {
    static SimSystem instance;
    return &instance;
}

IADLMapping* simMapping() {
    static SimMapping instance;
    return &instance;
}
