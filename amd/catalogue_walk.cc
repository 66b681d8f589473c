#include "amd/catalogue_walk.h"

#include <set>
#include <vector>

#include "amd/adlx_owner.h"

namespace {

/// The extended services, and which of them failed to come although the driver may have
/// them: the settings they hold are then unreachable, not absent.
struct WalkSources {
    SettingSources objects;
    bool services1Failed = false;
    bool services3Failed = false;
    ADLX_RESULT services1Result = ADLX_OK;
    ADLX_RESULT services3Result = ADLX_OK;

    bool failed(SourceKind source) const {
        return (source == SourceKind::services1 && services1Failed) ||
               (source == SourceKind::services3 && services3Failed);
    }
    ADLX_RESULT resultOf(SourceKind source) const {
        return source == SourceKind::services1 ? services1Result : services3Result;
    }
};

/// The setting objects a pass has handed out to a visitor that uses them until the pass is
/// over (or that must outlive objects obtained after them), released then in reverse order
/// of arrival.
class PassObjects {
  public:
    /// `always`: keep every object, whatever the visitor asks.
    explicit PassObjects(bool always = false) : always_(always) {}
    PassObjects(const PassObjects&) = delete;
    PassObjects& operator=(const PassObjects&) = delete;
    ~PassObjects() {
        while (!held_.empty()) {
            held_.pop_back();
        }
    }

    template <typename Owner>
    void keepIfAsked(const RowVisitor& visitor, Owner& owner) {
        if (always_ || visitor.keepsSettingsForPass()) {
            held_.emplace_back();  // if this cannot grow, `owner` still releases the object
            held_.back() = InterfaceOwner(owner.detach());
        }
    }

  private:
    bool always_;
    std::vector<InterfaceOwner> held_;
};

/// What a getter's result and object say: a usable object, nothing there, or a setting
/// that exists but did not come.
enum class Obtained { object, absent, unreachable };

Obtained obtained(ADLX_RESULT result, bool hasObject) {
    if (adlxSucceeded(result)) {
        return hasObject ? Obtained::object : Obtained::unreachable;
    }
    return adlxAbsent(result) ? Obtained::absent : Obtained::unreachable;
}

/// Calls one getter of either shape and hands the object to `visit`. A getter that fails
/// may still have written an object: the owner gives it back.
template <typename Owner, typename Getter, typename Visit>
Obtained visitObtained(Getter getter, const SettingSources& objects, IADLXGPU* gpuObject,
                       const RowVisitor& visitor, PassObjects& pass, ADLX_RESULT& result,
                       Visit visit) {
    Owner setting;
    result = getter(objects, gpuObject, setting.put());
    const Obtained got = obtained(result, static_cast<bool>(setting));
    if (got == Obtained::object) {
        visit(setting.get());
        pass.keepIfAsked(visitor, setting);
    }
    return got;
}

void visitRow(const CatalogueRow& row, const std::string& key, const WalkSources& sources,
              IADLXGPU* gpuObject, const GpuPass* gpu, RowVisitor& visitor, PassObjects& pass) {
    if (!visitor.wants(row)) {
        return;
    }
    if (!sourceAvailable(row, sources.objects)) {
        if (sources.failed(row.source)) {
            visitor.unreachable(row, key, gpu, sources.resultOf(row.source));
        }
        return;
    }
    ADLX_RESULT result = ADLX_OK;
    const Obtained got =
        row.shape == SettingShape::toggle
            ? visitObtained<SwitchSettingOwner>(
                  row.getToggle, sources.objects, gpuObject, visitor, pass, result,
                  [&](IADLX3DSwitchSetting* s) { visitor.visitToggle(row, key, gpu, s); })
            : visitObtained<ModeSettingOwner>(
                  row.getMode, sources.objects, gpuObject, visitor, pass, result,
                  [&](IADLX3DModeSetting* s) { visitor.visitMode(row, key, gpu, s); });
    if (got == Obtained::unreachable) {
        visitor.unreachable(row, key, gpu, result);
    }
}

/// QueryInterface counts only with ADLX_OK; anything written on another result is dropped.
/// True when the query failed in a way that does not mean "this driver lacks it".
template <typename Owner>
bool queryExtended(IADLX3DSettingsServices* services, const wchar_t* id, Owner& owner,
                   ADLX_RESULT& result) {
    result = services->QueryInterface(id, owner.putVoid());
    if (result != ADLX_OK) {
        owner.reset();
        return !adlxAbsent(result);
    }
    return !owner;
}

}  // namespace

void walkCatalogue(IADLXGPUList* gpus, IADLX3DSettingsServices* services, RowVisitor& visitor) {
    WalkSources sources;
    sources.objects.services = services;
    const CatalogueRow& rsr = kAmdCatalogue[0];
    const CatalogueRow& afmf = kAmdCatalogue[1];

    // The Radeon Super Resolution object comes before the extended services and goes after
    // them; the AFMF object comes after the first of them and goes with its pass.
    PassObjects rsrHeld(true);
    visitRow(rsr, std::string(rsr.name), sources, nullptr, nullptr, visitor, rsrHeld);
    SettingsServices1Owner services1;
    {
        PassObjects globalPass;
        sources.services1Failed =
            queryExtended(services, kIdSettingsServices1, services1, sources.services1Result);
        sources.objects.services1 = services1.get();
        visitRow(afmf, std::string(afmf.name), sources, nullptr, nullptr, visitor, globalPass);
        visitor.endPass(nullptr);
    }

    SettingsServices3Owner services3;
    sources.services3Failed =
        queryExtended(services, kIdSettingsServices3, services3, sources.services3Result);
    sources.objects.services3 = services3.get();

    std::set<int32_t> idsSeen;
    // Once a GPU could not be fetched or named, its id is unknown and every later GPU may
    // share it: none of them can be sure to own its keys.
    bool earlierUnknown = false;
    // The list is asked for its size before every pass, as it may change under us.
    for (uint32_t index = 0; index < gpus->Size(); ++index) {
        GpuOwner gpu;
        if (!adlxSucceeded(gpus->At(index, gpu.put())) || !gpu) {
            earlierUnknown = true;
            visitor.unreachableGpu(index);
            continue;
        }
        // A GPU that writes no id keeps its list position; one whose call fails may have
        // another id than the position, so its keys are not known.
        int32_t id = static_cast<int32_t>(index);
        const bool identified = adlxSucceeded(gpu->UniqueId(&id));
        const bool owns = identified && !earlierUnknown && idsSeen.insert(id).second;
        earlierUnknown = earlierUnknown || !identified;
        const GpuPass pass{index, id, identified, owns};
        visitor.beginGpu(pass);
        PassObjects gpuPass;
        if (visitor.wantsGpu(pass)) {
            const std::string prefix = gpuKeyPrefix(id);
            for (size_t r = 2; r < kAmdCatalogue.size(); ++r) {
                const CatalogueRow& row = kAmdCatalogue[r];
                visitRow(row, prefix + std::string(row.name), sources, gpu.get(), &pass, visitor,
                         gpuPass);
            }
        }
        visitor.endPass(&pass);
    }
}
