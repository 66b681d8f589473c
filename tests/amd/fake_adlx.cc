#include "tests/amd/fake_adlx.h"

namespace {

const char* const kModeNames[] = {"aa-mode", "tessellation-mode", "vsync-mode"};

bool isMode(const std::string& name) {
    for (const std::string mode : kModeNames) {
        if (name.size() >= mode.size() &&
            name.compare(name.size() - mode.size(), mode.size(), mode) == 0) {
            return true;
        }
    }
    return false;
}

/// The log entry of one call, in the terse form the tests compare; nothing for the
/// QueryInterface of an object that has no other face.
std::string entry(const AdlxCall& c) {
    if (c.call == "Get") {
        return c.method + " " + c.object;
    }
    if (c.call == "QueryInterface") {
        return c.argument.empty() ? ""
                                  : "QueryInterface " + c.argument.substr(c.argument.size() - 1);
    }
    if (c.call == "Release") {
        return "Release " + c.object;
    }
    if (c.call == "At") {
        return "At " + c.argument;
    }
    if (c.object.empty() || c.call == "Empty" || c.call == "Size") {
        return c.call;
    }
    if (c.call == "SetEnabled" || c.call == "SetMode") {
        return c.object + "." + c.call + "(" + c.argument + ")";
    }
    return c.object + "." + c.call;
}

}  // namespace

void FakeAdlx::withGpus(std::vector<int32_t> ids) {
    gpus.clear();
    for (int32_t id : ids) {
        FakeGpuConfig config;
        config.id = id;
        gpus.push_back(config);
    }
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
    log.push_back("Initialize");
    initialised_ = adlxSucceeded(initializeResult);
    return initializeResult;
}

IADLXSystem* FakeAdlx::GetSystemServices() {
    log.push_back("GetSystemServices");
    return initialised_ && systemPresent ? system() : nullptr;
}

ADLX_RESULT FakeAdlx::Terminate() {
    log.push_back("Terminate");
    liveAtTerminate = liveObjects();
    initialised_ = false;
    return ADLX_OK;
}

CallOutcome FakeAdlx::outcome(const std::string& call, const std::string& subject) {
    if (call == "GetGPUs") {
        return {getGpusResult, gpuListPresent};
    }
    if (call == "Get3DSettingsServices") {
        return {servicesResult, servicesPresent};
    }
    if (call == "QueryInterface") {
        const ADLX_RESULT result = subject == "1"   ? services1Result
                                   : subject == "3" ? services3Result
                                                    : ADLX_NOT_SUPPORTED;
        return {result, result == ADLX_OK || queryGivesObjectOnFailure};
    }
    if (call == "At" || call == "UniqueId") {
        const size_t index = std::stoul(call == "At" ? subject : subject.substr(3));
        if (index >= gpus.size()) {
            return {ADLX_INVALID_ARGS, false};
        }
        const FakeGpuConfig& gpu = gpus[index];
        return call == "At" ? CallOutcome{gpu.atResult, gpu.atGivesObject}
                            : CallOutcome{gpu.uniqueIdResult, gpu.writesId};
    }
    const FakeSetting& s = setting(subject);
    ADLX_RESULT result = s.readResult;
    if (call == "Get") {
        result = s.exists ? s.getterResult : ADLX_NOT_SUPPORTED;
        return {result, adlxSucceeded(result) || s.writeObjectOnFailure};
    }
    if (call == "IsSupported") {
        result = s.supportedResult;
    } else if (call == "SetEnabled" || call == "SetMode") {
        result = s.writeResult;
    }
    return {result, adlxSucceeded(result)};
}

void FakeAdlx::misused(const std::string& line) {
    misuseLines.push_back(line);
    log.push_back(line);
}

void FakeAdlx::note(const AdlxCall& call) {
    std::string text = entry(call);
    if (!text.empty()) {
        log.push_back(std::move(text));
    }
}

void FakeAdlx::setValue(const std::string& ref, int32_t value) {
    if (beforeWrite) {
        beforeWrite(ref);
    }
    setting(ref).value = value;
}

bool FakeAdlx::gpuId(uint32_t index, int32_t& id) {
    id = gpus[index].id;
    return true;
}

int32_t fakeValue(FakeAdlx& adlx, const std::string& name) {
    return adlx.setting(name).value;
}
