// Run-time binding of the FFmpeg libraries. Nothing links them: the one loader opens each
// library file from a library folder (or through the system search when the folder does not
// hold it), resolves every entry point of FFEntryPoints.inc into the cw::ff pointers, runs the
// library's registration call, and installs the engine's hooks (codec lock, log callback).
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "engine/Module.h"

namespace cw {

// Also the order of loading and binding.
enum TLibraryId : int {
    libAVCodec,
    libSwResample,
    libAVDevice,
    libAVFilter,
    libAVFormat,
    libAVUtil,
    libSwScale,
};
constexpr int LibraryCount = 7;

// A set of library identifiers.
class TLibraryIds {
public:
    constexpr TLibraryIds() = default;
    constexpr TLibraryIds(std::initializer_list<TLibraryId> ids) {
        for (TLibraryId id : ids)
            Bits |= 1u << id;
    }
    constexpr bool Contains(TLibraryId id) const { return (Bits >> id) & 1u; }
    constexpr bool Empty() const { return Bits == 0; }

private:
    uint32_t Bits = 0;
};

inline constexpr TLibraryIds AllLibraries{libAVCodec,  libSwResample, libAVDevice, libAVFilter,
                                          libAVFormat, libAVUtil,     libSwScale};
inline constexpr TLibraryIds EncoderLibraries{libAVCodec,  libSwResample, libAVFilter,
                                              libAVFormat, libAVUtil,     libSwScale};

struct TLibraryItem {
    TLibraryId Id;
    const char* Name;   // base name: lib<Name>.so.<Version>
    bool IsSystem;      // always through the system search, never from the library folder
    int Version;        // major version; -1: no version part
    void (*Register)(); // the library's registration call, or null
};
const TLibraryItem& LibraryItem(TLibraryId id);

class TFFLoader {
public:
    TFFLoader() = default;
    // Process end: unloads every library (the codec lock does nothing from then on).
    ~TFFLoader();
    TFFLoader(const TFFLoader&) = delete;
    TFFLoader& operator=(const TFFLoader&) = delete;

    // Binding libavutil installs the logger's library callback.
    const bool HookLog = true;

    // The folder for libraries whose file name has no folder part.
    void SetLibraryPath(const std::string& folder) { Path = folder; }
    const std::string& LibraryPath() const { return Path; }
    // Text of the last load or bind failure; success leaves it as it is.
    const std::string& LastErrorMessage() const { return LastError; }

    std::string LibFileName(TLibraryId id) const;
    // The path the library was opened from (folder and name, or the bare name for the system
    // search); empty when it is not loaded.
    std::string LoadedFrom(TLibraryId id) const;

    // Loading binds a library and runs its registration once; loading it again while it is
    // bound does nothing. While work is counted in (BeginWork), loading a library that is not
    // bound and unloading are refused: false (or nothing done) with LastErrorMessage
    // "Cannot LoadLibraries while working." / "Cannot UnloadLibraries while working.".
    bool LoadLib(TLibraryId id);
    // Loads the members in identifier order; at the first failure unloads the whole set.
    bool LoadLibs(TLibraryIds ids);
    bool LibLoaded(TLibraryId id) const;
    bool LibsLoaded(TLibraryIds ids) const;
    void UnloadLib(TLibraryId id);
    void UnloadLibs(TLibraryIds ids);

    // A run that uses the bound libraries counts itself in and out; calls nest.
    void BeginWork() { ++Work; }
    void EndWork() { --Work; }
    bool Working() const { return Work.load() > 0; }

private:
    struct TStatus {
        TModule Module;
        bool Bound = false;
    };
    void Bind(TLibraryId id, const std::string& fileName, void* handle);
    void AfterBind(TLibraryId id);

    void Unload(TLibraryId id);

    std::string Path;
    std::string LastError;
    TStatus Status[LibraryCount];
    std::atomic<int> Work{0};
};

// The process's loader.
TFFLoader& FFLoader();

} // namespace cw
