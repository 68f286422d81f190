// The external stream resolver: a separate program (yt-dlp) asked what the streams of a link
// are. It is started as an argument vector (never through a shell) in a process group of its
// own, with a time limit and a cap on its output; its answer is a JSON object that is read
// here into a resolved video, checked like any answer from outside.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace cw {

// What one run of a program gave.
struct TProcessResult {
    bool Started = false; // the program could be started at all
    int StartError = 0;   // errno of a failed start (ENOENT: not installed)
    int ExitCode = -1;    // -1 when it did not end by itself
    bool TimedOut = false;
    bool OverCap = false; // its output went past the cap; it was stopped there
    bool Cancelled = false;
    std::string Output; // stdout, at most the cap
    std::string Errors; // stderr, its last ErrorsCap bytes
};

inline constexpr size_t ResolverOutputCap = 32 * 1024 * 1024;
inline constexpr size_t ResolverErrorsCap = 64 * 1024;

// Runs args[0] (looked up on PATH when it holds no "/") with the arguments, stdin from
// /dev/null, in its own process group. Past the time limit, or when cancelled() turns true,
// or when stdout grows past outputCap, the whole group is killed.
TProcessResult RunProgram(const std::vector<std::string>& args, std::chrono::milliseconds limit,
                          size_t outputCap, const std::function<bool()>& cancelled = {});

// One format of a resolved video. Numbers the answer does not give are 0 (or -1 for sizes);
// texts it does not give are empty.
struct TResolvedFormat {
    std::string FormatId;
    std::string Url;
    std::string Protocol; // http, https, m3u8, m3u8_native, http_dash_segments, ...
    std::string Ext;
    std::string VCodec; // "none": no picture; empty: not said
    std::string ACodec; // "none": no sound; empty: not said
    int Width = 0;
    int Height = 0; // 0: not said
    double Fps = 0;
    double Tbr = 0;        // kbit/s
    int64_t FileSize = -1; // filesize, else filesize_approx; -1 unknown
    std::vector<std::pair<std::string, std::string>> Headers;
    int64_t ChunkSize = 0; // downloader_options.http_chunk_size; 0 none
    std::string ManifestUrl;

    bool HasPicture() const { return VCodec != "none"; }
    bool HasSound() const { return ACodec != "none"; }
    bool IsManifest() const;
    bool IsHttp() const;
};

struct TResolvedVideo {
    std::string Id;
    std::string Title;
    double Duration = 0; // seconds; 0 unknown
    std::vector<TResolvedFormat> Formats;
};

// Reads the resolver's answer. False with a worded reason when it is not a JSON object, lacks
// the id, has a field of the wrong type, or names no format at all.
bool ParseResolverAnswer(const std::string& json, TResolvedVideo& video, std::string& reason);

// The texts a failed resolution is reported with.
extern const char* const ResolverMissingText;
// "yt-dlp VERSION: " + the last "ERROR:" line of its stderr (else its last line, else the
// exit code).
std::string ResolverFailureText(const std::string& version, const TProcessResult& result,
                                std::chrono::milliseconds limit, size_t cap = ResolverOutputCap);

enum class TResolverMode { rmAuto, rmBuiltin, rmExternal };
// "auto" (also empty and unknown values), "builtin", "external", any letter case.
TResolverMode ResolverModeOf(const std::string& setting);

// Runs the resolver for one link on a thread of its own and delivers the outcome on the main
// thread. The first run of an instance asks the program's version first (kept afterwards).
class TExternalResolver {
public:
    struct TOutcome {
        bool Ok = false;
        TResolvedVideo Video;
        std::string Reason; // why it failed, in words
        std::string Version;
        bool VersionNew = false; // the version was asked in this run
        bool Cancelled = false;
    };
    using TDoneHandler = std::function<void(const TOutcome& outcome)>;

    TExternalResolver() = default;
    ~TExternalResolver();
    TExternalResolver(const TExternalResolver&) = delete;
    TExternalResolver& operator=(const TExternalResolver&) = delete;

    // "yt-dlp" when empty.
    std::string Program;
    std::chrono::milliseconds TimeLimit{60000};
    size_t OutputCap = ResolverOutputCap;

    // On the main thread; a run still going is cancelled first. done runs on the main
    // thread unless Cancel or the destructor came first.
    void Start(const std::string& link, TDoneHandler done);
    void Cancel();
    bool Running() const { return Worker.joinable() && !*Finished; }
    // How often the program was started (the version question included).
    int Starts() const { return StartCount->load(); }

private:
    std::thread Worker;
    std::shared_ptr<std::atomic<bool>> Stop = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> Finished = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<int>> StartCount = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<bool> Token;
    std::string Version; // known after the first run
};

} // namespace cw
