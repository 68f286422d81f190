#include "download/DownloadQueue.h"

#include "app/GlobalVars.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "download/SaveFiles.h"
#include "download/Utf8.h"
#include "download/VideoLinks.h"
#include "script/Script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cw {

// ---- files -----------------------------------------------------------------------------------

namespace {

// Longest title part of a saved file's name, in bytes: room is left for the counter that
// makes the name unique and for the extension.
constexpr size_t MaxTitleBytes = 200;

std::string FormatFloat(const char* form, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, form, value);
    return buffer;
}

// Received bytes per second in KB, as "12.34 KB/s". In the first second, before a whole
// second has passed, the component's own rate stands in (nothing when it has none).
std::string SpeedText(int64_t bytesRead, int64_t elapsed, float rate) {
    if (elapsed > 0)
        return FormatFloat("%.2f KB/s", double(bytesRead) / 1024.0 / double(elapsed));
    if (rate >= 0)
        return FormatFloat("%.2f KB/s", double(rate));
    return {};
}

std::string StreamText(TStream* stream) {
    auto* memory = dynamic_cast<TMemoryStream*>(stream);
    return memory ? std::string(memory->View()) : std::string();
}

} // namespace

std::string TDownloadQueue::DownloadFileName(const std::string& title,
                                             const std::string& extension) {
    // Control characters (a decoded "&#10;", say) have no place in a file name, and a title
    // longer than a file name may be is cut at a character boundary.
    std::string base;
    for (char c : title)
        base += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '_' : c;
    if (base.size() > MaxTitleBytes) {
        size_t cut = 0;
        for (size_t i = 0; i < base.size();) {
            const size_t len = std::max<size_t>(Utf8SequenceLength(base, i), 1);
            if (i + len > MaxTitleBytes)
                break;
            i += len;
            cut = i;
        }
        base.resize(cut);
    }
    std::string name = SanitizeFileName(base + extension);
    // A leading dot would hide the file.
    for (char& c : name) {
        if (c != '.')
            break;
        c = '_';
    }
    return name;
}

std::string TDownloadQueue::VideoIdOf(const std::string& infoUrl) {
    const std::string key = "video_id=";
    const size_t at = infoUrl.find(key);
    if (at == std::string::npos)
        return {};
    std::string id = infoUrl.substr(at + key.size());
    return id.substr(0, id.find('&'));
}

// ---- TDownloadQueue --------------------------------------------------------------------------

TDownloadQueue::TDownloadQueue(TGlobalVars& vars, TCustomScript& scriptHost,
                               std::shared_ptr<THostScriptlet> hostItem, IDownloadView& view)
    : Vars(vars), ScriptHost(scriptHost), HostItem(std::move(hostItem)), View(view) {
    for (TWinHTTP* http : {&WinHTTPGetInfoFileURL, &WinHTTPDownloadInfoFile, &WinHTTPDownload}) {
        http->Agent = "[Halvex]";
        http->AcceptTypes = "*/*";
        http->InternetOptions = {ioIgnoreCertificateInvalid, ioKeepConnection};
        // Only http and https, and no answer held in memory beyond the text limit: the page
        // and the info answer are text, the stream goes to its file (its error body is text).
        http->LocalFiles = false;
        http->MemoryLimit = TextLimit;
        http->Connections = Connections;
    }
    // The stream goes to a file as it arrives; larger blocks mean fewer progress events.
    WinHTTPDownload.SetTransferBufferSize(64 * 1024);
    Wire(WinHTTPGetInfoFileURL, tPage);
    Wire(WinHTTPDownloadInfoFile, tInfo);
    Wire(WinHTTPDownload, tStream);

    auto parse = [this](THostScriptlet&, const std::string& text) { ParseStreamList(text); };
    if (HostItem) {
        HostItem->OnEcho = parse;
        HostItem->OnAlert = parse;
    }
    ScriptHost.OnError = [this](TCustomScript&, const TScriptError& error) {
        char line[32];
        std::snprintf(line, sizeof line, "%d", int(error.Line) + 1);
        View.ScriptError(std::string("Error: Line number ") + line + ", " + error.Description);
    };
}

TDownloadQueue::~TDownloadQueue() {
    Destroying = true;
    *Alive = false;
    Pause.Cancel();
    if (HostItem) {
        HostItem->OnEcho = nullptr;
        HostItem->OnAlert = nullptr;
    }
    ScriptHost.OnError = nullptr;
    // The transfers end here, so that none of them touches the temporary file afterwards.
    for (TWinHTTP* http : {&WinHTTPGetInfoFileURL, &WinHTTPDownloadInfoFile, &WinHTTPDownload})
        http->WorkerThread().Shutdown();
    Resolver.Cancel();
    Fetcher.Http.WorkerThread().Shutdown();
    Joiner.Shutdown();
    DropTempFile();
    DropPartFiles();
}

const TStreamURLs& TDownloadQueue::StreamURLs() const {
    return Vars.StreamURLs;
}

TWinHTTP& TDownloadQueue::Component(TTransfer which) {
    switch (which) {
    case tPage:
        return WinHTTPGetInfoFileURL;
    case tInfo:
        return WinHTTPDownloadInfoFile;
    default:
        return WinHTTPDownload;
    }
}

void TDownloadQueue::Wire(TWinHTTP& http, TTransfer which) {
    http.OnProgress = [this, which](TCustomWinHTTP*, const std::string&, int64_t dataSize,
                                    int64_t bytesRead, int64_t elapsed, int64_t timeLeft,
                                    uint8_t percent, float rate, TStream*) {
        if (Destroying || !Active[which])
            return;
        if (which == tStream)
            StreamProgress(dataSize, bytesRead, elapsed, timeLeft, percent, rate);
        else if (which == tPage)
            ShowDownloadStatus("Getting YouTube URLs, please wait...", dataSize, 0, 0, "", 0,
                               SpeedText(bytesRead, elapsed, rate));
    };
    http.OnDone = [this, which](TCustomWinHTTP*, const std::string&, int64_t, TStream* stream) {
        if (!Finish(which))
            return;
        if (which == tPage)
            PageDone(stream);
        else if (which == tInfo)
            InfoDone(stream);
        else
            StreamDone(stream);
    };
    http.OnAnyError = [this, which](TCustomWinHTTP* sender) {
        if (!Finish(which))
            return;
        NoteReason(which == tStream && sender->URL.empty()
                       ? std::string("The video does not offer this quality.")
                       : sender->ErrorText());
        if (which == tStream) {
            DropTempFile();
            AttemptFailed();
        } else if (which == tInfo) {
            // The service no longer answers the info request (404): its streams are
            // somebody else's to find.
            BuiltinRouteFailed();
        } else {
            VideoFailed();
        }
    };
    http.OnAborted = [this, which](TCustomWinHTTP*) {
        if (!Finish(which))
            return;
        DropTempFile();
        EndRun();
    };
}

bool TDownloadQueue::Start(TTransfer which, const std::string& url) {
    TWinHTTP& http = Component(which);
    http.URL = url;
    Active[which] = true;
    if (http.Read())
        return true;
    Active[which] = false;
    return false;
}

bool TDownloadQueue::Finish(TTransfer which) {
    if (Destroying || !Active[which])
        return false;
    Active[which] = false;
    return true;
}

void TDownloadQueue::WhenIdle(TTransfer which, std::function<void()> fn) {
    // A transfer that failed inside its own work reports the failure before its last
    // delivery; the component takes the next transfer only after that delivery. A run that
    // ended meanwhile (a cancel between transfers) starts nothing more.
    if (!RunActive || CancelRequested)
        return;
    if (!Component(which).Busy()) {
        fn();
        return;
    }
    PostToMainThread([this, alive = Alive, which, fn = std::move(fn)]() mutable {
        if (*alive)
            WhenIdle(which, std::move(fn));
    });
}

void TDownloadQueue::BuildQueue(const std::vector<std::string>& links) {
    QueueItems.clear();
    for (const std::string& link : links) {
        TDownloadItem item;
        item.Caption = link;
        item.Link = link;
        QueueItems.push_back(std::move(item));
    }
    View.QueueChanged(QueueItems);
}

std::string DownloadSummaryText(int total, int succeeded) {
    std::string text =
        std::to_string(succeeded) + (succeeded == 1 ? " video downloaded" : " videos downloaded");
    if (total > succeeded)
        text += ", " + std::to_string(total - succeeded) + " failed";
    return text;
}

void TDownloadQueue::StartRun() {
    Vars.URLTotal = int(QueueItems.size());
    Vars.URLIndex = 0;
    Vars.URLSucceeded = 0;
    Vars.DownloadedFiles.clear();
    RunActive = true;
    CancelRequested = false;
    if (!AwakeLock.Take("Downloading videos"))
        View.Log("The computer may sleep during the downloading: the login manager gave no "
                 "sleep lock.");
    View.PostStep(dsFetchVideoInfo);
}

void TDownloadQueue::HandleStep(TDownloadStep step) {
    if (step == dsFetchVideoInfo)
        FetchVideoInfo();
    else if (step == dsTryNextQuality)
        TryNextQuality();
}

void TDownloadQueue::Cancel() {
    if (!RunActive)
        return;
    CancelRequested = true;
    bool waiting = false;
    for (TTransfer which : {tPage, tInfo, tStream})
        if (Active[which]) {
            Component(which).Abort(false, false);
            waiting = true;
        }
    // The resolver is ended at once; a part's transfer and a join report their stop.
    Resolver.Cancel();
    if (Fetcher.Active()) {
        Fetcher.Cancel();
        waiting = true;
    }
    if (Joiner.Active()) {
        Joiner.Cancel();
        waiting = true;
    }
    // Between transfers (the pause after the script, a posted step) nothing would report the
    // abort: the run ends now.
    if (!waiting)
        EndRun();
}

// ---- one video -------------------------------------------------------------------------------

void TDownloadQueue::FetchVideoInfo() {
    if (!RunActive)
        return;
    Vars.StreamURLs = {};
    if (CancelRequested || QueueItems.empty()) {
        EndRun();
        return;
    }
    if (Vars.URLIndex < 0 || Vars.URLIndex >= int(QueueItems.size()))
        return;
    const std::string link = QueueItems[size_t(Vars.URLIndex)].Caption;
    StatusLabels.CurrentFile = link;
    ShowLabels();
    ExternalRoute = false;
    ResolvedVideo = {};
    UnknownHeightTaken = false;
    // Every link when the resolver alone is asked, and links of other sites when they are
    // taken, go to the external resolver at once; other texts keep the built-in route.
    const bool serviceLink = IsVideoLink(link, VideoSiteDomain);
    if ((serviceLink || TakesAnySite()) &&
        (ResolverMode == TResolverMode::rmExternal || !serviceLink)) {
        StartResolver();
        return;
    }
    WhenIdle(tPage, [this, link] {
        if (!Start(tPage, link))
            VideoFailed();
    });
}

void TDownloadQueue::PageDone(TStream* stream) {
    if (CancelRequested) {
        EndRun();
        return;
    }
    const std::string page = StreamText(stream);
    TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
    item.URL = MakeVideoInfoURL(page, VideoSiteDomain);
    item.Caption = TitleAsUtf8(DecodeHtmlEntities(ExtractVideoTitle(page)));
    // A video without a title goes by its id (and its file is named after it).
    if (Trim(item.Caption).empty())
        item.Caption = TitleAsUtf8(VideoIdOf(item.URL));
    if (Trim(item.Caption).empty())
        item.Caption = "video";
    StatusLabels.CurrentFile = item.Caption;
    ShowItem();
    ShowLabels();
    const std::string url = item.URL;
    WhenIdle(tInfo, [this, url] {
        if (!Start(tInfo, url))
            BuiltinRouteFailed();
    });
}

void TDownloadQueue::InfoDone(TStream* stream) {
    if (CancelRequested) {
        EndRun();
        return;
    }
    try {
        RunStreamScript(StreamText(stream));
    } catch (const std::exception&) {
        // No script engine, or a handler of the script's events failed.
        VideoFailed();
        return;
    }
    if (!RunActive)
        return;
    Pause.Start(ScriptPause, [this] { AfterScript(); });
}

void TDownloadQueue::RunStreamScript(const std::string& answer) {
    ScriptHost.Lines = StreamScriptLines(answer);
    ScriptHost.Run();
}

void TDownloadQueue::ParseStreamList(const std::string& text) {
    cw::ParseStreamList(text, Vars.StreamURLs);
}

void TDownloadQueue::AfterScript() {
    if (!RunActive)
        return;
    if (CancelRequested) {
        EndRun();
        return;
    }
    if (ResolverMode != TResolverMode::rmBuiltin &&
        std::all_of(Vars.StreamURLs.begin(), Vars.StreamURLs.end(),
                    [](const std::string& url) { return url.empty(); })) {
        // The answer filled no slot (or said status=fail): the service's answer of today.
        StartResolver();
        return;
    }
    StartFirstAttempt();
}

// Both routes, once the streams are known: the status line, then the first quality attempt
// (the preferred one when the preference is on).
void TDownloadQueue::StartFirstAttempt() {
    ShowDownloadStatus("Analyzing finished, ready to download...", 0, 0, 0, "", 0, "");
    StatusLabels.Progress = 0;
    StatusLabels.ProgressText = "0%";
    const int attempt = Vars.PreferYouTubeQuality ? 1 : 0;
    Vars.QualityAttempt = attempt;
    StatusLabels.Quality = QualityDescription(AttemptName(attempt, PreferenceOrder(Vars)));
    ShowLabels();
    StartAttempt(attempt);
}

void TDownloadQueue::StartAttempt(int attempt) {
    if (ExternalRoute) {
        StartResolvedAttempt(attempt);
        return;
    }
    WhenIdle(tStream, [this, attempt] {
        const int slot = AttemptSlot(attempt, PreferenceOrder(Vars));
        // A quality the video does not offer has no address; the transfer fails at once.
        const std::string url = slot >= 0 ? Vars.StreamURLs[size_t(slot)] : std::string();
        if (!url.empty() && !IsWebAddress(url)) {
            // The answer names something other than a web address (a local file, say):
            // nothing is read from it.
            const std::string reason = "The stream address is not an http or https address: " + url;
            NoteReason(reason);
            ShowDownloadStatus("Refused: not an http or https address.", 0, 0, 0, "", 0, "");
            AttemptFailed();
            return;
        }
        DropTempFile();
        TempFile = CreateTempFile(Vars.OutputURLDir);
        if (TempFile.empty()) {
            // The download folder cannot take a file (gone, read-only, full).
            NoteReason("No file can be made in the download folder: " +
                       std::string(std::strerror(errno)));
            AttemptFailed();
            return;
        }
        WinHTTPDownload.OutputFileName = TempFile;
        if (!Start(tStream, url)) {
            DropTempFile();
            AttemptFailed();
        }
    });
}

void TDownloadQueue::StreamProgress(int64_t dataSize, int64_t bytesRead, int64_t elapsed,
                                    int64_t timeLeft, int percent, float rate) {
    StatusLabels.Quality =
        QualityDescription(AttemptName(Vars.QualityAttempt, PreferenceOrder(Vars)));
    // A stream that states no length has no time left, and its size is what has arrived.
    const bool known = dataSize > 0;
    if (!known)
        StatusLabels.TimeLeft = "...";
    if (Vars.URLIndex >= 0 && Vars.URLIndex < int(QueueItems.size())) {
        TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
        item.Received = bytesRead;
        item.Length = known ? dataSize : -1;
        item.BytesPerSecond = elapsed > 0 ? double(bytesRead) / double(elapsed)
                              : rate >= 0 ? double(rate) * 1024.0
                                          : 0.0;
    }
    ShowDownloadStatus("Downloading...", known ? dataSize : bytesRead, known ? timeLeft : 0,
                       elapsed, "", percent, SpeedText(bytesRead, elapsed, rate));
}

void TDownloadQueue::StreamDone(TStream* stream) {
    if (stream || TempFile.empty() || !FileExists(TempFile)) {
        // The answer did not go to the file (it could not be opened): a failed attempt.
        DropTempFile();
        AttemptFailed();
        return;
    }
    const std::string folder = AddTrailingBackslash(Vars.OutputURLDir);
    const std::string name =
        DownloadFileName(QueueItems[size_t(Vars.URLIndex)].Caption,
                         AttemptExtension(Vars.QualityAttempt, PreferenceOrder(Vars)));
    std::string path;
    int error = EEXIST;
    for (int tries = 0; tries < 100 && error == EEXIST; ++tries) {
        path = folder + UniqueFileName(name, folder);
        error = MoveNoReplace(TempFile, path);
    }
    if (error != 0) {
        NoteReason("The file cannot be saved as " + path + ": " + std::strerror(error));
        DropTempFile();
        AttemptFailed();
        return;
    }
    TempFile.clear();
    QueueItems[size_t(Vars.URLIndex)].Reason.clear();
    Vars.DownloadedFiles.push_back(path);
    ShowDownloadStatus("Finish.", 0, 0, 0, "", 0, "");
    ++Vars.URLSucceeded;
    NextVideo();
}

void TDownloadQueue::AttemptFailed() {
    if (Vars.PreferYouTubeQuality)
        View.PostStep(dsTryNextQuality);
    else
        VideoFailed();
}

void TDownloadQueue::TryNextQuality() {
    if (!RunActive)
        return;
    if (CancelRequested) {
        EndRun();
        return;
    }
    const int a = Vars.QualityAttempt;
    Vars.QualityAttempt = a + 1;
    if (a + 1 > LastQualityAttempt) {
        VideoFailed();
        return;
    }
    const TPreferenceOrder order = PreferenceOrder(Vars);
    StatusLabels.Quality =
        AttemptName(a, order) + " failed, try next: " + AttemptName(a + 1, order);
    StatusLabels.Progress = 0;
    StatusLabels.ProgressText = "0%";
    ShowLabels();
    StartAttempt(a + 1);
}

void TDownloadQueue::NoteReason(const std::string& reason) {
    if (Vars.URLIndex < 0 || Vars.URLIndex >= int(QueueItems.size()) || reason.empty())
        return;
    QueueItems[size_t(Vars.URLIndex)].Reason = reason;
    ShowItem();
}

void TDownloadQueue::BuiltinRouteFailed() {
    if (ResolverMode == TResolverMode::rmBuiltin || CancelRequested) {
        VideoFailed();
        return;
    }
    StartResolver();
}

void TDownloadQueue::VideoFailed() {
    ShowDownloadStatus("Failed.", 0, 0, 0, "", 0, "");
    NextVideo();
}

void TDownloadQueue::NextVideo() {
    ++Vars.URLIndex;
    if (Vars.URLIndex > Vars.URLTotal - 1)
        EndRun();
    else
        View.PostStep(dsFetchVideoInfo);
}

void TDownloadQueue::EndRun() {
    if (!RunActive)
        return;
    RunActive = false;
    CancelRequested = false;
    AwakeLock.Release();
    Pause.Cancel();
    Resolver.Cancel();
    DropTempFile();
    DropPartFiles();
    QueueItems.clear();
    View.QueueChanged(QueueItems);
    Vars.StreamURLs = {};
    for (std::string* label :
         {&StatusLabels.CurrentFile, &StatusLabels.Status, &StatusLabels.Speed,
          &StatusLabels.ElapsedTime, &StatusLabels.TimeLeft, &StatusLabels.Quality})
        *label = "...";
    StatusLabels.Progress = 0;
    StatusLabels.ProgressText = "0%";
    ShowLabels();
    View.RunEnded();
}

void TDownloadQueue::DropTempFile() {
    if (!TempFile.empty())
        ::unlink(TempFile.c_str());
    TempFile.clear();
}

// ---- status ----------------------------------------------------------------------------------

void TDownloadQueue::ShowDownloadStatus(const std::string& status, int64_t size, int64_t timeLeft,
                                        int64_t elapsed, const std::string& urlText, int percent,
                                        const std::string& speed) {
    if (Vars.URLIndex < 0 || Vars.URLIndex >= int(QueueItems.size()))
        return;
    TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
    if (!status.empty()) {
        item.Status = status;
        StatusLabels.Status = status;
    }
    if (size != 0)
        item.Size = FormatFloat("%.2fMB", double(size) / 1048576.0);
    if (!speed.empty()) {
        item.Speed = speed;
        StatusLabels.Speed = speed;
    }
    if (percent != 0) {
        item.Progress = std::to_string(percent) + "%";
        StatusLabels.ProgressText = item.Progress;
        StatusLabels.Progress = percent;
    }
    if (!urlText.empty())
        item.URL = urlText;
    if (elapsed != 0)
        StatusLabels.ElapsedTime = FormatSeconds(int(elapsed));
    if (timeLeft != 0)
        StatusLabels.TimeLeft = FormatSeconds(int(timeLeft));
    ShowItem();
    ShowLabels();
}

void TDownloadQueue::ShowItem() {
    if (Vars.URLIndex >= 0 && Vars.URLIndex < int(QueueItems.size()))
        View.ItemChanged(Vars.URLIndex, QueueItems[size_t(Vars.URLIndex)]);
}

void TDownloadQueue::ShowLabels() {
    View.LabelsChanged(StatusLabels);
}

} // namespace cw
