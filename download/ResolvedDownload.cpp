// The external route of the download queue: the resolver is asked once per link, and each
// quality attempt then takes the formats the preference table chooses, fetches the http ones
// into part files, joins picture and sound (or reads a manifest) by stream copy in the engine
// and saves the result under the video's title. Parts never stay behind.
#include "download/DownloadQueue.h"

#include "app/GlobalVars.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "download/SaveFiles.h"
#include "download/VideoLinks.h"
#include "net/HttpUtils.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cw {

namespace {

// Extensions a fetched whole file keeps as the answer names them.
bool IsKnownVideoExtension(const std::string& ext) {
    for (const char* known : {"mp4", "webm", "mkv", "3gp", "flv", "mov", "m4v", "ogv", "avi"})
        if (LowerCase(ext) == known)
            return true;
    return false;
}

std::string SpeedOf(double bytesPerSecond) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f KB/s", bytesPerSecond / 1024.0);
    return text;
}

} // namespace

void TDownloadQueue::StartResolver() {
    if (!RunActive)
        return;
    if (CancelRequested) {
        EndRun();
        return;
    }
    TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
    ShowDownloadStatus("Asking yt-dlp for the streams...", 0, 0, 0, "", 0, "");
    const int index = Vars.URLIndex;
    Resolver.Start(item.Link.empty() ? item.Caption : item.Link,
                   [this, index](const TExternalResolver::TOutcome& outcome) {
                       if (RunActive && Vars.URLIndex == index)
                           Resolved(outcome);
                   });
}

void TDownloadQueue::Resolved(const TExternalResolver::TOutcome& outcome) {
    if (CancelRequested || outcome.Cancelled) {
        EndRun();
        return;
    }
    if (outcome.VersionNew)
        View.Log("Stream resolver: yt-dlp " + outcome.Version);
    if (!outcome.Ok) {
        NoteReason(outcome.Reason);
        VideoFailed();
        return;
    }
    ResolvedVideo = outcome.Video;
    ExternalRoute = true;
    UnknownHeightTaken = false;
    TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
    item.Caption = TitleAsUtf8(ResolvedVideo.Title);
    if (Trim(item.Caption).empty())
        item.Caption = "video";
    StatusLabels.CurrentFile = item.Caption;
    StartFirstAttempt();
}

void TDownloadQueue::StartResolvedAttempt(int attempt) {
    if (!RunActive)
        return;
    const TPreferenceOrder order = PreferenceOrder(Vars);
    const int code =
        attempt >= 1 && attempt <= LastQualityAttempt ? order[size_t(attempt - 1)] : -1;
    TFormatChoice choice;
    if (!ChooseFormats(ResolvedVideo, code, !UnknownHeightTaken, choice)) {
        NoteReason("The video does not offer this quality.");
        AttemptFailed();
        return;
    }
    const auto& formats = ResolvedVideo.Formats;
    if (formats[size_t(choice.Picture)].Height == 0)
        UnknownHeightTaken = true;
    Parts.clear();
    Parts.push_back({choice.Picture, {}});
    if (choice.Joined()) {
        Parts.push_back({choice.Sound, {}});
    } else if (formats[size_t(choice.Picture)].IsManifest()) {
        // A variant of an HLS master that names a sound group carries no sound of its own:
        // the group's rendition is read beside it.
        int sound = -1;
        for (size_t i = 0; i < formats.size(); ++i) {
            const TResolvedFormat& f = formats[i];
            if (IsUsableFormat(f) && f.IsManifest() && !f.HasPicture() && f.HasSound() &&
                (sound < 0 || f.Tbr > formats[size_t(sound)].Tbr))
                sound = int(i);
        }
        if (sound >= 0)
            Parts.push_back({sound, {}});
    }
    for (const TPart& part : Parts) {
        const std::string& url = formats[size_t(part.Format)].Url;
        if (!IsWebAddress(url)) {
            ResolvedAttemptFailed("The stream address is not an http or https address: " + url);
            return;
        }
    }

    // Shares of the progress: the fetched parts by their sizes when all are known, the join
    // a tenth (all of it when nothing is fetched first).
    PartWeights.assign(Parts.size(), 0.0);
    int fetched = 0;
    int64_t known = 0;
    bool allKnown = true;
    for (const TPart& part : Parts) {
        const TResolvedFormat& f = formats[size_t(part.Format)];
        if (!f.IsHttp())
            continue;
        ++fetched;
        if (f.FileSize > 0)
            known += f.FileSize;
        else
            allKnown = false;
    }
    const bool joins = Parts.size() > 1 || !formats[size_t(Parts[0].Format)].IsHttp();
    JoinWeight = !joins ? 0.0 : fetched > 0 ? 0.1 : 1.0;
    for (size_t i = 0; i < Parts.size(); ++i) {
        const TResolvedFormat& f = formats[size_t(Parts[i].Format)];
        if (f.IsHttp())
            PartWeights[i] =
                (1.0 - JoinWeight) *
                (allKnown && known > 0 ? double(f.FileSize) / double(known) : 1.0 / fetched);
    }
    DoneWeight = 0;
    PartIndex = 0;
    AttemptStart = std::chrono::steady_clock::now();
    NextPart();
}

std::string TDownloadQueue::NewPartFile() {
    const std::string file = CreateTempFile(Vars.OutputURLDir);
    if (!file.empty())
        PartFiles.push_back(file);
    return file;
}

void TDownloadQueue::NextPart() {
    if (!RunActive)
        return;
    if (CancelRequested) {
        EndRun();
        return;
    }
    const auto& formats = ResolvedVideo.Formats;
    while (PartIndex < Parts.size()) {
        TPart& part = Parts[PartIndex];
        const TResolvedFormat& f = formats[size_t(part.Format)];
        if (!f.IsHttp()) {
            // A manifest: the engine's demuxer reads it in the join.
            part.Source = f.Url;
            ++PartIndex;
            continue;
        }
        part.Source = NewPartFile();
        if (part.Source.empty()) {
            ResolvedAttemptFailed("No file can be made in the download folder: " +
                                  std::string(std::strerror(errno)));
            return;
        }
        const double weight = PartWeights[PartIndex];
        Fetcher.Http.Timeouts = WinHTTPDownload.Timeouts;
        const bool started = Fetcher.Fetch(
            f, part.Source,
            [this, weight](int64_t received, int64_t total, double seconds, double rate) {
                TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
                item.Received = received;
                item.Length = total;
                item.BytesPerSecond = rate;
                const double share = total > 0 ? double(received) / double(total) : 0.0;
                ShowPartProgress(DoneWeight + weight * std::min(share, 1.0),
                                 total > 0 ? total : received, seconds, rate);
            },
            [this](TFormatFetcher::TResult result, const std::string& reason) {
                PartFetched(result, reason);
            });
        if (!started)
            ResolvedAttemptFailed("The transfer could not be started.");
        return;
    }
    const bool single = Parts.size() == 1 && formats[size_t(Parts[0].Format)].IsHttp();
    if (!single) {
        JoinParts();
        return;
    }
    const TResolvedFormat& f = formats[size_t(Parts[0].Format)];
    std::string extension = IsKnownVideoExtension(f.Ext) ? "." + LowerCase(f.Ext) : std::string();
    if (extension.empty()) {
        // The answer does not say what the file is: the file itself does.
        const TMediaFacts facts = Joiner.Probe(Parts[0].Source);
        extension = JoinContainerFor(facts.Picture, facts.Sound).Extension;
    }
    SaveResolved(Parts[0].Source, extension);
}

void TDownloadQueue::PartFetched(TFormatFetcher::TResult result, const std::string& reason) {
    if (!RunActive)
        return;
    if (result == TFormatFetcher::TResult::frAborted || CancelRequested) {
        EndRun();
        return;
    }
    if (result == TFormatFetcher::TResult::frFailed) {
        ResolvedAttemptFailed(reason);
        return;
    }
    DoneWeight += PartWeights[PartIndex];
    ++PartIndex;
    NextPart();
}

void TDownloadQueue::JoinParts() {
    const auto& formats = ResolvedVideo.Formats;
    std::vector<std::string> inputs;
    for (const TPart& part : Parts)
        inputs.push_back(part.Source);
    // The container follows the codecs; where the answer does not name them, the parts tell.
    std::string picture, sound;
    for (const TPart& part : Parts) {
        const TResolvedFormat& f = formats[size_t(part.Format)];
        if (picture.empty() && f.HasPicture())
            picture = f.VCodec.empty() && f.IsManifest() ? std::string() : PictureCodecFamily(f);
        if (sound.empty() && f.HasSound() && !(Parts.size() > 1 && f.HasPicture()))
            sound = f.ACodec.empty() && f.IsManifest() ? std::string() : SoundCodecFamily(f);
    }
    if (picture.empty() || sound.empty()) {
        for (const std::string& input : inputs) {
            const TMediaFacts facts = Joiner.Probe(input);
            if (picture.empty())
                picture = facts.Picture;
            if (sound.empty())
                sound = facts.Sound;
        }
    }
    const TJoinContainer container = JoinContainerFor(picture, sound);
    const std::string output = NewPartFile();
    if (output.empty()) {
        ResolvedAttemptFailed("No file can be made in the download folder: " +
                              std::string(std::strerror(errno)));
        return;
    }
    const bool fetched = JoinWeight < 1.0;
    ShowDownloadStatus(fetched ? "Joining picture and sound..." : "Downloading...", 0, 0, 0, "", 0,
                       "");
    std::string reason;
    const std::string extension = container.Extension;
    const bool started = Joiner.Join(
        inputs, output, container.Muxer,
        [this](double fraction) {
            ShowPartProgress(
                DoneWeight + JoinWeight * fraction, 0,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - AttemptStart)
                    .count(),
                0);
        },
        [this, output, extension](bool ok, bool aborted, const std::string& why) {
            if (!RunActive)
                return;
            if (aborted || CancelRequested) {
                EndRun();
                return;
            }
            if (!ok) {
                ResolvedAttemptFailed(why);
                return;
            }
            SaveResolved(output, extension);
        },
        reason);
    if (!started)
        ResolvedAttemptFailed(reason);
}

void TDownloadQueue::SaveResolved(const std::string& file, const std::string& extension) {
    TDownloadItem& item = QueueItems[size_t(Vars.URLIndex)];
    // What was saved, from the file itself.
    const TMediaFacts facts = Joiner.Probe(file);
    const std::string folder = AddTrailingBackslash(Vars.OutputURLDir);
    const std::string name = DownloadFileName(item.Caption, extension);
    std::string path;
    int error = EEXIST;
    for (int tries = 0; tries < 100 && error == EEXIST; ++tries) {
        path = folder + UniqueFileName(name, folder);
        error = MoveNoReplace(file, path);
    }
    if (error != 0) {
        ResolvedAttemptFailed("The file cannot be saved as " + path + ": " + std::strerror(error));
        return;
    }
    PartFiles.erase(std::remove(PartFiles.begin(), PartFiles.end(), file), PartFiles.end());
    DropPartFiles();
    int height = facts.Height;
    std::string picture = facts.Picture, sound = facts.Sound;
    if (!facts.Opened && !Parts.empty()) {
        const TResolvedFormat& f = ResolvedVideo.Formats[size_t(Parts[0].Format)];
        height = f.Height;
        picture = PictureCodecFamily(f);
    }
    item.Quality = SavedDescription(height, extension, picture, sound);
    item.Reason.clear();
    Vars.DownloadedFiles.push_back(path);
    View.Log("Saved " + path + ": " + item.Quality);
    ShowDownloadStatus("Finish.", 0, 0, 0, "", 100, "");
    ++Vars.URLSucceeded;
    NextVideo();
}

void TDownloadQueue::ResolvedAttemptFailed(const std::string& reason) {
    NoteReason(reason);
    DropPartFiles();
    AttemptFailed();
}

void TDownloadQueue::ShowPartProgress(double fraction, int64_t size, double seconds,
                                      double bytesPerSecond) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int percent = int(fraction * 100.0);
    const int64_t elapsed = int64_t(seconds);
    const int64_t left = fraction > 0.001 ? int64_t(seconds * (1.0 - fraction) / fraction) : 0;
    StatusLabels.Quality =
        QualityDescription(AttemptName(Vars.QualityAttempt, PreferenceOrder(Vars)));
    ShowDownloadStatus(Joiner.Active() && JoinWeight < 1.0 ? "" : "Downloading...", size, left,
                       elapsed, "", percent, bytesPerSecond > 0 ? SpeedOf(bytesPerSecond) : "");
}

void TDownloadQueue::DropPartFiles() {
    for (const std::string& file : PartFiles)
        ::unlink(file.c_str());
    PartFiles.clear();
}

} // namespace cw
