// The ADLX objects of both stand-ins for the runtime: the simulated amdadlx64.dll and the
// unit tests' in-process fake. Which setting each getter reaches, what every call writes
// and when, and how references are counted are written here once; what a call answers,
// the settings' values and the log belong to the world behind the objects.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contracts/adlx_interface.h"

/// What a call does once the world has had its say.
struct CallOutcome {
    ADLX_RESULT result;
    /// Whether the call writes its out value or object (for a Set: makes the change).
    bool writesOut;
};

/// One call as it went, for the world's log. The fields are set by name:
/// `AdlxCall("At", "gpulist#1").given("0").returned(ADLX_OK).wrote("gpu0#3")`.
struct AdlxCall {
    explicit AdlxCall(std::string call, std::string object = "")
        : call(std::move(call)), object(std::move(object)) {}
    AdlxCall& given(std::string text) { return set(argument, std::move(text)); }
    AdlxCall& returned(int64_t value) { return set(result, std::to_string(value)); }
    AdlxCall& wrote(std::string text) { return set(output, std::move(text)); }
    AdlxCall& through(std::string getter) { return set(method, std::move(getter)); }

    std::string call;      // the method; "Get" for every setting getter
    std::string object;    // the label of the object called; the setting's ref for "Get"
    std::string argument;  // what the call was given, where a log shows it
    std::string result;    // the result, or the answer of Empty and Size
    std::string output;    // what it wrote; empty when nothing
    std::string method;    // the getter's own name for "Get" ("GetChill")

  private:
    AdlxCall& set(std::string& field, std::string text) {
        field = std::move(text);
        return *this;
    }
};

/// What every object handed out has besides its interface: its name, the pointer the caller
/// holds and its references. The world keeps each one until it ends, so a call through a
/// released pointer still lands on it and is refused instead of touching freed memory.
class AdlxObject {
  public:
    AdlxObject(std::string name, const void* face) : name_(std::move(name)), face_(face) {}
    virtual ~AdlxObject() = default;
    const std::string& name() const { return name_; }
    /// The pointer the caller was given; compared, never followed.
    const void* face() const { return face_; }
    /// The GPU's position in the list; nothing for any other kind of object.
    virtual std::optional<uint32_t> gpuIndex() const { return std::nullopt; }
    int32_t references = 1;
    uint32_t serial = 0;

  private:
    std::string name_;
    const void* face_;
};

class AdlxWorld {
  public:
    /// `gpuPrefix` starts a GPU's setting refs ("gpu" gives "gpu0.chill"); `listName` names
    /// the GPU list; with `numbered` an object's label carries its serial ("gpu0#4").
    AdlxWorld(std::string gpuPrefix, std::string listName, bool numbered);
    virtual ~AdlxWorld();
    AdlxWorld(const AdlxWorld&) = delete;
    AdlxWorld& operator=(const AdlxWorld&) = delete;

    /// The root object; never released, never counted among the objects handed out.
    IADLXSystem* system();

    /// What `call` answers about `subject`: a setting's ref, "gpu<index>" (UniqueId), the
    /// index (At), "1", "3" or "?" (QueryInterface for the extended services), or "".
    virtual CallOutcome outcome(const std::string& call, const std::string& subject) = 0;
    virtual void note(const AdlxCall& call) = 0;
    /// False for a setting the driver lacks: a getter that succeeds answers "not supported".
    virtual bool exists(const std::string& ref) = 0;
    /// False for extended services ("1" or "3") the driver lacks.
    virtual bool offers(const std::string& which) = 0;
    virtual adlx_bool supported(const std::string& ref) = 0;
    virtual int32_t value(const std::string& ref) = 0;
    /// Called only for a Set that makes its change.
    virtual void setValue(const std::string& ref, int32_t value) = 0;
    /// Called as a Set the runtime accepts starts, before anything else.
    virtual void beforeSet() {}
    virtual uint32_t gpuCount() = 0;
    /// The id UniqueId writes for the GPU at `index`; false when it writes none.
    virtual bool gpuId(uint32_t index, int32_t& id) = 0;

    // The objects handed out, in the order they were made.
    void made(AdlxObject* object);
    int32_t release(AdlxObject& object);
    std::string label(const AdlxObject& object) const;
    /// The labels of the objects that still hold references.
    std::vector<std::string> liveLabels() const;

    // Misuse (sim/adlx/misuse.cc): what a faulty caller does is refused before anything
    // else happens and logged as "MISUSE <call> <subject> <what>".
    /// True, after logging, when `called` has no reference left: the call must fail.
    bool refuseReleased(const AdlxObject& called, const char* call);
    /// Nothing when the call may go on; else the result that refuses it: ADLX_FAIL on an
    /// object after its last Release (`called` null: the system services), ADLX_INVALID_ARGS
    /// for a null `out` and, for a call that takes a GPU (`gpu` given), for a GPU argument
    /// that is null, not a GPU the runtime handed out, or released.
    std::optional<ADLX_RESULT> refuse(const AdlxObject* called, const char* call, const void* out,
                                      std::optional<const void*> gpu = std::nullopt);
    /// The object the caller holds as `face`; null when the runtime never handed it out.
    const AdlxObject* issued(const void* face) const;
    /// The calls refused so far.
    uint32_t misuses() const { return misuses_; }
    /// Writes one "MISUSE ..." line where the world keeps its log.
    virtual void misused(const std::string& line) = 0;

    const std::string& gpuPrefix() const { return gpuPrefix_; }
    const std::string& listName() const { return listName_; }

  private:
    std::string gpuPrefix_;
    std::string listName_;
    bool numbered_;
    std::vector<std::unique_ptr<AdlxObject>> objects_;
    uint32_t misuses_ = 0;
    std::unique_ptr<IADLXSystem, void (*)(IADLXSystem*)> system_;
};
