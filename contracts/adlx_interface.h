// The ADLX objects and calls preset-amd relies on, and the runtime's exported entries.
//
// This binary layout is the project's own: no vendor header was used or copied. The tool
// and the simulated runtime (sim/adlx/) both compile against this one header, so the
// virtual-call layout is whatever this compiler makes of these declarations.
//
// Rules every object follows: an object handed out by a call belongs to the caller and is
// given back with Release exactly once; the system services belong to the runtime and are
// never released. Results are 32-bit codes; 0, 1 and 2 mean success.
#pragma once

#include <cstdint>

using ADLX_RESULT = int32_t;
using adlx_bool = uint8_t;  // 0 is false, anything else true

constexpr ADLX_RESULT ADLX_OK = 0;
constexpr ADLX_RESULT ADLX_ALREADY_ENABLED = 1;
constexpr ADLX_RESULT ADLX_ALREADY_INITIALIZED = 2;
constexpr ADLX_RESULT ADLX_FAIL = 3;
constexpr ADLX_RESULT ADLX_INVALID_ARGS = 4;
constexpr ADLX_RESULT ADLX_NOT_SUPPORTED = 5;

/// The name of a result this project declares; empty for any other.
constexpr const char* adlxResultName(ADLX_RESULT result) {
    switch (result) {
        case ADLX_OK:
            return "ADLX_OK";
        case ADLX_ALREADY_ENABLED:
            return "ADLX_ALREADY_ENABLED";
        case ADLX_ALREADY_INITIALIZED:
            return "ADLX_ALREADY_INITIALIZED";
        case ADLX_FAIL:
            return "ADLX_FAIL";
        case ADLX_INVALID_ARGS:
            return "ADLX_INVALID_ARGS";
        case ADLX_NOT_SUPPORTED:
            return "ADLX_NOT_SUPPORTED";
        default:
            return "";
    }
}

/// True for the three success codes; every other code is a failure.
constexpr bool adlxSucceeded(ADLX_RESULT result) {
    return result == ADLX_OK || result == ADLX_ALREADY_ENABLED ||
           result == ADLX_ALREADY_INITIALIZED;
}

/// The one failure code that means "not there" (an interface this driver lacks, a setting
/// this GPU does not have). Any other failure means the object exists but could not be
/// reached this time.
constexpr bool adlxAbsent(ADLX_RESULT result) {
    return result == ADLX_NOT_SUPPORTED;
}

/// The version this tool initialises: the 16-bit fields 1, 5, 0, 124, most significant first.
constexpr uint64_t kAdlxFullVersion = 0x000100050000007CULL;

/// Ids for QueryInterface on the 3D settings services.
constexpr const wchar_t* kIdSettingsServices1 = L"IADLX3DSettingsServices1";
constexpr const wchar_t* kIdSettingsServices3 = L"IADLX3DSettingsServices3";

/// Base of every object. The destructor is not part of the layout: objects end through
/// Release, never through delete on this side.
class IADLXInterface {
  public:
    /// Gives the caller's reference back; returns the references left.
    virtual int32_t Release() = 0;
    /// Asks for another face of this object by id. Succeeds only with ADLX_OK; the object
    /// written to `object` is the caller's and is released like any other.
    virtual ADLX_RESULT QueryInterface(const wchar_t* interfaceId, void** object) = 0;

  protected:
    ~IADLXInterface() = default;
};

class IADLXGPU : public IADLXInterface {
  public:
    /// The GPU's identifier. Writes nothing when the driver has none to give.
    virtual ADLX_RESULT UniqueId(int32_t* id) = 0;

  protected:
    ~IADLXGPU() = default;
};

class IADLXGPUList : public IADLXInterface {
  public:
    virtual adlx_bool Empty() = 0;
    virtual uint32_t Size() = 0;
    virtual ADLX_RESULT At(uint32_t index, IADLXGPU** gpu) = 0;

  protected:
    ~IADLXGPUList() = default;
};

/// A 3D setting that is on or off.
class IADLX3DSwitchSetting : public IADLXInterface {
  public:
    virtual ADLX_RESULT IsSupported(adlx_bool* supported) = 0;
    virtual ADLX_RESULT IsEnabled(adlx_bool* enabled) = 0;
    virtual ADLX_RESULT SetEnabled(adlx_bool enable) = 0;

  protected:
    ~IADLX3DSwitchSetting() = default;
};

/// A 3D setting that holds one of the driver's mode numbers.
class IADLX3DModeSetting : public IADLXInterface {
  public:
    virtual ADLX_RESULT IsSupported(adlx_bool* supported) = 0;
    virtual ADLX_RESULT GetMode(int32_t* mode) = 0;
    virtual ADLX_RESULT SetMode(int32_t mode) = 0;

  protected:
    ~IADLX3DModeSetting() = default;
};

class IADLX3DSettingsServices : public IADLXInterface {
  public:
    virtual ADLX_RESULT GetRadeonSuperResolution(IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetChill(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetBoost(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetFrameRateTargetControl(IADLXGPU* gpu,
                                                  IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetImageSharpening(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetMorphologicalAntiAliasing(IADLXGPU* gpu,
                                                     IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetAntiAliasing(IADLXGPU* gpu, IADLX3DModeSetting** setting) = 0;
    virtual ADLX_RESULT GetAnisotropicFiltering(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetTessellation(IADLXGPU* gpu, IADLX3DModeSetting** setting) = 0;
    virtual ADLX_RESULT GetEnhancedSync(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetWaitForVerticalRefresh(IADLXGPU* gpu, IADLX3DModeSetting** setting) = 0;

  protected:
    ~IADLX3DSettingsServices() = default;
};

/// Reached by QueryInterface(kIdSettingsServices1) on the 3D settings services.
class IADLX3DSettingsServices1 : public IADLXInterface {
  public:
    virtual ADLX_RESULT GetAMDFluidMotionFrames(IADLX3DSwitchSetting** setting) = 0;

  protected:
    ~IADLX3DSettingsServices1() = default;
};

/// Reached by QueryInterface(kIdSettingsServices3) on the 3D settings services.
class IADLX3DSettingsServices3 : public IADLXInterface {
  public:
    virtual ADLX_RESULT GetFidelityFXSuperResolution(IADLXGPU* gpu,
                                                     IADLX3DSwitchSetting** setting) = 0;
    virtual ADLX_RESULT GetFrameGeneration(IADLXGPU* gpu, IADLX3DSwitchSetting** setting) = 0;

  protected:
    ~IADLX3DSettingsServices3() = default;
};

/// The runtime's root object. Owned by the runtime: callers never release it.
class IADLXSystem {
  public:
    virtual ADLX_RESULT GetGPUs(IADLXGPUList** gpus) = 0;
    virtual ADLX_RESULT Get3DSettingsServices(IADLX3DSettingsServices** services) = 0;

  protected:
    ~IADLXSystem() = default;
};

/// Handed out by the newer initialise entries; this tool never uses it.
class IADLMapping {
  protected:
    ~IADLMapping() = default;
};

// The runtime library and its exports, by the names the library exports them under.
constexpr const wchar_t* kAdlxLibraryName = L"amdadlx64.dll";

using ADLXQueryFullVersion_Fn = ADLX_RESULT (*)(uint64_t* fullVersion);
using ADLXQueryVersion_Fn = ADLX_RESULT (*)(const char** version);
using ADLXInitializeWithCallerAdl_Fn = ADLX_RESULT (*)(uint64_t version, void* adlContext,
                                                       void* adlMainMemoryFree,
                                                       IADLXSystem** system,
                                                       IADLMapping** adlMapping);
using ADLXInitializeWithIncompatibleDriver_Fn = ADLX_RESULT (*)(uint64_t version,
                                                                IADLXSystem** system);
using ADLXInitialize_Fn = ADLX_RESULT (*)(uint64_t version, IADLXSystem** system);
using ADLXInitializeWithIncompatibleDriver2_Fn = ADLX_RESULT (*)(uint64_t version,
                                                                 IADLXSystem** system,
                                                                 IADLMapping** adlMapping);
using ADLXInitialize2_Fn = ADLX_RESULT (*)(uint64_t version, IADLXSystem** system,
                                           IADLMapping** adlMapping);
using ADLXTerminate_Fn = ADLX_RESULT (*)();

namespace adlxexport {
constexpr const char* kQueryFullVersion = "ADLXQueryFullVersion";
constexpr const char* kQueryVersion = "ADLXQueryVersion";
constexpr const char* kInitializeWithCallerAdl = "ADLXInitializeWithCallerAdl";
constexpr const char* kInitializeWithIncompatibleDriver = "ADLXInitializeWithIncompatibleDriver";
constexpr const char* kInitialize = "ADLXInitialize";
constexpr const char* kInitializeWithIncompatibleDriver2 = "ADLXInitializeWithIncompatibleDriver2";
constexpr const char* kInitialize2 = "ADLXInitialize2";
constexpr const char* kTerminate = "ADLXTerminate";
}  // namespace adlxexport
