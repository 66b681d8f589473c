#include "amd/catalogue_walk.h"

#include <set>

#include "amd/adlx_owner.h"

namespace {

void visitRow(const CatalogueRow& row, const std::string& key, const SettingSources& sources,
              IADLXGPU* gpuObject, const GpuPass* gpu, RowVisitor& visitor) {
    if (!visitor.wants(row) || !sourceAvailable(row, sources)) {
        return;
    }
    // A getter that fails may still have written an object: the owner gives it back.
    if (row.shape == SettingShape::toggle) {
        SwitchSettingOwner setting;
        if (adlxSucceeded(row.getToggle(sources, gpuObject, setting.put())) && setting) {
            visitor.visitToggle(row, key, gpu, setting.get());
        }
    } else {
        ModeSettingOwner setting;
        if (adlxSucceeded(row.getMode(sources, gpuObject, setting.put())) && setting) {
            visitor.visitMode(row, key, gpu, setting.get());
        }
    }
}

/// QueryInterface counts only with ADLX_OK; anything written on another result is dropped.
template <typename Owner>
void queryExtended(IADLX3DSettingsServices* services, const wchar_t* id, Owner& owner) {
    if (services->QueryInterface(id, owner.putVoid()) != ADLX_OK) {
        owner.reset();
    }
}

}  // namespace

void walkCatalogue(IADLXGPUList* gpus, IADLX3DSettingsServices* services, RowVisitor& visitor) {
    SettingSources sources;
    sources.services = services;
    const CatalogueRow& rsr = kAmdCatalogue[0];
    const CatalogueRow& afmf = kAmdCatalogue[1];

    visitRow(rsr, std::string(rsr.name), sources, nullptr, nullptr, visitor);

    SettingsServices1Owner services1;
    queryExtended(services, kIdSettingsServices1, services1);
    sources.services1 = services1.get();
    visitRow(afmf, std::string(afmf.name), sources, nullptr, nullptr, visitor);

    SettingsServices3Owner services3;
    queryExtended(services, kIdSettingsServices3, services3);
    sources.services3 = services3.get();

    std::set<int32_t> idsSeen;
    // The list is asked for its size before every pass, as it may change under us.
    for (uint32_t index = 0; index < gpus->Size(); ++index) {
        GpuOwner gpu;
        if (!adlxSucceeded(gpus->At(index, gpu.put())) || !gpu) {
            continue;
        }
        // The result is not looked at: a GPU that writes no id keeps its list position.
        int32_t id = static_cast<int32_t>(index);
        gpu->UniqueId(&id);
        const GpuPass pass{index, id, !idsSeen.insert(id).second};
        const std::string prefix = gpuKeyPrefix(id);
        for (size_t r = 2; r < kAmdCatalogue.size(); ++r) {
            const CatalogueRow& row = kAmdCatalogue[r];
            visitRow(row, prefix + std::string(row.name), sources, gpu.get(), &pass, visitor);
        }
    }
}
