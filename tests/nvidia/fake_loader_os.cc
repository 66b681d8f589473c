#include "tests/nvidia/fake_loader_os.h"

#include <cstdio>

namespace {

std::string bareName(const std::string& file) {
    const size_t slash = file.rfind('\\');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

class FakeLock : public LoaderLock {
  public:
    explicit FakeLock(std::vector<std::string>& log) : log_(log) {}
    void enter() override { log_.push_back("lock"); }
    void leave() override { log_.push_back("unlock"); }

  private:
    std::vector<std::string>& log_;
};

}  // namespace

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

int FakeLoaderOs::liveHandles(const std::string& name) const {
    int count = 0;
    for (const auto& [handle, file] : live_) {
        count += bareName(file) == name ? 1 : 0;
    }
    return count;
}

std::vector<std::string> FakeLoaderOs::linesStarting(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : log) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

LoadResult FakeLoaderOs::loadLibrary(const std::wstring& file, uint32_t flags) {
    const std::string name = narrow(file);
    log.push_back("load " + name + " " + hex(flags));
    const auto failure = loadErrors.find(bareName(name));
    if (failure != loadErrors.end()) {
        lastError_ = failure->second;
        return {nullptr, failure->second};
    }
    auto handle = reinterpret_cast<ModuleHandle>(nextHandle_++);
    live_[handle] = name;
    return {handle, 0};
}

RawFunction FakeLoaderOs::resolve(ModuleHandle module, const char* name) {
    const auto it = live_.find(module);
    log.push_back("resolve " + (it == live_.end() ? "?" : bareName(it->second)) + " " + name);
    const auto found = exports.find(name);
    return found == exports.end() ? nullptr : found->second;
}

void FakeLoaderOs::freeLibrary(ModuleHandle module) {
    const auto it = live_.find(module);
    if (it == live_.end()) {
        log.push_back("free ?");
        return;
    }
    log.push_back("free " + bareName(it->second));
    live_.erase(it);
}

void FakeLoaderOs::sleep(uint32_t milliseconds) {
    log.push_back("sleep " + std::to_string(milliseconds));
}

bool FakeLoaderOs::buildAtLeast9200() {
    log.push_back("build?");
    return build9200;
}

std::wstring FakeLoaderOs::systemDirectory() {
    log.push_back("sysdir");
    lastError_ = systemDirError;
    return systemDir;
}

std::string FakeLoaderOs::modulePath() {
    log.push_back("modulepath");
    return programPath;
}

uint32_t FakeLoaderOs::lastError() {
    return lastError_;
}

std::unique_ptr<LoaderLock> FakeLoaderOs::createLock() {
    log.push_back("create lock");
    ++locksCreated;
    return std::make_unique<FakeLock>(log);
}
