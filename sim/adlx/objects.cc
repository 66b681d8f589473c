#include "sim/adlx/objects.h"

#include <cwchar>

namespace {

template <typename Interface>
class WorldObject : public Interface, public AdlxObject {
  public:
    WorldObject(AdlxWorld& world, const std::string& name)
        : AdlxObject(name, static_cast<Interface*>(this)), world_(world) {
        world_.made(this);
    }
    int32_t Release() override { return world_.release(*this); }
    ADLX_RESULT QueryInterface(const wchar_t*, void** out) override {
        if (const std::optional<ADLX_RESULT> refused = world_.refuse(this, "QueryInterface", out)) {
            return *refused;
        }
        world_.note(AdlxCall("QueryInterface", label()).returned(ADLX_NOT_SUPPORTED));
        return ADLX_NOT_SUPPORTED;
    }
    std::string label() const { return world_.label(*this); }

  protected:
    AdlxWorld& world_;
};

/// Makes an object of `Object` for a call that writes one, and tells its label.
template <typename Object, typename Out, typename... Args>
std::string give(Out** out, AdlxWorld& world, Args... args) {
    auto* object = new Object(world, args...);
    *out = object;
    return object->label();
}

class Gpu : public WorldObject<IADLXGPU> {
  public:
    Gpu(AdlxWorld& world, uint32_t index)
        : WorldObject(world, "gpu" + std::to_string(index)), index_(index) {}
    ADLX_RESULT UniqueId(int32_t* id) override {
        if (const std::optional<ADLX_RESULT> refused = world_.refuse(this, "UniqueId", id)) {
            return *refused;
        }
        const CallOutcome o = world_.outcome("UniqueId", "gpu" + std::to_string(index_));
        int32_t value = 0;
        const bool writes = o.writesOut && world_.gpuId(index_, value);
        if (writes) {
            *id = value;
        }
        world_.note(AdlxCall("UniqueId", label())
                        .returned(o.result)
                        .wrote(writes ? std::to_string(value) : "(none)"));
        return o.result;
    }
    std::optional<uint32_t> gpuIndex() const override { return index_; }

  private:
    uint32_t index_;
};

/// The part both setting shapes share: the ref, IsSupported, and reading and writing.
template <typename Interface>
class Setting : public WorldObject<Interface> {
  public:
    Setting(AdlxWorld& world, const std::string& ref) : WorldObject<Interface>(world, ref) {}
    ADLX_RESULT IsSupported(adlx_bool* supported) override {
        return read("IsSupported", supported, this->world_.supported(this->name()));
    }

  protected:
    /// Writes the setting's value to `out`, or `given` instead (the flag IsSupported gives).
    template <typename Value>
    ADLX_RESULT read(const char* call, Value* out, std::optional<int32_t> given = std::nullopt) {
        if (const std::optional<ADLX_RESULT> refused = this->world_.refuse(this, call, out)) {
            return *refused;
        }
        const CallOutcome o = this->world_.outcome(call, this->name());
        const int32_t value = given ? *given : this->world_.value(this->name());
        if (o.writesOut) {
            *out = static_cast<Value>(value);
        }
        this->world_.note(AdlxCall(call, this->label())
                              .returned(o.result)
                              .wrote(o.writesOut ? std::to_string(value) : ""));
        return o.result;
    }
    ADLX_RESULT write(const char* call, int32_t value) {
        if (this->world_.refuseReleased(*this, call)) {
            return ADLX_FAIL;
        }
        this->world_.beforeSet();
        const CallOutcome o = this->world_.outcome(call, this->name());
        if (o.writesOut) {
            this->world_.setValue(this->name(), value);
        }
        this->world_.note(
            AdlxCall(call, this->label()).given(std::to_string(value)).returned(o.result));
        return o.result;
    }
};

class Switch : public Setting<IADLX3DSwitchSetting> {
  public:
    using Setting::Setting;
    ADLX_RESULT IsEnabled(adlx_bool* enabled) override { return read("IsEnabled", enabled); }
    ADLX_RESULT SetEnabled(adlx_bool enable) override { return write("SetEnabled", enable); }
};

class Mode : public Setting<IADLX3DModeSetting> {
  public:
    using Setting::Setting;
    ADLX_RESULT GetMode(int32_t* mode) override { return read("GetMode", mode); }
    ADLX_RESULT SetMode(int32_t mode) override { return write("SetMode", mode); }
};

/// One getter call on `services`: `gpu` given for a per-GPU setting.
template <typename Object, typename Out>
ADLX_RESULT getSetting(AdlxObject& services, AdlxWorld& world, const char* method, const char* name,
                       Out** out, std::optional<IADLXGPU*> gpu = std::nullopt) {
    if (const std::optional<ADLX_RESULT> refused = world.refuse(&services, method, out, gpu)) {
        return *refused;
    }
    const std::string ref =
        gpu ? world.gpuPrefix() + std::to_string(*world.issued(*gpu)->gpuIndex()) + "." + name
            : std::string(name);
    CallOutcome o = world.outcome("Get", ref);
    if (adlxSucceeded(o.result) && o.writesOut && !world.exists(ref)) {
        o = CallOutcome{ADLX_NOT_SUPPORTED, false};
    }
    const std::string made = o.writesOut ? give<Object>(out, world, ref) : "";
    world.note(AdlxCall("Get", ref).returned(o.result).wrote(made).through(method));
    return o.result;
}

#define WORLD_GETTER(Method, Object, Out, name)                            \
    ADLX_RESULT Method(IADLXGPU* gpu, Out** out) override {                \
        return getSetting<Object>(*this, world_, #Method, name, out, gpu); \
    }

class Services1 : public WorldObject<IADLX3DSettingsServices1> {
  public:
    explicit Services1(AdlxWorld& world) : WorldObject(world, "services1") {}
    ADLX_RESULT GetAMDFluidMotionFrames(IADLX3DSwitchSetting** out) override {
        return getSetting<Switch>(*this, world_, "GetAMDFluidMotionFrames", "afmf", out);
    }
};

class Services3 : public WorldObject<IADLX3DSettingsServices3> {
  public:
    explicit Services3(AdlxWorld& world) : WorldObject(world, "services3") {}
    WORLD_GETTER(GetFidelityFXSuperResolution, Switch, IADLX3DSwitchSetting, "fsr")
    WORLD_GETTER(GetFrameGeneration, Switch, IADLX3DSwitchSetting, "frame-generation")
};

class Services : public WorldObject<IADLX3DSettingsServices> {
  public:
    explicit Services(AdlxWorld& world) : WorldObject(world, "services") {}
    ADLX_RESULT QueryInterface(const wchar_t* id, void** out) override {
        if (const std::optional<ADLX_RESULT> refused = world_.refuse(this, "QueryInterface", out)) {
            return *refused;
        }
        const bool one = id != nullptr && std::wcscmp(id, kIdSettingsServices1) == 0;
        const bool three = id != nullptr && std::wcscmp(id, kIdSettingsServices3) == 0;
        const std::string which = one ? "1" : three ? "3" : "?";
        CallOutcome o = world_.outcome("QueryInterface", which);
        if (!world_.offers(which) && o.result == ADLX_OK) {
            o = CallOutcome{ADLX_NOT_SUPPORTED, false};
        }
        std::string made;
        if (o.writesOut && one) {
            made = give<Services1>(reinterpret_cast<IADLX3DSettingsServices1**>(out), world_);
        } else if (o.writesOut && three) {
            made = give<Services3>(reinterpret_cast<IADLX3DSettingsServices3**>(out), world_);
        }
        world_.note(AdlxCall("QueryInterface", label())
                        .given("IADLX3DSettingsServices" + which)
                        .returned(o.result)
                        .wrote(made));
        return o.result;
    }
    ADLX_RESULT GetRadeonSuperResolution(IADLX3DSwitchSetting** out) override {
        return getSetting<Switch>(*this, world_, "GetRadeonSuperResolution", "rsr", out);
    }
    WORLD_GETTER(GetChill, Switch, IADLX3DSwitchSetting, "chill")
    WORLD_GETTER(GetBoost, Switch, IADLX3DSwitchSetting, "boost")
    WORLD_GETTER(GetFrameRateTargetControl, Switch, IADLX3DSwitchSetting, "frtc")
    WORLD_GETTER(GetImageSharpening, Switch, IADLX3DSwitchSetting, "sharpening")
    WORLD_GETTER(GetMorphologicalAntiAliasing, Switch, IADLX3DSwitchSetting, "mlaa")
    WORLD_GETTER(GetAntiAliasing, Mode, IADLX3DModeSetting, "aa-mode")
    WORLD_GETTER(GetAnisotropicFiltering, Switch, IADLX3DSwitchSetting, "anisotropic")
    WORLD_GETTER(GetTessellation, Mode, IADLX3DModeSetting, "tessellation-mode")
    WORLD_GETTER(GetEnhancedSync, Switch, IADLX3DSwitchSetting, "enhanced-sync")
    WORLD_GETTER(GetWaitForVerticalRefresh, Mode, IADLX3DModeSetting, "vsync-mode")
};

#undef WORLD_GETTER

class GpuList : public WorldObject<IADLXGPUList> {
  public:
    explicit GpuList(AdlxWorld& world) : WorldObject(world, world.listName()) {}
    // A released list has nothing to give: it answers empty, with no GPU in it.
    adlx_bool Empty() override {
        if (world_.refuseReleased(*this, "Empty")) {
            return 1;
        }
        const adlx_bool empty = world_.gpuCount() == 0 ? 1 : 0;
        world_.note(AdlxCall("Empty", label()).returned(empty));
        return empty;
    }
    uint32_t Size() override {
        if (world_.refuseReleased(*this, "Size")) {
            return 0;
        }
        const uint32_t size = world_.gpuCount();
        world_.note(AdlxCall("Size", label()).returned(size));
        return size;
    }
    ADLX_RESULT At(uint32_t index, IADLXGPU** gpu) override {
        if (const std::optional<ADLX_RESULT> refused = world_.refuse(this, "At", gpu)) {
            return *refused;
        }
        CallOutcome o = world_.outcome("At", std::to_string(index));
        const bool inList = index < world_.gpuCount();
        if (!inList && adlxSucceeded(o.result)) {
            o = CallOutcome{ADLX_INVALID_ARGS, false};
        }
        const std::string made = o.writesOut && inList ? give<Gpu>(gpu, world_, index) : "";
        world_.note(
            AdlxCall("At", label()).given(std::to_string(index)).returned(o.result).wrote(made));
        return o.result;
    }
};

class System final : public IADLXSystem {
  public:
    explicit System(AdlxWorld& world) : world_(world) {}
    ADLX_RESULT GetGPUs(IADLXGPUList** gpus) override {
        if (const std::optional<ADLX_RESULT> refused = world_.refuse(nullptr, "GetGPUs", gpus)) {
            return *refused;
        }
        const CallOutcome o = world_.outcome("GetGPUs", "");
        const std::string made = o.writesOut ? give<GpuList>(gpus, world_) : "";
        world_.note(AdlxCall("GetGPUs").returned(o.result).wrote(made));
        return o.result;
    }
    ADLX_RESULT Get3DSettingsServices(IADLX3DSettingsServices** services) override {
        if (const std::optional<ADLX_RESULT> refused =
                world_.refuse(nullptr, "Get3DSettingsServices", services)) {
            return *refused;
        }
        const CallOutcome o = world_.outcome("Get3DSettingsServices", "");
        const std::string made = o.writesOut ? give<Services>(services, world_) : "";
        world_.note(AdlxCall("Get3DSettingsServices").returned(o.result).wrote(made));
        return o.result;
    }

  private:
    AdlxWorld& world_;
};

}  // namespace

AdlxWorld::AdlxWorld(std::string gpuPrefix, std::string listName, bool numbered)
    : gpuPrefix_(std::move(gpuPrefix)),
      listName_(std::move(listName)),
      numbered_(numbered),
      system_(nullptr, [](IADLXSystem* system) { delete static_cast<System*>(system); }) {}

AdlxWorld::~AdlxWorld() = default;

IADLXSystem* AdlxWorld::system() {
    if (!system_) {
        system_.reset(new System(*this));
    }
    return system_.get();
}

void AdlxWorld::made(AdlxObject* object) {
    objects_.emplace_back(object);
    object->serial = static_cast<uint32_t>(objects_.size());
}

int32_t AdlxWorld::release(AdlxObject& object) {
    if (refuseReleased(object, "Release")) {
        return 0;
    }
    --object.references;
    note(AdlxCall("Release", label(object)).returned(object.references));
    return object.references;
}

std::string AdlxWorld::label(const AdlxObject& object) const {
    return numbered_ ? object.name() + "#" + std::to_string(object.serial) : object.name();
}

std::vector<std::string> AdlxWorld::liveLabels() const {
    std::vector<std::string> live;
    for (const auto& object : objects_) {
        if (object->references > 0) {
            live.push_back(label(*object));
        }
    }
    return live;
}
