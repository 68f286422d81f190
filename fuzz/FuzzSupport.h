// Shared pieces of the fuzz targets: binding the media libraries once, a logger that formats
// every line it is handed and keeps none, and a scratch folder of the process.
#pragma once

#include "engine/FFLoader.h"
#include "engine/FFLogger.h"

#include <unistd.h>

#include <atomic>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

namespace cw::fuzz {

// File name extensions of the probing target, picked by the first byte of an input.
inline constexpr const char* ProbeExtensions[] = {".avi",  ".mp4", ".mkv", ".ts",  ".wav",
                                                  ".flac", ".mp3", ".png", ".bin", ""};
inline constexpr size_t ProbeExtensionCount = std::size(ProbeExtensions);

// The text of a fuzz input.
inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// What the logger was handed; lines come on any thread.
inline std::atomic<size_t> LoggedBytes{0};

// Binds the libraries from the system search and installs a logger whose handler reads each
// line, so the library's messages go through the engine's formatting without being printed.
inline void BindLibrariesOnce(TLibraryIds ids = EncoderLibraries) {
    static bool done = [ids] {
        static TFFLogger logger;
        logger.TriggerEventInMainThread = false;
        logger.OnLog = [](TFFLogger*, uint32_t, TLogLevel, const std::string& line) {
            LoggedBytes += line.size();
        };
        FFLoader().SetLibraryPath("");
        if (!FFLoader().LoadLibs(ids)) {
            std::fprintf(stderr, "cannot bind the media libraries: %s\n",
                         FFLoader().LastErrorMessage().c_str());
            std::abort();
        }
        logger.SetLogLevel(llError);
        return true;
    }();
    (void)done;
}

// A folder of this process under the temporary folder (in memory when /dev/shm exists),
// created on first use and removed at exit.
inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::filesystem::path path = base / ("cw-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return path;
    }();
    return dir;
}

} // namespace cw::fuzz
