#include "download/PartJoin.h"

#include "app/Utils.h"
#include "base/MainThread.h"
#include "engine/EncoderOptions.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace cw {

namespace {

// "h264", "aac", ... from the engine's codec text ("h264 (avc1 / 0x31637661)" and the like).
std::string CodecFamily(const std::string& text) {
    std::string word;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            break;
        word += char(std::tolower(static_cast<unsigned char>(c)));
    }
    if (word == "libdav1d" || word == "libaom")
        return "av1";
    return word;
}

} // namespace

TPartJoiner::TPartJoiner() {
    Encoder.Verbosity = 0;
}

TPartJoiner::~TPartJoiner() {
    Shutdown();
}

void TPartJoiner::Shutdown() {
    *Alive = false;
    Running = false;
    Encoder.DetachEvents();
    if (Encoder.Working())
        Encoder.Stop(true);
}

bool TPartJoiner::Bind(std::string& reason) {
    if (Encoder.LibrariesLoaded())
        return true;
    if (BindFromLibraryFolders(ExecutableFolder(), [this](const std::string& folder) {
            return Encoder.LoadLibraries(folder);
        }))
        return true;
    reason = "The media libraries cannot be loaded: " + Encoder.LastErrMsg();
    return false;
}

bool TPartJoiner::Join(const std::vector<std::string>& inputs, const std::string& output,
                       const std::string& muxer, TProgress progress, TDone done,
                       std::string& reason) {
    if (Running || inputs.empty()) {
        reason = "The parts cannot be joined now.";
        return false;
    }
    if (!Bind(reason))
        return false;
    Encoder.ClearTasks();
    const int task = Encoder.AddTask(inputs[0]);
    bool ok = task >= 0;
    for (size_t i = 1; ok && i < inputs.size(); ++i)
        ok = Encoder.AddInputFile(task, inputs[i]);
    TOutputOptions options;
    options.FileFormat = muxer;
    options.VideoCodec = "copy";
    options.AudioCodec = "copy";
    options.DisableSubtitle = true;
    if (ok)
        ok = Encoder.SetOutputFile(task, output, &options);
    if (!ok) {
        reason = "The parts cannot be joined: " + Encoder.LastErrMsg();
        Encoder.ClearTasks();
        std::error_code ec;
        std::filesystem::remove(output, ec);
        return false;
    }
    Running = true;
    Cancelled = false;
    OnDone = std::move(done);
    Encoder.OnProgress = [progress = std::move(progress)](TFFEncoder*, PProgressInfo info) {
        if (progress && info && info->TotalDuration > 0)
            progress(std::min(1.0, double(info->CurrentDuration) / double(info->TotalDuration)));
    };
    // The task's outcome comes first, the end of the whole run after it; the files are
    // closed by then.
    auto outcome = std::make_shared<std::pair<bool, std::string>>(true, "");
    Encoder.OnTerminate = [this, alive = Alive, outcome](TFFEncoder*, const TTerminateInfo& info) {
        if (info.TaskIndex >= 0) {
            outcome->first = !info.Failed && info.Finished;
            outcome->second = info.ErrorMessage;
            return;
        }
        PostToMainThread([this, alive, outcome] {
            if (!*alive || !Running)
                return;
            Running = false;
            TDone done = std::move(OnDone);
            OnDone = nullptr;
            const bool aborted = Cancelled;
            const bool failed = !outcome->first;
            const std::string message = outcome->second;
            if (Encoder.AllDone() || !Encoder.Working())
                Encoder.ClearTasks();
            if (done)
                done(!failed && !aborted, aborted,
                     failed ? (message.empty() ? std::string("The parts could not be joined.")
                                               : "The parts could not be joined: " + message)
                            : std::string());
        });
    };
    Encoder.StartTask(1);
    return true;
}

void TPartJoiner::Cancel() {
    if (!Running)
        return;
    Cancelled = true;
    Encoder.Stop(false);
}

TMediaFacts TPartJoiner::Probe(const std::string& fileName) {
    TMediaFacts facts;
    std::string reason;
    if (!Bind(reason)) {
        facts.Error = reason;
        return facts;
    }
    TFFDecoder decoder;
    if (!decoder.LoadFile(fileName)) {
        facts.Error = decoder.LastErrMsg();
        return facts;
    }
    facts.Opened = true;
    if (decoder.FirstVideoStream() >= 0) {
        const TVideoStreamInfo v = decoder.GetVideoStreamInfo(-1);
        facts.Picture = CodecFamily(v.CodecName);
        facts.Height = v.Height > 0 ? v.Height : 0;
    }
    if (decoder.FirstAudioStream() >= 0)
        facts.Sound = CodecFamily(decoder.GetAudioStreamInfo(-1).CodecName);
    facts.DurationUs = decoder.GetFileStreamInfo().Duration;
    return facts;
}

} // namespace cw
