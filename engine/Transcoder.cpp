// The job's life cycle: start on the caller's thread or a worker, the run body with its
// guarded steps, the set-up of a run, the read loop, the end of a run, the progress report,
// stopping, the interrupt checks and the clean-up.
#include "engine/Transcoder.h"

#include "base/MainThread.h"
#include "engine/CodecLock.h"
#include "engine/FFLoader.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/OptionParsers.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"
#include "engine/UnicodeIO.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace cw {

std::mutex& CodecListLock() {
    static std::mutex lock;
    return lock;
}

std::mutex& PreviewLock() {
    static std::mutex lock;
    return lock;
}

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
    // Below-normal priorities lower the thread's nice value; raising it needs privileges
    // the program does not ask for, so higher priorities run as normal.
    static const int NiceValues[] = {19, 10, 5, 0, 0, 0, 0};
    if (NiceValues[Priority] > 0)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), NiceValues[Priority]);
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
    StrictOptions = true;
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

void TCustomFFmpeg::LogV(TLogLevel level, const std::string& text) const {
    Log(level, text);
}

TConvertThread* TCustomFFmpeg::Start(bool threaded, TConvertPriority priority) {
    if (Running || Terminated)
        return nullptr;
    // A job with released files is checked in its run, once they are open again.
    const char* missing = FilesReleased() ? nullptr : MissingFileText();
    if (missing) {
        CloseFiles(true);
        ReleaseOptions();
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
        for (TOutputStream* ost : OpenedEncoders) {
            ost->Encoder.reset();
            ost->EncoderOpen = false;
        }
        OpenedEncoders.clear();
    });
    guarded([this] {
        std::lock_guard<std::mutex> guard(CodecListLock());
        for (TInputStream* ist : OpenedDecoders) {
            Inputs[ist->FileIndex]->Decoders[ist->StreamIndex].reset();
            ist->Decoder = nullptr;
            ist->DecoderOpen = false;
        }
        OpenedDecoders.clear();
    });
    // A job that has run is not run again: its option state is freed rather than made
    // anew, so the finished tasks of a long list hold next to nothing.
    guarded([this] {
        CloseFiles(true);
        ReleaseOptions();
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

void TCustomFFmpeg::SetPreviewFlags(int flags) {
    std::shared_ptr<TPreviewer> closed;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        PreviewFlagBits = flags & (PreviewWindowFlag | PreviewBitmapFlag);
        PreviewFlagsChanged = true;
        if (!(PreviewFlagBits & PreviewWindowFlag))
            closed = std::move(Previewer);
    }
    // The window goes away outside the lock: closing it may wait for the main thread.
}

int TCustomFFmpeg::PreviewFlags() const {
    std::lock_guard<std::mutex> guard(PreviewLock());
    return PreviewFlagBits;
}

void TCustomFFmpeg::Fail(const std::string& text) {
    throw FFmpegException(text);
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

void TCustomFFmpeg::BuildInputTables() {
    const int64_t now = ff::av_gettime();
    for (size_t f = 0; f < Inputs.size(); ++f) {
        TInputFile& input = *Inputs[f];
        input.FirstStream = static_cast<int>(InputStreams.size());
        input.StreamCount = static_cast<int>(input.Context->nb_streams);
        input.Eof = false;
        input.NoPacket = false;
        for (int s = 0; s < input.StreamCount; ++s) {
            auto ist = std::make_unique<TInputStream>();
            ist->FileIndex = static_cast<int>(f);
            ist->StreamIndex = s;
            ist->Stream = input.Context->streams[s];
            ist->Decoder = input.Decoders[s].get();
            if (RateEmulation)
                ist->StartWallclock = now;
            InputStreams.push_back(std::move(ist));
        }
    }
}

void TCustomFFmpeg::SetUpRun() {
    VideoBytes = AudioBytes = ExtraBytes = DupFrames = DropFrames = 0;
    QpHistogram52.assign(52, 0);
    Packet.reset(ff::av_packet_alloc());
    EncodedPacket.reset(ff::av_packet_alloc());
    DecodedFrame.reset(ff::av_frame_alloc());
    if (!Packet || !EncodedPacket || !DecodedFrame)
        Fail("av_mallocz fail");

    JoinInput = 0;
    // The bitmaps of the hooks and the preview take the depth the output record asked for.
    InputHookConverter.SetBitsPixel(HookBitsPixel);
    OutputHookConverter.SetBitsPixel(HookBitsPixel);
    LastPreviewTime = INT64_MIN;
    BuildInputTables(); // 1
    MapStreams();       // 2, with the set-up of every output stream
    // 3, 4: decoders before encoders, since a subtitle encoder takes the header of the
    // opened decoder.
    OpenDecoders();
    OpenEncoders();
    for (auto& ist : InputStreams) { // 5
        AVRational rate = ist->Stream->avg_frame_rate;
        int delay = ist->Decoder ? ist->Decoder->has_b_frames : 0;
        ist->Pts = rate.num && rate.den ? -std::llround(delay * 1e6 / av_q2d(rate)) : 0;
        ist->NextPts = NoPtsValue;
        ist->IsStart = true;
    }
    ApplyMetadataMaps();           // 6
    WriteHeaders();                // 7
    DumpStreamMapping();           // 8
    TimerStart = ff::av_gettime(); // 9
    LastReportTime = TimerStart;
    for (auto& input : Inputs)
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
        StopCheckRegistered = true;
    }
}

void TCustomFFmpeg::ClearStopCheck() {
    if (StopCheckRegistered && InterruptRegistry())
        InterruptRegistry()->RemoveCallback(
            CurrentThreadId(), MakeInterruptCallback<&TCustomFFmpeg::StopCheck>(this), this);
    StopCheckRegistered = false;
}

void TCustomFFmpeg::OpenEncoders() {
    for (TOutputStream* ost : OutputStreams) {
        if (!ost->NeedsEncoding)
            continue;
        AVCodecContext* enc = ost->Encoder.get();
        const AVCodec* codec =
            ost->EncoderChoice ? ost->EncoderChoice : ff::avcodec_find_encoder(enc->codec_id);
        const std::string typeName = MediaTypeName(enc->codec_type);
        if (!codec) {
            DumpStreamMapping();
            std::string text = FormatText(
                "Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                static_cast<int>(enc->codec_id), ost->FileIndex, ost->Index, typeName.c_str());
            LogV(llError, text);
            Fail(text);
        }
        const AVCodecContext* dec = ost->Source ? ost->Source->Decoder : nullptr;
        if (dec && dec->subtitle_header && dec->subtitle_header_size > 0) {
            enc->subtitle_header =
                static_cast<uint8_t*>(ff::av_mallocz(dec->subtitle_header_size + 1));
            if (!enc->subtitle_header)
                Fail("av_malloc failed");
            std::copy_n(dec->subtitle_header, dec->subtitle_header_size, enc->subtitle_header);
            enc->subtitle_header_size = dec->subtitle_header_size;
        }
        int result;
        {
            TCodecLock lock;
            result = ff::avcodec_open2(enc, codec, nullptr);
        }
        if (result < 0) {
            DumpStreamMapping();
            std::string text = FormatText(
                "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                "parameters such as bit_rate, rate, width or height. Please check error log "
                "message to find out more detail information.",
                ost->FileIndex, ost->Index, typeName.c_str());
            LogV(llError, text);
            Fail(text);
        }
        ost->EncoderOpen = true;
        {
            std::lock_guard<std::mutex> guard(CodecListLock());
            OpenedEncoders.push_back(ost);
        }
        ExtraBytes += enc->extradata_size;
        if (ff::avcodec_parameters_from_context(ost->Stream->codecpar, enc) < 0)
            Fail("avcodec_parameters_from_context failed");
        ost->Stream->time_base = enc->time_base;
        ost->Stream->avg_frame_rate = enc->framerate;
        if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
            TAudioOutState& audio = ost->Audio;
            audio.Frame.reset(ff::av_frame_alloc());
            if (!audio.Frame)
                Fail("av_mallocz fail");
        }
    }
    for (TOutputStream* ost : OutputStreams)
        InitBitstreamFilters(*ost);
}

void TCustomFFmpeg::OpenDecoders() {
    for (auto& ist : InputStreams) {
        if (!ist->NeedsDecoding)
            continue;
        const std::string typeName = MediaTypeName(ist->Stream->codecpar->codec_type);
        const AVCodec* codec = Inputs[ist->FileIndex]->DecoderChoice[ist->StreamIndex];
        if (!codec)
            codec = ff::avcodec_find_decoder(ist->Stream->codecpar->codec_id);
        // The user sees which file cannot be used and why, not stream numbers.
        const std::string fileName =
            std::filesystem::path(Inputs[ist->FileIndex]->FileName).filename().string();
        const char* codecName = ff::avcodec_get_name(ist->Stream->codecpar->codec_id);
        if (!codec || !ist->Decoder)
            Fail(FormatText("%s cannot be used: no decoder is installed for its %s (%s, input "
                            "stream #%d.%d)",
                            fileName.c_str(), LowerText(typeName).c_str(), codecName,
                            ist->FileIndex, ist->StreamIndex));
        int result;
        {
            TCodecLock lock;
            result = ff::avcodec_open2(ist->Decoder, codec, nullptr);
        }
        if (result < 0)
            Fail(FormatText("%s cannot be used: the decoder of its %s (%s, input stream #%d.%d) "
                            "refused to open",
                            fileName.c_str(), LowerText(typeName).c_str(), codecName,
                            ist->FileIndex, ist->StreamIndex));
        ist->DecoderOpen = true;
        std::lock_guard<std::mutex> guard(CodecListLock());
        OpenedDecoders.push_back(ist.get());
    }
}

void TCustomFFmpeg::WriteHeaders() {
    for (size_t f = 0; f < Outputs.size(); ++f) {
        TOutputFile& output = *Outputs[f];
        if (ff::avformat_write_header(output.Context.get(), nullptr) < 0) {
            std::string text = FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(f));
            LogV(llError, text);
            Fail(text);
        }
        output.HeaderWritten = true;
    }
}

void TCustomFFmpeg::DumpStreamMapping() {
    for (size_t f = 0; f < Outputs.size(); ++f)
        ff::av_dump_format(Outputs[f]->Context.get(), static_cast<int>(f), Outputs[f]->FileName.c_str(),
                           1);
    if (Verbose < 0)
        return;
    LogV(llVerbose, "Stream mapping:");
    for (const TOutputStream* ost : OutputStreams) {
        if (!ost->Source)
            continue;
        std::string line = FormatText("  Stream #%d.%d -> #%d.%d (%s)", ost->Source->FileIndex,
                                      ost->Source->StreamIndex, JoinMode ? 0 : ost->FileIndex,
                                      ost->Index, MediaTypeName(ost->Type()).c_str());
        if (ost->SyncSource != ost->Source)
            line += FormatText(
                " [sync #%d.%d (%s)]", ost->SyncSource->FileIndex, ost->SyncSource->StreamIndex,
                MediaTypeName(ost->SyncSource->Stream->codecpar->codec_type).c_str());
        LogV(llVerbose, line);
    }
}

// -- the read loop -------------------------------------------------------------------------

int TCustomFFmpeg::ChooseInput() {
    if (JoinMode) {
        // The current input is read to its end; only the frame limits stop it earlier.
        for (const TOutputStream* ost : OutputStreams) {
            const AVMediaType type = ost->Type();
            const int64_t limit = type == AVMEDIA_TYPE_VIDEO   ? MaxVideoFrames
                                  : type == AVMEDIA_TYPE_AUDIO ? MaxAudioFrames
                                                               : MaxDataFrames;
            if (ost->FrameNumber >= limit)
                return -1;
        }
        return JoinInput < InputCount() && !Inputs[JoinInput]->Eof ? JoinInput : -1;
    }
    double iptsMin = 1e100;
    double optsMin = 1e100;
    int chosen = -1;
    for (const TOutputStream* ost : OutputStreams) {
        const TInputStream* ist = ost->Source;
        if (!ist)
            continue; // made of silence: it follows the others
        const TInputFile& input = *Inputs[ist->FileIndex];
        if (ist->PastRecordingTime || input.NoPacket)
            continue;
        const double ipts = static_cast<double>(ist->Pts);
        const double opts = ost->Seconds();
        if (!input.Eof) {
            if (ipts < iptsMin) {
                iptsMin = ipts;
                if (InputSync)
                    chosen = ist->FileIndex;
            }
            if (opts < optsMin) {
                optsMin = opts;
                if (!InputSync)
                    chosen = ist->FileIndex;
            }
        }
        const AVMediaType type = ost->Type();
        const int64_t limit = type == AVMEDIA_TYPE_VIDEO   ? MaxVideoFrames
                              : type == AVMEDIA_TYPE_AUDIO ? MaxAudioFrames
                                                           : MaxDataFrames;
        if (ost->FrameNumber >= limit)
            return -1;
    }
    return chosen;
}

void TCustomFFmpeg::ReadLoop() {
    while (!StopRequested) {
        const int fileIndex = ChooseInput();
        if (fileIndex < 0) {
            bool anyNoPacket = false;
            for (auto& input : Inputs)
                anyNoPacket = anyNoPacket || input->NoPacket;
            if (JoinMode || !anyNoPacket)
                break;
            for (auto& input : Inputs)
                input->NoPacket = false;
            ff::av_usleep(10000);
            continue;
        }
        if (LimitFileSize && !Outputs.empty() && Outputs[0]->Context->pb &&
            ff::avio_seek(Outputs[0]->Context->pb, 0, SEEK_CUR) >= LimitFileSize)
            break;

        TInputFile& input = *Inputs[fileIndex];
        Reading = true;
        const int result = ff::av_read_frame(input.Context.get(), Packet.get());
        Reading = false;
        if (result == AVERROR(EAGAIN)) {
            input.NoPacket = true;
            continue;
        }
        if (result < 0) {
            input.Eof = true;
            if (JoinMode) {
                if (StopRequested || !SwitchJoinInput())
                    break;
                continue;
            }
            if (Shortest)
                break;
            continue;
        }
        for (auto& other : Inputs)
            other->NoPacket = false;
        ProcessPacket(input, fileIndex, Packet.get());
        ff::av_packet_unref(Packet.get());

        const int64_t now = ff::av_gettime();
        if (now - LastReportTime > ProgressIntervalUs) {
            LastReportTime = now;
            Report(false, fileIndex);
        }
    }
}

bool TCustomFFmpeg::SwitchJoinInput() {
    const int k = JoinInput;
    const TInputFile& input = *Inputs[k];
    const bool last = k + 1 >= InputCount();
    // The decoders of this input give what they still hold. The encoders are drained only
    // after the last input: a drained encoder takes no further pictures, and opening it anew
    // would change the stream headers the output has already written. Later inputs of another
    // picture size, pixel format, sample rate or channel count are converted to the encoder's
    // by the scaler and the resampler of each output stream.
    JoinSwitching = !last;
    int64_t end = 0;
    for (int s = 0; s < input.StreamCount; ++s) {
        TInputStream& ist = *InputStreams[input.FirstStream + s];
        if (ist.NeedsDecoding && !ist.Flushed) {
            DecodeAndOutput(ist, nullptr);
            ist.Flushed = true;
            if (ist.DecoderOpen)
                ff::avcodec_flush_buffers(ist.Decoder);
        }
        if (!ist.Unused && ist.NextPts != NoPtsValue)
            end = std::max(end, ist.NextPts);
    }
    JoinSwitching = false;
    // The streams this input did not feed are brought up to its end.
    if (HasFillers)
        FillMissing(end);
    if (last)
        return false;
    // The next input follows the end reached by this one: the end of its longest stream.
    const int next = k + 1;
    for (TOutputStream* ost : OutputStreams) {
        if (ost->JoinSources.size() <= static_cast<size_t>(next))
            continue;
        ost->Source = ost->SyncSource = ost->JoinSources[next];
    }
    Inputs[next]->TsOffset += end;
    JoinInput = next;
    return true;
}

void TCustomFFmpeg::ProcessPacket(TInputFile& input, int fileIndex, AVPacket* packet) {
    if (DoPacketDump)
        ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, DoHexDump,
                             input.Context->streams[packet->stream_index]);
    if (packet->stream_index < 0 || packet->stream_index >= input.StreamCount)
        return;
    TInputStream& ist = *InputStreams[input.FirstStream + packet->stream_index];
    if (ist.Unused)
        return;
    const AVRational tb = ist.Stream->time_base;
    const int64_t offset = ff::av_rescale_q(input.TsOffset, AV_TIME_BASE_Q, tb);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += offset;
    if (packet->stream_index < static_cast<int>(input.TsScale.size())) {
        const double scale = input.TsScale[packet->stream_index];
        if (scale != 0) {
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts = std::llround(static_cast<double>(packet->dts) * scale);
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts = std::llround(static_cast<double>(packet->pts) * scale);
        }
    }

    if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != NoPtsValue &&
        (input.Context->iformat->flags & AVFMT_TS_DISCONT) && !CopyTimestamps) {
        const int64_t dts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);
        const int64_t delta = dts - ist.NextPts;
        if (std::llabs(delta) > static_cast<int64_t>(DtsDeltaThreshold * 1e6) ||
            dts + 1 < ist.Pts) {
            input.TsOffset -= delta;
            if (Verbose > 2)
                LogV(llVerbose, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                           static_cast<long long>(delta),
                                           static_cast<long long>(input.TsOffset)));
            const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
            packet->dts -= shift;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
        }
    }

    if (RecordingTime != INT64_MAX) {
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE &&
            ff::av_rescale_q(ts, tb, AV_TIME_BASE_Q) >= StartTime + RecordingTime) {
            ist.PastRecordingTime = true;
            return;
        }
    }

    if (DecodeAndOutput(ist, packet) < 0) {
        const std::string text =
            FormatText("Error while decoding stream #%d.%d (%s)", fileIndex, packet->stream_index,
                       MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
        if (ExitOnError)
            Fail(text);
        if (Verbose >= 0)
            LogV(llVerbose, text);
    }
    // Streams without a source keep pace with the ones that have one.
    if (HasFillers && ist.NextPts != NoPtsValue)
        FillMissing(ist.NextPts);
}

int64_t TCustomFFmpeg::ReachedEnd() const {
    int64_t end = 0;
    for (const auto& ist : InputStreams)
        if (!ist->Unused && ist->NextPts != NoPtsValue)
            end = std::max(end, ist->NextPts);
    return end;
}

void TCustomFFmpeg::EndRun() {
    for (auto& ist : InputStreams)
        if (ist->NeedsDecoding && !ist->Flushed) {
            DecodeAndOutput(*ist, nullptr);
            ist->Flushed = true;
        }
    // Streams without a source for the last stretch reach the end of the others, then give
    // what their encoders still hold.
    if (HasFillers) {
        FillMissing(ReachedEnd());
        for (TOutputStream* ost : OutputStreams)
            if (!ost->Source)
                FlushEncoder(*ost);
    }
    // Streams copied without decoding still have packets waiting in their bitstream filters.
    for (TOutputStream* ost : OutputStreams)
        if (!ost->NeedsEncoding && !ost->Filters.empty())
            FilterAndWrite(*ost, 0, nullptr);
    for (auto& output : Outputs)
        if (output->HeaderWritten)
            if (int result = ff::av_write_trailer(output->Context.get()); result < 0)
                Fail(ErrorText("av_write_trailer()", result));
    Report(true, -1);
    CloseRunCodecs();
    Finished = !StopRequested;
}

void TCustomFFmpeg::CloseRunCodecs() {
    std::lock_guard<std::mutex> guard(CodecListLock());
    for (TOutputStream* ost : OpenedEncoders) {
        ost->Encoder.reset();
        ost->EncoderOpen = false;
    }
    OpenedEncoders.clear();
    for (TInputStream* ist : OpenedDecoders) {
        Inputs[ist->FileIndex]->Decoders[ist->StreamIndex].reset();
        ist->Decoder = nullptr;
        ist->DecoderOpen = false;
    }
    OpenedDecoders.clear();
}

void TCustomFFmpeg::FreeRunTables() {
    CloseRunCodecs();
    for (TOutputStream* ost : OutputStreams) {
        ost->Filters.clear();
        ost->Video = TVideoOutState{};
        ost->Audio.Resampler.reset();
        ost->Audio.Fifo.reset();
        ost->Audio.Frame.reset();
        ost->Audio.Buffer.reset();
        ost->Audio.BufferSamples = 0;
        ost->Source = ost->SyncSource = nullptr;
        ost->JoinSources.clear();
        ost->PassLog.reset();
    }
    VStatsFile.reset();
    OutputStreams.clear();
    InputStreams.clear();
    Packet.reset();
    EncodedPacket.reset();
    DecodedFrame.reset();
    ClearStopCheck();
}

// -- the report ----------------------------------------------------------------------------

namespace {

double Psnr(double d) {
    return -10.0 * std::log10(d);
}

// "PSNR=" with the Y, U, V and whole-picture figures: of the last picture, or of all pictures
// for the last report.
std::string PsnrText(const TOutputStream& ost, bool last) {
    const AVCodecContext* enc = ost.Encoder.get();
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(enc->pix_fmt);
    const double frames = last ? static_cast<double>(std::max<int64_t>(ost.EncodedFrames, 1)) : 1;
    const uint64_t* error = last ? ost.TotalError : ost.LastError;
    std::string text = "PSNR=";
    double errorSum = 0;
    double scaleSum = 0;
    static const char Planes[] = "YUV";
    for (int j = 0; j < 3 && j < ost.ErrorPlanes; ++j) {
        double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0 * frames;
        if (j && desc)
            scale /= static_cast<double>(1 << (desc->log2_chroma_w + desc->log2_chroma_h));
        errorSum += static_cast<double>(error[j]);
        scaleSum += scale;
        text += FormatText("%c:%2.2f ", Planes[j], Psnr(static_cast<double>(error[j]) / scale));
    }
    text += FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
    return text;
}

} // namespace

void TCustomFFmpeg::Report(bool last, int fileIndex) {
    if (Outputs.empty())
        return;
    AVFormatContext* oc = Outputs[0]->Context.get();
    int64_t totalSize = 0;
    if (oc->pb) {
        totalSize = ff::avio_size(oc->pb);
        if (totalSize < 0)
            totalSize = ff::avio_seek(oc->pb, 0, SEEK_CUR);
        if (totalSize < 0)
            totalSize = 0;
    }
    std::string line;
    const double elapsed = static_cast<double>(ff::av_gettime() - TimerStart) / 1e6;
    double ti1 = 1e10;
    bool videoSeen = false;
    float quality = -1;
    int fps = -1;
    int frameNumber = -1;
    for (const TOutputStream* ost : OutputStreams) {
        const AVMediaType type = ost->Type();
        const double q = ost->NeedsEncoding ? ost->Quality : -1;
        if (type == AVMEDIA_TYPE_VIDEO && ost->Report) {
            if (!videoSeen) {
                frameNumber = static_cast<int>(ost->FrameNumber);
                fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
                quality = static_cast<float>(q);
                line += FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
                if (frameNumber < 1 && !last)
                    return;
                if (last)
                    line += "L";
                if (QpHistogram && q >= 0) {
                    const int qp = static_cast<int>(std::lrint(q));
                    if (qp >= 0 && qp < 52)
                        ++QpHistogram52[qp];
                    for (int j = 0; j < 32; ++j)
                        line += FormatText(
                            "%X", static_cast<int>(std::lrint(std::log2(QpHistogram52[j] + 1))));
                }
                if ((ost->Encoder->flags & AV_CODEC_FLAG_PSNR) && ost->ErrorPlanes > 0)
                    line += PsnrText(*ost, last);
                videoSeen = true;
            } else {
                line += FormatText("q=%2.1f ", q);
            }
        }
        const double t = ost->Seconds();
        if (t > 0 && t < ti1)
            ti1 = t;
    }
    if (ti1 < 0.01)
        ti1 = 0.01;

    if (OnProgress || Verbose > 0 || last) {
        const double bitrate = static_cast<double>(totalSize) * 8 / ti1 / 1000.0;
        line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                           static_cast<double>(totalSize) / 1024, ti1, bitrate);
        if (DupFrames || DropFrames)
            line += FormatText(" dup=%lld drop=%lld", static_cast<long long>(DupFrames),
                               static_cast<long long>(DropFrames));
        if (ReportDupDrop && OnProgress && Verbose >= 0) {
            LogV(llVerbose, line);
            ReportDupDrop = false;
        }
        if (OnProgress) {
            TJobProgress progress;
            progress.FileIndex = last ? -1 : fileIndex;
            progress.TotalDuration = TotalDuration;
            progress.CurrentDuration = static_cast<int64_t>(ti1 * 1e6);
            progress.CurrentSize = totalSize;
            progress.BitRate = static_cast<float>(bitrate);
            progress.Quality = videoSeen ? quality : -1.0f;
            progress.FPS = videoSeen ? fps : -1;
            progress.FrameNumber = videoSeen ? frameNumber : -1;
            OnProgress(this, progress);
        } else if (Verbose >= 0) {
            LogV(llVerbose, line);
        }
    }
    if (last && Verbose >= 0) {
        const double sum = static_cast<double>(VideoBytes + AudioBytes + ExtraBytes);
        LogV(llVerbose,
             FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                        "%f%%\r\n",
                        static_cast<double>(VideoBytes) / 1024,
                        static_cast<double>(AudioBytes) / 1024,
                        static_cast<double>(ExtraBytes) / 1024,
                        sum > 0 ? 100.0 * (static_cast<double>(totalSize) - sum) / sum : 0.0));
    }
}

// -- clean-up ------------------------------------------------------------------------------

const char* TCustomFFmpeg::MissingFileText() const {
    return Outputs.empty()  ? "At least one output file must be specified"
           : Inputs.empty() ? "At least one input file must be specified"
                            : nullptr;
}

void TCustomFFmpeg::Cleanup() {
    if (!FFLoader().LibsLoaded(EncoderLibraries))
        return;
    CloseFiles(true);
    ResetOptions();
}

void TCustomFFmpeg::ReleaseFiles() {
    if (!FFLoader().LibsLoaded(EncoderLibraries))
        return;
    CloseFiles(false);
    ReleaseOptions();
    // What opening the files and the output record set on the job is set again when they
    // are opened once more.
    JoinMode = false;
    TotalDuration = -1;
    AudioHook = false;
    VideoInputHook = false;
    VideoOutputHook = false;
    HookBitsPixel = 24;
}

void TCustomFFmpeg::CloseFiles(bool removeEmptyOutputs) {
    FreeRunTables();
    for (auto& output : Outputs) {
        AVFormatContext* context = output->Context.get();
        if (!context)
            continue;
        const bool writesFile = output->WritesFile();
        std::string path = FromLibraryFileName(context->url ? context->url : "");
        output->Streams.clear();
        output->Context.reset(); // closes the file access too

        std::error_code error;
        if (removeEmptyOutputs && writesFile && !path.empty() &&
            std::filesystem::is_regular_file(path, error) &&
            std::filesystem::file_size(path, error) == 0)
            std::filesystem::remove(path, error);
    }
    Outputs.clear();
    std::shared_ptr<TPreviewer> previewer;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        previewer = std::move(Previewer);
        PreviewFlagsChanged = true;
    }
    previewer.reset(); // outside the lock: the window may be closed on the main thread
    AudioHookBuffer.clear();
    AudioHookBuffer.shrink_to_fit();
    for (auto& input : Inputs) {
        input->Decoders.clear();
        input->Context.reset();
    }
    Inputs.clear();
}

} // namespace cw
