// The download run: takes the listed links one at a time, reads each video's watch page and
// info answer, runs the stream-link script over the answer, downloads a stream by the quality
// rule and saves it under the video's title in the download folder, then moves on. The window
// and the command line drive the same queue through one view interface: the queue keeps the
// table and the status texts, the view shows them and runs the posted steps.
//
// At any moment at most one of the three transfer components works. Every step starts from
// the previous step's completion event or from a posted step, never from inside another step.
#pragma once

#include "app/Platform.h"
#include "download/DelayedCall.h"
#include "download/FormatChoice.h"
#include "download/FormatFetch.h"
#include "download/PartJoin.h"
#include "download/Quality.h"
#include "download/Resolver.h"
#include "download/StreamLinks.h"
#include "download/VideoLinks.h"
#include "net/WinHTTP.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cw {

class TCustomScript;
class THostScriptlet;
struct TGlobalVars;

// The posted steps, numbered as the window's messages that carry them.
enum TDownloadStep {
    dsFetchVideoInfo = 0x404, // start the current video
    dsTryNextQuality = 0x405, // retry the video with the next preferred quality
};

// One row of the queue table.
struct TDownloadItem {
    std::string Caption; // the link, then the video's title
    std::string Status = "Waiting...";
    std::string Size = "0 KB";
    std::string Speed = "0 KB/s";
    std::string Progress = "0%";
    std::string URL = "..."; // the info-request address once known
    // Why the last request of this item failed, in words (empty while nothing failed).
    std::string Reason;
    // The link as it was given (the caption becomes the title).
    std::string Link;
    // What was saved, in words, when the streams came from the external resolver.
    std::string Quality;
    // The stream's figures as numbers, for scripts that follow a download: bytes received,
    // the length the stream states (-1 when it states none) and bytes per second.
    int64_t Received = 0;
    int64_t Length = -1;
    double BytesPerSecond = 0;
};

// The status group beside the table.
struct TDownloadLabels {
    std::string CurrentFile = "...";
    std::string Status = "...";
    std::string Speed = "...";
    std::string ElapsedTime = "...";
    std::string TimeLeft = "...";
    std::string Quality = "...";
    int Progress = 0;                // the bar, 0..100
    std::string ProgressText = "0%"; // beside the bar
};

// What a window or a terminal does with what the queue reports; the controller's session
// implements it to keep the table's rows and passes every report on to its own view. All
// calls come on the main thread.
class IDownloadView {
public:
    virtual ~IDownloadView() = default;
    // Queues the step; the view hands it to TDownloadQueue::HandleStep later on the main
    // thread, after the current handler has returned, in posting order.
    virtual void PostStep(TDownloadStep step) = 0;
    // The table was rebuilt or emptied.
    virtual void QueueChanged(const std::vector<TDownloadItem>& items) { (void)items; }
    // A row of the table changed (index is always a row of the table).
    virtual void ItemChanged(int index, const TDownloadItem& item) { (void)index, (void)item; }
    // The status texts beside the table changed.
    virtual void LabelsChanged(const TDownloadLabels& labels) = 0;
    // The run is over (the table is empty again); the summary counts are in the state record:
    // URLTotal, URLSucceeded and DownloadedFiles.
    virtual void RunEnded() = 0;
    // A script error, worded "Error: Line number %d, %s".
    virtual void ScriptError(const std::string& message) = 0;
    // A line for the log window.
    virtual void Log(const std::string& line) { (void)line; }
};

// The end of a queue in a few words: "2 videos downloaded, 1 failed" ("1 video downloaded"
// when none failed).
std::string DownloadSummaryText(int total, int succeeded);

class TDownloadQueue {
public:
    // The script host must hold the host item (named "Host"); the queue sets the item's echo
    // and alert handlers and the host's error handler, and clears them when it goes.
    TDownloadQueue(TGlobalVars& vars, TCustomScript& scriptHost,
                   std::shared_ptr<THostScriptlet> hostItem, IDownloadView& view);
    ~TDownloadQueue();
    TDownloadQueue(const TDownloadQueue&) = delete;
    TDownloadQueue& operator=(const TDownloadQueue&) = delete;

    // The video service's host name (and port); it forms the info address and the watch-link
    // pattern.
    std::string VideoSiteDomain = DefaultVideoSiteDomain;
    // The pause after the stream-link script; the event loop keeps running during it.
    std::chrono::milliseconds ScriptPause{1500};
    // Largest watch page, info answer or error body held in memory.
    static constexpr int64_t TextLimit = 8 * 1024 * 1024;

    // Which route finds a video's streams: the built-in one first and the external resolver
    // when it gives no usable stream (auto), the built-in one alone, or the resolver alone.
    TResolverMode ResolverMode = TResolverMode::rmAuto;
    // The external resolver (its program, time limit and output cap can be set).
    TExternalResolver Resolver;
    // Links of other sites are accepted (the edition's AnySite key, or the command line's
    // --any-site); they go to the external resolver.
    bool AnySite = false;
    // Whether link intake takes links of other sites now.
    bool TakesAnySite() const { return AnySite && ResolverMode != TResolverMode::rmBuiltin; }

    // The watch page, the info answer and the stream. They share one pool of connections,
    // so that the info request and the stream reuse a connection to the same host.
    std::shared_ptr<TConnectionPool> Connections = std::make_shared<TConnectionPool>();
    TWinHTTP WinHTTPGetInfoFileURL;
    TWinHTTP WinHTTPDownloadInfoFile;
    TWinHTTP WinHTTPDownload;

    const std::vector<TDownloadItem>& Items() const { return QueueItems; }
    const TDownloadLabels& Labels() const { return StatusLabels; }
    const TStreamURLs& StreamURLs() const;
    bool Running() const { return RunActive; }

    // One waiting item per link, in order; the run state is not touched.
    void BuildQueue(const std::vector<std::string>& links);
    // Counts from zero and posts the first step. DownloadedFiles is emptied.
    void StartRun();
    void HandleStep(TDownloadStep step);
    void FetchVideoInfo();
    void TryNextQuality();
    // The user's cancel (or the window closing): a working transfer is aborted and its abort
    // ends the run; between transfers the run ends at once.
    void Cancel();

    // The parts of the per-video road, usable on their own.
    void RunStreamScript(const std::string& answer);
    void ParseStreamList(const std::string& text);
    // Empty texts and zero numbers leave their fields as they are. Size in bytes, times in
    // seconds; nothing happens when URLIndex is not an item.
    void ShowDownloadStatus(const std::string& status, int64_t size, int64_t timeLeft,
                            int64_t elapsed, const std::string& urlText, int percent,
                            const std::string& speed);

    // The name a finished stream is saved under, before it is made unique: the title with the
    // attempt's extension, characters a file name cannot hold replaced by "_".
    // A name never starts with a dot (it would be hidden).
    static std::string DownloadFileName(const std::string& title, const std::string& extension);
    // The video id of an info-request address (the text after "video_id="), empty if none.
    static std::string VideoIdOf(const std::string& infoUrl);

private:
    enum TTransfer { tPage, tInfo, tStream, TransferCount };

    void Wire(TWinHTTP& http, TTransfer which);
    TWinHTTP& Component(TTransfer which);
    bool Start(TTransfer which, const std::string& url);
    // The first end event of a transfer counts; later ones of the same transfer are dropped.
    bool Finish(TTransfer which);

    void PageDone(TStream* stream);
    void InfoDone(TStream* stream);
    void AfterScript();
    void StartFirstAttempt();
    void StartAttempt(int attempt);
    void StreamProgress(int64_t dataSize, int64_t bytesRead, int64_t elapsed, int64_t timeLeft,
                        int percent, float rate);
    void StreamDone(TStream* stream);
    void AttemptFailed();
    // Notes why the current item's request failed.
    void NoteReason(const std::string& reason);
    void VideoFailed();
    // The built-in route found no usable stream: the external resolver is asked when the
    // mode allows it, else the video fails.
    void BuiltinRouteFailed();
    void NextVideo();

    // The external route: one resolver run per link, then the quality attempts over the
    // formats it named (ResolvedDownload.cpp).
    void StartResolver();
    void Resolved(const TExternalResolver::TOutcome& outcome);
    void StartResolvedAttempt(int attempt);
    // The next part of the attempt: fetch the next http format, or join, or save.
    void NextPart();
    void PartFetched(TFormatFetcher::TResult result, const std::string& reason);
    void JoinParts();
    void SaveResolved(const std::string& file, const std::string& extension);
    void ResolvedAttemptFailed(const std::string& reason);
    void ShowPartProgress(double fraction, int64_t size, double seconds, double bytesPerSecond);
    void DropPartFiles();
    std::string NewPartFile();
    void EndRun();
    // Runs fn once the transfer component has finished its last delivery.
    void WhenIdle(TTransfer which, std::function<void()> fn);
    void DropTempFile();
    void ShowLabels();
    void ShowItem();

    TGlobalVars& Vars;
    TCustomScript& ScriptHost;
    std::shared_ptr<THostScriptlet> HostItem;
    IDownloadView& View;

    std::vector<TDownloadItem> QueueItems;
    TDownloadLabels StatusLabels;
    bool RunActive = false;
    bool CancelRequested = false;
    bool Destroying = false;
    bool Active[TransferCount] = {};
    std::string TempFile; // the stream being received, in the download folder

    // The external route's state for the current link.
    struct TPart {
        int Format = -1;
        std::string Source; // the fetched file, or the manifest address
    };
    bool ExternalRoute = false;
    TResolvedVideo ResolvedVideo;
    bool UnknownHeightTaken = false;
    std::vector<TPart> Parts;
    size_t PartIndex = 0;
    std::vector<std::string> PartFiles; // every temporary file of the attempt
    // Shares of the row's progress: each fetched part, then the join.
    std::vector<double> PartWeights;
    double JoinWeight = 0;
    double DoneWeight = 0;
    std::chrono::steady_clock::time_point AttemptStart;
    TFormatFetcher Fetcher{Connections};
    TPartJoiner Joiner;
    TDelayedCall Pause;
    // The machine stays awake from the start of the queue to its end.
    TSleepBlock AwakeLock;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

} // namespace cw
