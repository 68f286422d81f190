// The coordinator of a job: its life cycle (start on the caller's thread or a worker, the run
// body with its guarded steps), the set-up of a run over the parts, the read loop and the
// joining of inputs, the end of a run, stopping, the interrupt checks and the clean-up; also
// what the parts share: codec lookup by name and the filling of streams without a source.
#include "engine/Transcoder.h"

#include "base/MainThread.h"
#include "base/ThreadPriority.h"
#include "engine/FFLoader.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace cw {

std::mutex& CodecListLock() {
    static std::mutex lock;
    return lock;
}

namespace {

// "video", "audio", ... for worded errors.
const char* CodecKind(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

} // namespace

// -- events and the worker -----------------------------------------------------------------

void TJobEvent::Set() {
    std::lock_guard<std::mutex> guard(Lock);
    State = true;
    Changed.notify_all();
}

void TJobEvent::Reset() {
    std::lock_guard<std::mutex> guard(Lock);
    State = false;
}

bool TJobEvent::IsSet() const {
    std::lock_guard<std::mutex> guard(Lock);
    return State;
}

bool TJobEvent::Wait(int timeoutMs) const {
    std::unique_lock<std::mutex> guard(Lock);
    if (timeoutMs < 0) {
        Changed.wait(guard, [this] { return State; });
        return true;
    }
    return Changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return State; });
}

TConvertThread::TConvertThread(TCustomFFmpeg* job, TConvertPriority priority)
    : Job(job), Priority(priority) {}

void TConvertThread::Resume() {
    if (Started.exchange(true))
        return;
    std::thread([this] { Body(); }).detach();
}

void TConvertThread::Body() {
    // Below-normal priorities lower the thread through the program's one priority mapping;
    // raising it needs privileges the program does not ask for, so higher ones run as normal.
    static_assert(int(cpTimeCritical) == int(TPriorityLevel::TimeCritical));
    if (Priority < cpNormal)
        ApplyThreadPriority(pid_t(CurrentThreadId()), static_cast<TPriorityLevel>(Priority));
    TCustomFFmpeg* job = Job;
    job->Run();
    // The job may be destroyed as soon as DoneEvent is set: nothing of it is touched after.
    delete this;
    job->DoneEvent.Set();
}

// -- life cycle ----------------------------------------------------------------------------

TCustomFFmpeg::TCustomFFmpeg(int maxFiles) : MaxFiles(maxFiles) {
    if (maxFiles < 1 || maxFiles > 512)
        throw std::out_of_range(FormatText("MaxFiles %d is out of range 1..512", maxFiles));
    Options.StrictOptions = true;
}

TCustomFFmpeg::~TCustomFFmpeg() {
    OnProgress = nullptr;
    OnBeforeFindStreamInfo = nullptr;
    OnVideoInputHook = nullptr;
    OnVideoOutputHook = nullptr;
    OnAudioHook = nullptr;
    OnPreviewBitmap = nullptr;
    RequestStop(true);
    DoneEvent.Wait(-1);
    WaitServing([this] { return TerminateEvent.IsSet(); });
    if (FFLoader().LibsLoaded(EncoderLibraries))
        CloseFiles(true);
}

TConvertThread* TCustomFFmpeg::Start(bool threaded, TConvertPriority priority) {
    if (Running || Terminated)
        return nullptr;
    // A job with released files is checked in its run, once they are open again.
    const char* missing = FilesReleased() ? nullptr : MissingFileText();
    if (missing) {
        CloseFiles(true);
        Options.ReleaseOptions();
        LogV(llQuiet, missing);
        Failed = true;
        ErrorMessage = missing;
        NotifyTerminate();
        return nullptr;
    }
    Running = true;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    if (!threaded) {
        Run();
        return nullptr;
    }
    auto* worker = new TConvertThread(this, priority);
    DoneEvent.Reset();
    {
        std::lock_guard<std::mutex> guard(WorkerLock);
        Worker = worker;
    }
    return worker;
}

void TCustomFFmpeg::Run() {
    RunThread = CurrentThreadId();
    Finished = false;
    auto guarded = [this](auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            LogV(llQuiet, e.what());
            Failed = true;
            ErrorMessage = e.what();
        } catch (...) {
            LogV(llQuiet, "Unknown error");
            Failed = true;
            ErrorMessage = "Unknown error";
        }
    };
    bool ready = false;
    guarded([this, &ready] {
        ready = ReopenFiles();
        if (!ready) {
            LogV(llQuiet, ErrorMessage);
            Failed = true;
        } else if (const char* missing = MissingFileText()) {
            Fail(missing);
        }
    });
    if (ready && !Failed)
        guarded([this] { Transcode(); });
    guarded([this] {
        std::lock_guard<std::mutex> guard(CodecListLock());
        for (TOutputStream* ost : Tables.OpenedEncoders) {
            ost->Encoder.reset();
            ost->EncoderOpen = false;
        }
        Tables.OpenedEncoders.clear();
    });
    guarded([this] {
        std::lock_guard<std::mutex> guard(CodecListLock());
        for (TInputStream* ist : Tables.OpenedDecoders) {
            InputFiles.Inputs[ist->FileIndex]->Decoders[ist->StreamIndex].reset();
            ist->Decoder = nullptr;
            ist->DecoderOpen = false;
        }
        Tables.OpenedDecoders.clear();
    });
    // A job that has run is not run again: its option state is freed rather than made
    // anew, so the finished tasks of a long list hold next to nothing.
    guarded([this] {
        CloseFiles(true);
        Options.ReleaseOptions();
    });
    RunThread = 0;
    guarded([this] { NotifyTerminate(); });
}

void TCustomFFmpeg::NotifyTerminate() {
    if (Terminated.exchange(true))
        return;
    Running = false;
    {
        std::lock_guard<std::mutex> guard(WorkerLock);
        Worker = nullptr;
    }
    if (OnTerminate)
        OnTerminate(this);
}

void TCustomFFmpeg::RequestStop(bool wait) {
    StopRequested = true;
    std::unique_lock<std::mutex> guard(WorkerLock);
    if (Worker) {
        Worker->Resume();
        guard.unlock();
        // A handler of the job's own callbacks cannot wait for the run it is part of.
        if (wait && RunThread != CurrentThreadId()) {
            if (IsMainThread())
                WaitServing([this] { return DoneEvent.Wait(20); });
            else
                DoneEvent.Wait(-1);
        }
    } else {
        IoStart = 0;
    }
}

void TCustomFFmpeg::Stop(bool wait) {
    if (Running) {
        RequestStop(wait);
        return;
    }
    if (Terminated)
        return;
    TerminateEvent.Reset();
    std::thread([this] {
        NotifyTerminate();
        TerminateEvent.Set();
    }).detach();
    if (wait)
        WaitServing([this] { return TerminateEvent.Wait(20); });
}

bool TCustomFFmpeg::TimeoutCheck(void*) {
    const int64_t start = IoStart;
    if (start == IoIdle)
        return false;
    // A cancelled call (start 0) stops whatever the limit.
    if (start != 0 && (TimeoutMs <= 0 || ff::av_gettime() - start <= int64_t(TimeoutMs) * 1000))
        return false;
    LogV(llInfo,
         start == 0 ? "connecting/reading/writing canceled" : "connecting/reading/writing timeout");
    return true;
}

bool TCustomFFmpeg::StopCheck(void*) {
    // Only reads are broken off: the writes that finish the outputs must still go through.
    return StopRequested && Reading;
}

// -- the public surface, handed to the parts ----------------------------------------------

bool TJobOptions::OpenInput(const std::string& fileName) {
    return Inputs.OpenInput(fileName, *this);
}

int TJobOptions::OpenOutput(const std::string& fileName, bool join) {
    return Outputs.OpenOutput(fileName, join, *this);
}

void TJobOptions::NewOutputStream(AVMediaType type) {
    Outputs.NewOutputStream(type, *this);
}

void TJobOptions::SetupJoin() {
    Outputs.SetupJoin(*this);
    LimitTotalToRecordingTime();
}

int TJobOptions::InputCount() const {
    return Inputs.Count();
}

int TJobOptions::OutputCount() const {
    return Outputs.Count();
}

std::vector<AVRational> TJobOptions::InputVideoFrameRates() const {
    return Inputs.InputVideoFrameRates();
}

AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
    return InputFiles.InputContext(index);
}

AVFormatContext* TCustomFFmpeg::OutputContext(int index) const {
    return OutputFiles.OutputContext(index);
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
    Hooks.SetPreviewFlags(flags);
}

int TCustomFFmpeg::PreviewFlags() const {
    return Hooks.PreviewFlags();
}

// -- the transcode -------------------------------------------------------------------------

void TCustomFFmpeg::Transcode() {
    try {
        SetUpRun();
        ReadLoop();
    } catch (...) {
        ClearStopCheck();
        FreeRunTables();
        throw;
    }
    ClearStopCheck();
    try {
        EndRun();
    } catch (...) {
        FreeRunTables();
        throw;
    }
    FreeRunTables();
}

void TCustomFFmpeg::SetUpRun() {
    Counters.VideoBytes = Counters.AudioBytes = Counters.ExtraBytes = 0;
    Counters.DupFrames = Counters.DropFrames = 0;
    QpHistogram52.assign(52, 0);
    Tables.Packet.reset(ff::av_packet_alloc());
    Tables.EncodedPacket.reset(ff::av_packet_alloc());
    Tables.DecodedFrame.reset(ff::av_frame_alloc());
    if (!Tables.Packet || !Tables.EncodedPacket || !Tables.DecodedFrame)
        Fail("av_mallocz fail");

    JoinInput = 0;
    // The bitmaps of the hooks and the preview take the depth the output record asked for.
    Hooks.InputHookConverter.SetBitsPixel(Options.HookBitsPixel);
    Hooks.OutputHookConverter.SetBitsPixel(Options.HookBitsPixel);
    Hooks.StartRun();
    InputFiles.BuildInputTables(); // 1
    OutputFiles.MapStreams();      // 2, with the set-up of every output stream
    // 3, 4: decoders before encoders, since a subtitle encoder takes the header of the
    // opened decoder.
    InputFiles.OpenDecoders();
    OutputFiles.OpenEncoders();
    for (auto& ist : Tables.InputStreams) { // 5
        AVRational rate = ist->Stream->avg_frame_rate;
        int delay = ist->Decoder ? ist->Decoder->has_b_frames : 0;
        ist->Pts = rate.num && rate.den ? -std::llround(delay * 1e6 / av_q2d(rate)) : 0;
        ist->NextPts = NoPtsValue;
        ist->IsStart = true;
    }
    OutputFiles.ApplyMetadataMaps(); // 6
    OutputFiles.WriteHeaders();      // 7
    OutputFiles.DumpStreamMapping(); // 8
    TimerStart = ff::av_gettime();   // 9
    Tables.LastReportTime = TimerStart;
    for (auto& input : InputFiles.Inputs)
        input->NoPacket = false;
    // A read that blocks is broken off by a stop request: on a worker, and on any thread
    // that is not the main thread (a stop can then come from elsewhere).
    bool onWorker = false;
    {
        std::lock_guard<std::mutex> guard(WorkerLock);
        onWorker = Worker != nullptr;
    }
    if ((onWorker || !IsMainThread()) && InterruptRegistry()) {
        InterruptRegistry()->AddCallback(
            CurrentThreadId(), MakeInterruptCallback<&TCustomFFmpeg::StopCheck>(this), this);
        Tables.StopCheckRegistered = true;
    }
}

void TCustomFFmpeg::ClearStopCheck() {
    if (Tables.StopCheckRegistered && InterruptRegistry())
        InterruptRegistry()->RemoveCallback(
            CurrentThreadId(), MakeInterruptCallback<&TCustomFFmpeg::StopCheck>(this), this);
    Tables.StopCheckRegistered = false;
}

// -- the read loop -------------------------------------------------------------------------

int TCustomFFmpeg::ChooseInput() {
    if (JoinMode) {
        // The current input is read to its end; only the frame limits stop it earlier.
        for (const TOutputStream* ost : Tables.OutputStreams) {
            const AVMediaType type = ost->Type();
            const int64_t limit = type == AVMEDIA_TYPE_VIDEO   ? Options.MaxVideoFrames
                                  : type == AVMEDIA_TYPE_AUDIO ? Options.MaxAudioFrames
                                                               : Options.MaxDataFrames;
            if (ost->FrameNumber >= limit)
                return -1;
        }
        return JoinInput < InputCount() && !InputFiles.Inputs[JoinInput]->Eof ? JoinInput : -1;
    }
    double iptsMin = 1e100;
    double optsMin = 1e100;
    int chosen = -1;
    for (const TOutputStream* ost : Tables.OutputStreams) {
        const TInputStream* ist = ost->Source;
        if (!ist)
            continue; // made of silence: it follows the others
        const TInputFile& input = *InputFiles.Inputs[ist->FileIndex];
        if (ist->PastRecordingTime || input.NoPacket)
            continue;
        const double ipts = static_cast<double>(ist->Pts);
        const double opts = ost->Seconds();
        if (!input.Eof) {
            if (ipts < iptsMin) {
                iptsMin = ipts;
                if (Options.InputSync)
                    chosen = ist->FileIndex;
            }
            if (opts < optsMin) {
                optsMin = opts;
                if (!Options.InputSync)
                    chosen = ist->FileIndex;
            }
        }
        const AVMediaType type = ost->Type();
        const int64_t limit = type == AVMEDIA_TYPE_VIDEO   ? Options.MaxVideoFrames
                              : type == AVMEDIA_TYPE_AUDIO ? Options.MaxAudioFrames
                                                           : Options.MaxDataFrames;
        if (ost->FrameNumber >= limit)
            return -1;
    }
    return chosen;
}

void TCustomFFmpeg::ReadLoop() {
    if (Pipe.Suits()) {
        Pipe.Run();
        return;
    }
    while (!StopRequested) {
        const int fileIndex = ChooseInput();
        if (fileIndex < 0) {
            bool anyNoPacket = false;
            for (auto& input : InputFiles.Inputs)
                anyNoPacket = anyNoPacket || input->NoPacket;
            if (JoinMode || !anyNoPacket)
                break;
            for (auto& input : InputFiles.Inputs)
                input->NoPacket = false;
            ff::av_usleep(10000);
            continue;
        }
        if (Options.LimitFileSize && !OutputFiles.Outputs.empty() &&
            OutputFiles.Outputs[0]->Context->pb &&
            ff::avio_seek(OutputFiles.Outputs[0]->Context->pb, 0, SEEK_CUR) >=
                Options.LimitFileSize)
            break;

        TInputFile& input = *InputFiles.Inputs[fileIndex];
        Reading = true;
        const int result = ff::av_read_frame(input.Context.get(), Tables.Packet.get());
        Reading = false;
        if (result == AVERROR(EAGAIN)) {
            input.NoPacket = true;
            // A join reads its one current input: nothing else can be read meanwhile, so
            // the loop waits as it does when no input has a packet, instead of asking again
            // at once.
            if (JoinMode)
                ff::av_usleep(10000);
            continue;
        }
        if (result < 0) {
            input.Eof = true;
            if (JoinMode) {
                if (StopRequested || !SwitchJoinInput())
                    break;
                continue;
            }
            if (Options.Shortest)
                break;
            continue;
        }
        for (auto& other : InputFiles.Inputs)
            other->NoPacket = false;
        InputFiles.ProcessPacket(input, fileIndex, Tables.Packet.get());
        ff::av_packet_unref(Tables.Packet.get());

        const int64_t now = ff::av_gettime();
        if (now - Tables.LastReportTime > ProgressIntervalUs) {
            Tables.LastReportTime = now;
            Report(false, fileIndex);
        }
    }
}

bool TCustomFFmpeg::SwitchJoinInput() {
    const int k = JoinInput;
    const TInputFile& input = *InputFiles.Inputs[k];
    const bool last = k + 1 >= InputCount();
    // The decoders of this input give what they still hold. The encoders are drained only
    // after the last input: a drained encoder takes no further pictures, and opening it anew
    // would change the stream headers the output has already written. Later inputs of another
    // picture size, pixel format, sample rate or channel count are converted to the encoder's
    // by the scaler and the resampler of each output stream.
    Tables.JoinSwitching = !last;
    int64_t end = 0;
    for (int s = 0; s < input.StreamCount; ++s) {
        TInputStream& ist = *Tables.InputStreams[input.FirstStream + s];
        if (ist.NeedsDecoding && !ist.Flushed) {
            InputFiles.DecodeAndOutput(ist, nullptr);
            ist.Flushed = true;
            if (ist.DecoderOpen)
                ff::avcodec_flush_buffers(ist.Decoder);
        }
        if (!ist.Unused && ist.NextPts != NoPtsValue)
            end = std::max(end, ist.NextPts);
    }
    Tables.JoinSwitching = false;
    // The streams this input did not feed are brought up to its end.
    if (Tables.HasFillers)
        FillMissing(end);
    if (last)
        return false;
    // The next input follows the end reached by this one: the end of its longest stream.
    const int next = k + 1;
    for (TOutputStream* ost : Tables.OutputStreams) {
        if (ost->JoinSources.size() <= static_cast<size_t>(next))
            continue;
        ost->Source = ost->SyncSource = ost->JoinSources[next];
    }
    InputFiles.Inputs[next]->TsOffset += end;
    JoinInput = next;
    return true;
}

int64_t TCustomFFmpeg::ReachedEnd() const {
    int64_t end = 0;
    for (const auto& ist : Tables.InputStreams)
        if (!ist->Unused && ist->NextPts != NoPtsValue)
            end = std::max(end, ist->NextPts);
    return end;
}

void TCustomFFmpeg::EndRun() {
    for (auto& ist : Tables.InputStreams)
        if (ist->NeedsDecoding && !ist->Flushed) {
            InputFiles.DecodeAndOutput(*ist, nullptr);
            ist->Flushed = true;
        }
    // Streams without a source for the last stretch reach the end of the others, then give
    // what their encoders still hold.
    if (Tables.HasFillers) {
        FillMissing(ReachedEnd());
        for (TOutputStream* ost : Tables.OutputStreams)
            if (!ost->Source)
                OutputFiles.FlushEncoder(*ost);
    }
    // Streams copied without decoding still have packets waiting in their bitstream filters.
    for (TOutputStream* ost : Tables.OutputStreams)
        if (!ost->NeedsEncoding && !ost->Filters.empty())
            Copy.FilterAndWrite(*ost, 0, nullptr);
    OutputFiles.WriteTrailers();
    Report(true, -1);
    CloseRunCodecs();
    Finished = !StopRequested;
}

void TCustomFFmpeg::CloseRunCodecs() {
    std::lock_guard<std::mutex> guard(CodecListLock());
    for (TOutputStream* ost : Tables.OpenedEncoders) {
        ost->Encoder.reset();
        ost->EncoderOpen = false;
    }
    Tables.OpenedEncoders.clear();
    for (TInputStream* ist : Tables.OpenedDecoders) {
        InputFiles.Inputs[ist->FileIndex]->Decoders[ist->StreamIndex].reset();
        ist->Decoder = nullptr;
        ist->DecoderOpen = false;
    }
    Tables.OpenedDecoders.clear();
}

void TCustomFFmpeg::FreeRunTables() {
    CloseRunCodecs();
    for (TOutputStream* ost : Tables.OutputStreams) {
        ost->Filters.clear();
        ost->Video = TVideoOutState{};
        ost->Audio.Resampler.reset();
        ost->Audio.Fifo.reset();
        ost->Audio.Frame.reset();
        ost->Audio.Buffer.reset();
        ost->Audio.BufferSamples = 0;
        ost->Source = ost->SyncSource = nullptr;
        ost->JoinSources.clear();
    }
    VideoPath.CloseVideoStats();
    Tables.OutputStreams.clear();
    Tables.InputStreams.clear();
    Tables.Packet.reset();
    Tables.EncodedPacket.reset();
    Tables.DecodedFrame.reset();
    ClearStopCheck();
}

// -- clean-up ------------------------------------------------------------------------------

const char* TCustomFFmpeg::MissingFileText() const {
    return OutputFiles.Outputs.empty() ? "At least one output file must be specified"
           : InputFiles.Inputs.empty() ? "At least one input file must be specified"
                                       : nullptr;
}

void TCustomFFmpeg::Cleanup() {
    if (!FFLoader().LibsLoaded(EncoderLibraries))
        return;
    CloseFiles(true);
    Options.ResetOptions();
}

void TCustomFFmpeg::ReleaseFiles() {
    if (!FFLoader().LibsLoaded(EncoderLibraries))
        return;
    CloseFiles(false);
    Options.ReleaseOptions();
    // What opening the files and the output record set on the job is set again when they
    // are opened once more.
    JoinMode = false;
    Options.TotalDuration = -1;
    Options.AudioHook = false;
    Options.VideoInputHook = false;
    Options.VideoOutputHook = false;
    Options.HookBitsPixel = 24;
}

void TCustomFFmpeg::CloseFiles(bool removeEmptyOutputs) {
    FreeRunTables();
    OutputFiles.CloseOutputs(removeEmptyOutputs);
    Hooks.Release();
    InputFiles.CloseInputs();
}

// -- shared by the parts -------------------------------------------------------------------

const AVCodec* FindCodecByName(const TTranscoderOptions& options, const std::string& name,
                               AVMediaType type, bool encoder, std::string& openError) {
    if (name.empty())
        return nullptr;
    const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                   : ff::avcodec_find_decoder_by_name(name.c_str());
    std::string error;
    if (!codec) {
        error = FormatText("Unknown %s '%s'", CodecKind(encoder), name.c_str());
    } else if (codec->type != type) {
        error = FormatText("Invalid %s type '%s'", CodecKind(encoder), name.c_str());
    } else if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && options.CodecTemplate(type) &&
               options.CodecTemplate(type)->strict_std_compliance > FF_COMPLIANCE_EXPERIMENTAL) {
        error = FormatText("%s '%s' is experimental and might produce bad results.\r\n"
                           "Add '-strict experimental' if you want to use it.",
                           encoder ? "Encoder" : "Decoder", name.c_str());
        void* it = nullptr;
        while (const AVCodec* other = ff::av_codec_iterate(&it)) {
            bool sameSide =
                encoder ? ff::av_codec_is_encoder(other) != 0 : ff::av_codec_is_decoder(other) != 0;
            if (sameSide && other->id == codec->id &&
                !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
                error += "\r\n" + FormatText("Or use the non experimental %s '%s'.",
                                             CodecKind(encoder), other->name);
                break;
            }
        }
    }
    if (!error.empty()) {
        openError = error;
        throw FFmpegException(error);
    }
    return codec;
}

void TCustomFFmpeg::OutputDecoded(TInputStream& ist, AVFrame* frame) {
    const AVMediaType type = ist.Decoder->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
        Hooks.PrepareVideoInput(ist, frame);
    } else {
        Hooks.RunAudioHook(ist, frame);
        if (Options.AudioVolume != 256)
            AudioPath.ApplyVolume(frame);
    }
    if (Options.RateEmulation) {
        const int64_t elapsed = ff::av_gettime() - ist.StartWallclock;
        if (ist.Pts > elapsed + 1000)
            ff::av_usleep(static_cast<unsigned>(std::min<int64_t>(ist.Pts - elapsed, UINT_MAX)));
    }
    if (Options.StartTime != 0 && Pipe.OutPts(ist) < Options.StartTime)
        return;
    if (type == AVMEDIA_TYPE_VIDEO) {
        if (ist.Video.FilterSource)
            VideoPath.FilterVideo(ist, frame);
        else
            VideoPath.OutputVideo(ist, frame);
        return;
    }
    for (TOutputStream* ost : ist.Outputs)
        if (ost->NeedsEncoding)
            AudioPath.DoAudioOut(*ost, ist, frame);
}

void TCustomFFmpeg::FillMissing(int64_t until) {
    for (TOutputStream* ost : Tables.OutputStreams) {
        if (ost->Source || !ost->NeedsEncoding || !ost->EncoderOpen || ost->EncoderFlushed)
            continue;
        if (ost->Type() == AVMEDIA_TYPE_AUDIO)
            AudioPath.FillSilence(*ost, until);
        else if (ost->Type() == AVMEDIA_TYPE_VIDEO)
            VideoPath.FillBlack(*ost, until);
    }
}

} // namespace cw
