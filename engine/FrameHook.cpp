#include "engine/FrameHook.h"

#include "engine/FFApi.h"
#include "engine/FFLogger.h"
#include "engine/Module.h"
#include "engine/Text.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace cw {

namespace {

// Hook libraries loaded so far, by path. They stay loaded until the process ends.
struct THookLibraries {
    std::mutex Lock;
    std::map<std::string, TModule> Modules;
};

THookLibraries& HookLibraries() {
    static THookLibraries* libraries = new THookLibraries; // never unloaded
    return *libraries;
}

// An error line through the library log, or straight to the engine logger when libavutil is
// not bound.
void LogError(const std::string& text) {
    if (ff::av_log)
        ff::av_log(nullptr, AV_LOG_ERROR, "%s", text.c_str());
    else
        TFFLogger::Instance().Log(llError, text.substr(0, text.find_last_not_of('\n') + 1));
}

} // namespace

TFrameHookList::~TFrameHookList() {
    FreeFrameHooks(*this);
}

int AddFrameHook(TFrameHookList& list, const std::vector<std::string>& words) {
    if (words.empty())
        return AVERROR(ENOENT);
    const std::string& path = words[0];

    void* handle = nullptr;
    {
        auto& libraries = HookLibraries();
        std::lock_guard lock(libraries.Lock);
        auto it = libraries.Modules.find(path);
        if (it == libraries.Modules.end()) {
            size_t slash = path.rfind('/');
            std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
            std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            TModule module;
            std::string error;
            // A bare name goes through the system search. A path is opened as it is, with the
            // library's own dependencies taken from its folder first.
            if (!OpenModule(folder, name, module, error, folder.empty())) {
                LogError(error + "\n");
                return -1;
            }
            it = libraries.Modules.emplace(path, std::move(module)).first;
        }
        handle = it->second.Handle;
    }

    auto entry = std::unique_ptr<TFrameHookList::TEntry>(new (std::nothrow) TFrameHookList::TEntry);
    if (!entry)
        return AVERROR(ENOMEM);
    entry->Configure = reinterpret_cast<TFrameHookConfigure*>(::dlsym(handle, "Configure"));
    entry->Process = reinterpret_cast<TFrameHookProcess*>(::dlsym(handle, "Process"));
    entry->Release = reinterpret_cast<TFrameHookRelease*>(::dlsym(handle, "Release"));
    int argc = static_cast<int>(words.size());
    if (!entry->Process) {
        LogError(FormatText("Failed to find Process entrypoint in %s\n", path.c_str()));
        return AVERROR(ENOENT);
    }
    if (!entry->Configure && argc > 1) {
        LogError(FormatText("Failed to find Configure entrypoint in %s\n", path.c_str()));
        return AVERROR(ENOENT);
    }
    if (entry->Configure) {
        std::vector<std::string> copies(words);
        std::vector<char*> argv;
        for (auto& word : copies)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (entry->Configure(&entry->Context, argc, argv.data()) != 0) {
            LogError(FormatText("Failed to Configure %s\n", path.c_str()));
            return AVERROR(EINVAL);
        }
    }
    list.Entries.push_back(std::move(entry));
    return 0;
}

void RunFrameHooks(const TFrameHookList& list, TPicture& picture, int pixelFormat, int width,
                   int height, int64_t pts) {
    for (auto& entry : list.Entries)
        entry->Process(entry->Context, &picture, pixelFormat, width, height, pts);
}

void FreeFrameHooks(TFrameHookList& list) {
    for (auto& entry : list.Entries)
        if (entry->Release)
            entry->Release(entry->Context);
    list.Entries.clear();
}

} // namespace cw
