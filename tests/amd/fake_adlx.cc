#include "tests/amd/fake_adlx.h"

#include <cwchar>

namespace {

const char* const kModeNames[] = {"aa-mode", "tessellation-mode", "vsync-mode"};

/// Reference counting shared by every fake object. Objects are never freed before the
/// world ends, so a release too many is counted instead of crashing.
template <typename Base>
class FakeObject : public Base {
  public:
    FakeObject(FakeAdlx& world, std::string name) : world_(world), name_(std::move(name)) {
        world_.born();
    }
    virtual ~FakeObject() = default;
    int32_t Release() override {
        world_.record("Release " + name_);
        if (refs_ == 0) {
            world_.overReleased();
            return 0;
        }
        if (--refs_ == 0) {
            world_.died();
        }
        return refs_;
    }
    ADLX_RESULT QueryInterface(const wchar_t*, void**) override { return ADLX_NOT_SUPPORTED; }
    const std::string& name() const { return name_; }

  protected:
    FakeAdlx& world_;
    std::string name_;
    int32_t refs_ = 1;
};

/// Every object ever handed out, kept until the world ends.
struct Graveyard {
    std::vector<std::unique_ptr<void, void (*)(void*)>> objects;
    template <typename T>
    T* keep(T* object) {
        objects.emplace_back(object, [](void* p) { delete static_cast<T*>(p); });
        return object;
    }
};

Graveyard& graveyard() {
    static Graveyard instance;
    return instance;
}

class FakeGpu : public FakeObject<IADLXGPU> {
  public:
    FakeGpu(FakeAdlx& world, uint32_t index)
        : FakeObject(world, "gpu" + std::to_string(index)), index_(index) {}
    ADLX_RESULT UniqueId(int32_t* id) override {
        world_.record(name_ + ".UniqueId");
        const FakeGpuConfig& config = world_.gpus[index_];
        if (config.writesId) {
            *id = config.id;
        }
        return config.uniqueIdResult;
    }
    uint32_t index() const { return index_; }

  private:
    uint32_t index_;
};

template <typename Base>
class FakeSettingObject : public FakeObject<Base> {
  public:
    FakeSettingObject(FakeAdlx& world, const std::string& name) : FakeObject<Base>(world, name) {}
    ADLX_RESULT IsSupported(adlx_bool* supported) override {
        this->world_.record(this->name_ + ".IsSupported");
        FakeSetting& s = this->world_.setting(this->name_);
        if (adlxSucceeded(s.supportedResult)) {
            *supported = s.supported;
        }
        return s.supportedResult;
    }

  protected:
    ADLX_RESULT read(int32_t& value, const char* call) {
        this->world_.record(this->name_ + "." + call);
        FakeSetting& s = this->world_.setting(this->name_);
        if (adlxSucceeded(s.readResult)) {
            value = s.value;
        }
        return s.readResult;
    }
    ADLX_RESULT write(int32_t value, const char* call) {
        this->world_.record(this->name_ + "." + call + "(" + std::to_string(value) + ")");
        FakeSetting& s = this->world_.setting(this->name_);
        if (adlxSucceeded(s.writeResult)) {
            if (this->world_.beforeWrite) {
                this->world_.beforeWrite(this->name_);
            }
            s.value = value;
        }
        return s.writeResult;
    }
};

class FakeSwitch : public FakeSettingObject<IADLX3DSwitchSetting> {
  public:
    using FakeSettingObject::FakeSettingObject;
    ADLX_RESULT IsEnabled(adlx_bool* enabled) override {
        int32_t v = 0;
        const ADLX_RESULT r = read(v, "IsEnabled");
        if (adlxSucceeded(r)) {
            *enabled = static_cast<adlx_bool>(v);
        }
        return r;
    }
    ADLX_RESULT SetEnabled(adlx_bool enable) override { return write(enable, "SetEnabled"); }
};

class FakeMode : public FakeSettingObject<IADLX3DModeSetting> {
  public:
    using FakeSettingObject::FakeSettingObject;
    ADLX_RESULT GetMode(int32_t* mode) override { return read(*mode, "GetMode"); }
    ADLX_RESULT SetMode(int32_t mode) override { return write(mode, "SetMode"); }
};

std::string settingName(IADLXGPU* gpu, const char* name) {
    if (gpu == nullptr) {
        return name;
    }
    return "g" + std::to_string(static_cast<FakeGpu*>(gpu)->index()) + "." + name;
}

/// One getter call: logged under the getter's name, answering with the setting's config.
template <typename Object, typename Out>
ADLX_RESULT getSetting(FakeAdlx& world, const char* getter, IADLXGPU* gpu, const char* name,
                       Out** out) {
    const std::string full = settingName(gpu, name);
    world.record(std::string(getter) + " " + full);
    FakeSetting& s = world.setting(full);
    const ADLX_RESULT result = s.exists ? s.getterResult : ADLX_NOT_SUPPORTED;
    if (adlxSucceeded(result) || s.writeObjectOnFailure) {
        *out = graveyard().keep(new Object(world, full));
    }
    return result;
}

class FakeServices1 : public FakeObject<IADLX3DSettingsServices1> {
  public:
    explicit FakeServices1(FakeAdlx& world) : FakeObject(world, "services1") {}
    ADLX_RESULT GetAMDFluidMotionFrames(IADLX3DSwitchSetting** out) override {
        return getSetting<FakeSwitch>(world_, "GetAMDFluidMotionFrames", nullptr, "afmf", out);
    }
};

class FakeServices3 : public FakeObject<IADLX3DSettingsServices3> {
  public:
    explicit FakeServices3(FakeAdlx& world) : FakeObject(world, "services3") {}
    ADLX_RESULT GetFidelityFXSuperResolution(IADLXGPU* gpu, IADLX3DSwitchSetting** out) override {
        return getSetting<FakeSwitch>(world_, "GetFidelityFXSuperResolution", gpu, "fsr", out);
    }
    ADLX_RESULT GetFrameGeneration(IADLXGPU* gpu, IADLX3DSwitchSetting** out) override {
        return getSetting<FakeSwitch>(world_, "GetFrameGeneration", gpu, "frame-generation", out);
    }
};

class FakeServices : public FakeObject<IADLX3DSettingsServices> {
  public:
    explicit FakeServices(FakeAdlx& world) : FakeObject(world, "services") {}
    ADLX_RESULT QueryInterface(const wchar_t* id, void** out) override {
        const bool one = std::wcscmp(id, kIdSettingsServices1) == 0;
        const bool three = std::wcscmp(id, kIdSettingsServices3) == 0;
        world_.record(std::string("QueryInterface ") + (one ? "1" : three ? "3" : "?"));
        const ADLX_RESULT result = one     ? world_.services1Result
                                   : three ? world_.services3Result
                                           : ADLX_NOT_SUPPORTED;
        if (result != ADLX_OK && !world_.queryGivesObjectOnFailure) {
            return result;
        }
        if (one) {
            *out =
                static_cast<IADLX3DSettingsServices1*>(graveyard().keep(new FakeServices1(world_)));
        } else if (three) {
            *out =
                static_cast<IADLX3DSettingsServices3*>(graveyard().keep(new FakeServices3(world_)));
        }
        return result;
    }
    ADLX_RESULT GetRadeonSuperResolution(IADLX3DSwitchSetting** out) override {
        return getSetting<FakeSwitch>(world_, "GetRadeonSuperResolution", nullptr, "rsr", out);
    }
#define FAKE_GETTER(Method, Object, Out, name)                      \
    ADLX_RESULT Method(IADLXGPU* gpu, Out** out) override {         \
        return getSetting<Object>(world_, #Method, gpu, name, out); \
    }
    FAKE_GETTER(GetChill, FakeSwitch, IADLX3DSwitchSetting, "chill")
    FAKE_GETTER(GetBoost, FakeSwitch, IADLX3DSwitchSetting, "boost")
    FAKE_GETTER(GetFrameRateTargetControl, FakeSwitch, IADLX3DSwitchSetting, "frtc")
    FAKE_GETTER(GetImageSharpening, FakeSwitch, IADLX3DSwitchSetting, "sharpening")
    FAKE_GETTER(GetMorphologicalAntiAliasing, FakeSwitch, IADLX3DSwitchSetting, "mlaa")
    FAKE_GETTER(GetAntiAliasing, FakeMode, IADLX3DModeSetting, "aa-mode")
    FAKE_GETTER(GetAnisotropicFiltering, FakeSwitch, IADLX3DSwitchSetting, "anisotropic")
    FAKE_GETTER(GetTessellation, FakeMode, IADLX3DModeSetting, "tessellation-mode")
    FAKE_GETTER(GetEnhancedSync, FakeSwitch, IADLX3DSwitchSetting, "enhanced-sync")
    FAKE_GETTER(GetWaitForVerticalRefresh, FakeMode, IADLX3DModeSetting, "vsync-mode")
#undef FAKE_GETTER
};

class FakeGpuList : public FakeObject<IADLXGPUList> {
  public:
    explicit FakeGpuList(FakeAdlx& world) : FakeObject(world, "gpus") {}
    adlx_bool Empty() override {
        world_.record("Empty");
        return world_.gpus.empty() ? 1 : 0;
    }
    uint32_t Size() override {
        world_.record("Size");
        return static_cast<uint32_t>(world_.gpus.size());
    }
    ADLX_RESULT At(uint32_t index, IADLXGPU** gpu) override {
        world_.record("At " + std::to_string(index));
        if (index >= world_.gpus.size()) {
            return ADLX_INVALID_ARGS;
        }
        const FakeGpuConfig& config = world_.gpus[index];
        if (config.atGivesObject) {
            *gpu = graveyard().keep(new FakeGpu(world_, index));
        }
        return config.atResult;
    }
};

}  // namespace

class FakeAdlx::System : public IADLXSystem {
  public:
    explicit System(FakeAdlx& world) : world_(world) {}
    ADLX_RESULT GetGPUs(IADLXGPUList** out) override {
        world_.record("GetGPUs");
        if (world_.gpuListPresent) {
            *out = graveyard().keep(new FakeGpuList(world_));
        }
        return world_.getGpusResult;
    }
    ADLX_RESULT Get3DSettingsServices(IADLX3DSettingsServices** out) override {
        world_.record("Get3DSettingsServices");
        if (world_.servicesPresent) {
            *out = graveyard().keep(new FakeServices(world_));
        }
        return world_.servicesResult;
    }

  private:
    FakeAdlx& world_;
};

FakeAdlx::FakeAdlx() : system_(std::make_unique<System>(*this)) {}
FakeAdlx::~FakeAdlx() = default;

void FakeAdlx::withGpus(std::vector<int32_t> ids) {
    gpus.clear();
    for (int32_t id : ids) {
        FakeGpuConfig config;
        config.id = id;
        gpus.push_back(config);
    }
}

bool FakeAdlx::isMode(const std::string& name) const {
    for (const char* mode : kModeNames) {
        const std::string m(mode);
        if (name.size() >= m.size() && name.compare(name.size() - m.size(), m.size(), m) == 0) {
            return true;
        }
    }
    return false;
}

FakeSetting& FakeAdlx::setting(const std::string& name) {
    auto found = settings.find(name);
    if (found == settings.end()) {
        FakeSetting fresh;
        fresh.value = isMode(name) ? 3 : 1;
        found = settings.emplace(name, fresh).first;
    }
    return found->second;
}

ADLX_RESULT FakeAdlx::Initialize() {
    record("Initialize");
    initialised_ = adlxSucceeded(initializeResult);
    return initializeResult;
}

IADLXSystem* FakeAdlx::GetSystemServices() {
    record("GetSystemServices");
    return initialised_ && systemPresent ? system_.get() : nullptr;
}

ADLX_RESULT FakeAdlx::Terminate() {
    record("Terminate");
    liveAtTerminate = live_;
    initialised_ = false;
    return ADLX_OK;
}

int32_t fakeValue(FakeAdlx& adlx, const std::string& name) {
    return adlx.setting(name).value;
}
