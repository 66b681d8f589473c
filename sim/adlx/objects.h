// The ADLX objects of both stand-ins for the runtime: the simulated amdadlx64.dll and the
// unit tests' in-process fake. Which setting each getter reaches, what every call writes
// and when, and how references are counted are written here once; what a call answers,
// the settings' values and the log belong to the world behind the objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contracts/adlx_interface.h"

/// What a call does once the world has had its say.
struct CallOutcome {
    ADLX_RESULT result;
    /// Whether the call writes its out value or object (for a Set: makes the change).
    bool writesOut;
};

/// One call as it went, for the world's log.
struct AdlxCall {
    AdlxCall(std::string call, std::string object, std::string argument = "",
             std::string result = "", std::string output = "", std::string method = "")
        : call(std::move(call)),
          object(std::move(object)),
          argument(std::move(argument)),
          result(std::move(result)),
          output(std::move(output)),
          method(std::move(method)) {}

    std::string call;      // the method; "Get" for every setting getter
    std::string object;    // the label of the object called; the setting's ref for "Get"
    std::string argument;  // what the call was given, where a log shows it
    std::string result;    // the result, or the answer of Empty and Size
    std::string output;    // what it wrote; empty when nothing
    std::string method;    // the getter's own name for "Get" ("GetChill")
};

class AdlxObject;

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
    /// Called as a Set starts, before anything else.
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

    const std::string& gpuPrefix() const { return gpuPrefix_; }
    const std::string& listName() const { return listName_; }

  private:
    std::string gpuPrefix_;
    std::string listName_;
    bool numbered_;
    std::vector<std::unique_ptr<AdlxObject>> objects_;
    std::unique_ptr<IADLXSystem, void (*)(IADLXSystem*)> system_;
};
