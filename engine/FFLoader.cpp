#include "engine/FFLoader.h"

#include "engine/CodecLock.h"
#include "engine/FFApi.h"
#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/Text.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <stdexcept>

// Builds with AddressSanitizer check for leaks at process end.
#if defined(__SANITIZE_ADDRESS__)
#define CW_LEAK_CHECKED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CW_LEAK_CHECKED_BUILD 1
#endif
#endif
#ifndef CW_LEAK_CHECKED_BUILD
#define CW_LEAK_CHECKED_BUILD 0
#endif

namespace cw {

namespace {

enum TEntryKind { ekFunction, ekOptional, ekVariable };

struct TEntryPoint {
    TLibraryId Library;
    const char* Name;
    TEntryKind Kind;
    void (*Assign)(void* address);
    void (*Clear)();
};

template <auto& Slot> void AssignSlot(void* address) {
    Slot = reinterpret_cast<std::remove_reference_t<decltype(Slot)>>(address);
}
template <auto& Slot> void ClearSlot() {
    Slot = nullptr;
}

// Every entry point, in list order.
const TEntryPoint EntryPoints[] = {
#define CW_FF_FUNCTION(library, name)                                                              \
    {library, #name, ekFunction, &AssignSlot<ff::name>, &ClearSlot<ff::name>},
#define CW_FF_OPTIONAL(library, name)                                                              \
    {library, #name, ekOptional, &AssignSlot<ff::name>, &ClearSlot<ff::name>},
#define CW_FF_VARIABLE(library, name)                                                              \
    {library, #name, ekVariable, &AssignSlot<ff::name>, &ClearSlot<ff::name>},
#include "engine/FFEntryPoints.inc"
};

void RegisterDevices() {
    ff::avdevice_register_all();
}

// One row per identifier, in identifier order. FFmpeg 5.1 has registration calls only for
// the devices; codecs, formats and filters are known without one.
const TLibraryItem LibraryTable[LibraryCount] = {
    {libAVCodec, "avcodec", false, 59, nullptr},
    {libSwResample, "swresample", false, 4, nullptr},
    {libAVDevice, "avdevice", false, 59, &RegisterDevices},
    {libAVFilter, "avfilter", false, 8, nullptr},
    {libAVFormat, "avformat", false, 59, nullptr},
    {libAVUtil, "avutil", false, 57, nullptr},
    {libSwScale, "swscale", false, 6, nullptr},
};

// The name of the loaded object that holds address, or empty.
std::string ObjectOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

std::string ObjectOfHandle(void* handle) {
    struct link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
        return map->l_name;
    return {};
}

} // namespace

const TLibraryItem& LibraryItem(TLibraryId id) {
    return LibraryTable[id];
}

TFFLoader& FFLoader() {
    // Touching the logger first makes its state older than the loader, so it is still there
    // when the loader unloads at process end.
    (void)TFFLogger::LibraryLevel();
    static TFFLoader instance;
    return instance;
}

TFFLoader::~TFFLoader() {
    SetCodecLockFinalizing(true);
#if CW_LEAK_CHECKED_BUILD
    // The leak check runs after this destructor. Libraries unmapped here would take with them
    // the only pointers to the memory they still hold, and all of it would be reported lost;
    // the process ends anyway, so they stay mapped.
    return;
#endif
    UnloadLibs(AllLibraries);
    LastError.clear();
    Path.clear();
}

std::string TFFLoader::LibFileName(TLibraryId id) const {
    const auto& item = LibraryTable[id];
    std::string name = std::string("lib") + item.Name + ".so";
    if (item.Version >= 0)
        name += "." + std::to_string(item.Version);
    return name;
}

std::string TFFLoader::LoadedFrom(TLibraryId id) const {
    return Status[id].Module.Path;
}

void TFFLoader::Bind(TLibraryId id, const std::string& fileName, void* handle) {
    std::string own = ObjectOfHandle(handle);
    for (const auto& entry : EntryPoints) {
        if (entry.Library != id)
            continue;
        ::dlerror();
        void* address = ::dlsym(handle, entry.Name);
        if (!address) {
            if (entry.Kind == ekOptional)
                continue;
            const char* text = ::dlerror();
            throw FFmpegException(
                FormatText(entry.Kind == ekVariable ? "Load variable %s@%s error: %s"
                                                    : "Load function %s@%s error: %s",
                           entry.Name, fileName.c_str(), text ? text : "not found"));
        }
        // dlsym also searches the library's dependencies; an entry listed under the wrong
        // library would silently bind to another file.
        std::string holder = ObjectOf(address);
        if (!own.empty() && !holder.empty() && holder != own)
            throw FFmpegException(FormatText(
                entry.Kind == ekVariable ? "Load variable %s@%s error: %s"
                                         : "Load function %s@%s error: %s",
                entry.Name, fileName.c_str(), ("defined in " + holder + " instead").c_str()));
        entry.Assign(address);
    }
    if (LibraryTable[id].Register)
        LibraryTable[id].Register();
}

void TFFLoader::AfterBind(TLibraryId id) {
    switch (id) {
    case libAVCodec:
        RegisterCodecLockManager();
        break;
    case libAVUtil:
        if (HookLog)
            TFFLogger::Instance().InstallLibraryHook();
        break;
    default:
        // Containers get the unicode file access and the interrupt callback when they are
        // opened (UnicodeIO.h, Interrupt.h); nothing is registered globally.
        break;
    }
}

bool TFFLoader::LoadLib(TLibraryId id) {
    TStatus& status = Status[id];
    if (status.Bound && status.Module.Handle)
        return true;
    if (Working()) {
        LastError = "Cannot LoadLibraries while working.";
        return false;
    }
    const TLibraryItem& item = LibraryTable[id];
    std::string fileName = LibFileName(id);
    if (!status.Module.Handle) {
        size_t slash = fileName.rfind('/');
        std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
        if (folder.empty() && !Path.empty() && !item.IsSystem)
            folder = WithTrailingSlash(Path);
        std::string error;
        if (!OpenModule(folder, name, status.Module, error)) {
            LastError =
                FormatText("Load library %s error: %s", (folder + name).c_str(), error.c_str());
            return false;
        }
    }
    if (!status.Bound) {
        try {
            Bind(id, fileName, status.Module.Handle);
            status.Bound = true;
        } catch (const std::exception& e) {
            LastError = e.what();
            // Slots resolved before the failure would point into a library about to go.
            for (const auto& entry : EntryPoints)
                if (entry.Library == id)
                    entry.Clear();
        }
    }
    if (!status.Bound) {
        Unload(id);
        return false;
    }
    AfterBind(id);
    return true;
}

bool TFFLoader::LoadLibs(TLibraryIds ids) {
    if (ids.Empty())
        throw std::logic_error("LoadLibs needs a library set");
    if (Working()) {
        if (LibsLoaded(ids))
            return true;
        // Nothing is bound or unbound under a run: a failure would unload the whole set.
        LastError = "Cannot LoadLibraries while working.";
        return false;
    }
    for (int i = 0; i < LibraryCount; ++i) {
        auto id = static_cast<TLibraryId>(i);
        if (ids.Contains(id) && !LoadLib(id)) {
            UnloadLibs(ids);
            return false;
        }
    }
    return true;
}

bool TFFLoader::LibLoaded(TLibraryId id) const {
    return Status[id].Module.Handle && Status[id].Bound;
}

bool TFFLoader::LibsLoaded(TLibraryIds ids) const {
    if (ids.Empty())
        throw std::logic_error("LibsLoaded needs a library set");
    for (int i = 0; i < LibraryCount; ++i)
        if (ids.Contains(static_cast<TLibraryId>(i)) && !LibLoaded(static_cast<TLibraryId>(i)))
            return false;
    return true;
}

void TFFLoader::UnloadLib(TLibraryId id) {
    if (Working()) {
        LastError = "Cannot UnloadLibraries while working.";
        return;
    }
    Unload(id);
}

void TFFLoader::Unload(TLibraryId id) {
    TStatus& status = Status[id];
    if (status.Bound) {
        if (id == libAVCodec)
            UnregisterCodecLockManager();
        for (const auto& entry : EntryPoints)
            if (entry.Library == id)
                entry.Clear();
        status.Bound = false;
    }
    if (status.Module.Handle)
        CloseModule(status.Module);
}

void TFFLoader::UnloadLibs(TLibraryIds ids) {
    if (ids.Empty())
        throw std::logic_error("UnloadLibs needs a library set");
    if (Working()) {
        LastError = "Cannot UnloadLibraries while working.";
        return;
    }
    for (int i = 0; i < LibraryCount; ++i)
        if (ids.Contains(static_cast<TLibraryId>(i)))
            UnloadLib(static_cast<TLibraryId>(i));
}

} // namespace cw
