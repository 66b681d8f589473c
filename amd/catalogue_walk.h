// The walk apply and restore share: the global rows once, then rows 3 to 14 for each GPU
// in the list, each setting object obtained from its getter, handed to a visitor and
// released when the visitor is done with it. The walk goes in passes, the global rows and
// then one per GPU, and tells the visitor when each pass is over.
#pragma once

#include <string>

#include "amd/catalogue.h"
#include "contracts/adlx_interface.h"

/// The GPU a per-GPU row belongs to.
struct GpuPass {
    uint32_t index;
    int32_t id;
    /// False when `UniqueId` reported a failure: the GPU's keys are not known, and what
    /// stands in `id` may be another GPU's.
    bool identified;
    /// True only for the first GPU of the list with its id, when every GPU before it was
    /// fetched and named. The keys under an id hold one original, so they belong to one
    /// GPU: writing any other GPU with that id would lose its own value for good.
    bool ownsKeys;
};

class RowVisitor {
  public:
    virtual ~RowVisitor() = default;
    /// Whether the row is touched at all; its getter is called only when it is.
    virtual bool wants(const CatalogueRow& row) const = 0;
    /// `gpu` is null for the global rows; `setting` is never null.
    virtual void visitToggle(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                             IADLX3DSwitchSetting* setting) = 0;
    virtual void visitMode(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                           IADLX3DModeSetting* setting) = 0;
    /// The setting under `key` exists but could not be reached: its getter, or the query
    /// for the service that holds it, failed with something other than "not there"
    /// (`result`), or succeeded without handing out an object.
    virtual void unreachable(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                             ADLX_RESULT result) {
        (void)row, (void)key, (void)gpu, (void)result;
    }
    /// Called before the rows of every GPU obtained from the list.
    virtual void beginGpu(const GpuPass& gpu) { (void)gpu; }
    /// Whether the GPU's rows are walked at all; when not, none of its getters is called.
    virtual bool wantsGpu(const GpuPass& gpu) const {
        (void)gpu;
        return true;
    }
    /// True when the visitor still uses a pass's setting objects in `endPass`: they are then
    /// released after it, not after their own visit.
    virtual bool keepsSettingsForPass() const { return false; }
    /// Called after the last row of a pass (`gpu` null for the global rows).
    virtual void endPass(const GpuPass* gpu) { (void)gpu; }
    /// The GPU at `index` of the list could not be obtained.
    virtual void unreachableGpu(uint32_t index) { (void)index; }
};

/// Asks `services` for the two extended services, walks every row and GPU, and releases
/// everything it obtained before it returns, last obtained first: the Radeon Super
/// Resolution object is held until the extended services are released.
void walkCatalogue(IADLXGPUList* gpus, IADLX3DSettingsServices* services, RowVisitor& visitor);
