#include "engine/JobPipeline.h"

#include "base/ThreadPriority.h"
#include "engine/FFApi.h"
#include "engine/FFmpegException.h"
#include "engine/InputFiles.h"
#include "engine/Interrupt.h"
#include "engine/JobContext.h"
#include "engine/JobHooks.h"
#include "engine/OutputFiles.h"
#include "engine/StreamCopy.h"
#include "engine/ThreadId.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

#include <climits>

namespace cw {

namespace {

// The pipeline whose input thread this is, if any.
thread_local const TJobPipeline* InputThreadOf = nullptr;
// The pipeline whose audio lane this is, and the step the lane carries out.
thread_local const TJobPipeline* LaneOf = nullptr;
thread_local void* LaneStep = nullptr;

// The input thread and the audio lane run this many nice values below the job's thread. The
// video encoders of today thread themselves over every core; at the same priority the feeding
// threads take turns with the encoder's workers and hold up its rows, while a little below it
// they run in the gaps the encoder leaves, and the short queue keeps them ahead of it.
constexpr int FeederNiceSteps = 5;

} // namespace

TJobPipeline::~TJobPipeline() {
    StopLane();
    if (Input.joinable()) {
        Abort();
        Input.join();
    }
}

bool TJobPipeline::Suits() const {
    if (Ctx.SerialLoop || Ctx.JoinMode || Ctx.InputFiles.Inputs.size() != 1 ||
        Ctx.Tables.OutputStreams.empty())
        return false;
    if (Ctx.Options.LimitFileSize != 0 || Ctx.Options.MaxVideoFrames != INT_MAX ||
        Ctx.Options.MaxAudioFrames != INT_MAX || Ctx.Options.MaxDataFrames != INT_MAX ||
        Ctx.Options.RateEmulation)
        return false;
    // A timestamp repair compares a packet with the stream's last time, which the filter graph
    // of the output side may have set: that stays on one thread.
    const TInputFile& input = *Ctx.InputFiles.Inputs[0];
    if ((input.Context->iformat->flags & AVFMT_TS_DISCONT) && !Ctx.Options.CopyTimestamps)
        return false;
    for (const auto& ist : Ctx.Tables.InputStreams)
        if (ist->NeedsDecoding && ist->Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            return false;
    return true;
}

void TJobPipeline::Run() {
    Steps.clear();
    Aborted = false;
    InputError = nullptr;
    const size_t count = Ctx.Tables.InputStreams.size();
    Applied.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        TInputStream& ist = *Ctx.Tables.InputStreams[i];
        ist.View = {ist.Pts, ist.NextPts, ist.DecodedFrames, ist.Quality, ist.PtsVersion};
        Applied[i] = ist.PtsVersion;
    }
    LaneOn = LaneSuits();
    if (LaneOn) {
        LanePacket.reset(ff::av_packet_alloc());
        if (!LanePacket)
            Fail("av_mallocz fail");
        LaneOutputs.clear();
        for (const TOutputStream* ost : Ctx.Tables.OutputStreams)
            if (ost->Source && ost->NeedsEncoding && ost->Type() == AVMEDIA_TYPE_AUDIO)
                LaneOutputs.push_back(ost);
        ShiftHistory.assign(LaneOutputs.size(), {});
        LaneSteps.clear();
        LaneStopping = false;
        Executed = Current = 0;
    }
    Pipelined = true;
    LogV(llVerbose, LaneOn ? "Reading and decoding on a thread of their own, the sound on "
                             "another"
                           : "Reading and decoding on a thread of their own");
    if (LaneOn)
        Lane = std::thread([this] { LaneLoop(); });
    Input = std::thread([this] { InputLoop(); });

    std::exception_ptr outputError;
    std::deque<std::unique_ptr<TPending>> pending;
    uint64_t next = 0;
    bool ended = false;
    try {
        for (;;) {
            // Take in what has arrived, waiting only when there is nothing to carry out.
            while (!ended && pending.size() < LookAhead) {
                auto taken = std::make_unique<TPending>();
                const EPop got = Pop(taken->Step, pending.empty());
                if (got == EPop::None)
                    break;
                if (got == EPop::End) {
                    ended = true;
                    break;
                }
                taken->Index = next++;
                taken->Laned = LaneOn && ForLane(taken->Step);
                if (taken->Laned) {
                    std::lock_guard<std::mutex> guard(LaneLock);
                    LaneSteps.push_back(taken.get());
                    LaneChanged.notify_all();
                }
                pending.push_back(std::move(taken));
            }
            if (pending.empty()) {
                if (ended)
                    break;
                continue;
            }
            TPending& head = *pending.front();
            if (head.Laned) {
                {
                    std::unique_lock<std::mutex> guard(LaneLock);
                    Current = head.Index;
                    LaneChanged.wait(guard, [&] { return head.Done; });
                }
                if (head.Error)
                    std::rethrow_exception(head.Error);
                ApplyClocks(head.Step);
                for (auto& [ost, packet] : head.Packets)
                    Ctx.OutputFiles.MuxPacket(*ost, packet.get());
            } else {
                if (LaneOn) {
                    std::lock_guard<std::mutex> guard(LaneLock);
                    Current = head.Index;
                }
                Carry(head.Step);
            }
            if (LaneOn) {
                std::lock_guard<std::mutex> guard(LaneLock);
                Executed = head.Index + 1;
                LaneChanged.notify_all();
            }
            pending.pop_front();
        }
    } catch (...) {
        outputError = std::current_exception();
        Abort();
    }
    StopLane();
    Input.join();
    pending.clear();
    Steps.clear();
    Pipelined = false;
    LaneOn = false;
    // The streams take the times the output side set last, unless the input side wrote after.
    for (size_t i = 0; i < count; ++i) {
        TInputStream& ist = *Ctx.Tables.InputStreams[i];
        if (ist.PtsVersion == Applied[i])
            ist.Pts = ist.View.Pts;
    }
    if (outputError)
        std::rethrow_exception(outputError);
    if (InputError)
        std::rethrow_exception(InputError);
}

bool TJobPipeline::InputStopCheck(void*) {
    return Ctx.StopRequested && InputReading;
}

bool TJobPipeline::Wanted() const {
    // The serial loop's choice for one input: read on while the input has not ended and some
    // output stream still takes a stream of it before the recording time.
    const TInputFile& input = *Ctx.InputFiles.Inputs[0];
    if (input.Eof)
        return false;
    for (const TOutputStream* ost : Ctx.Tables.OutputStreams)
        if (ost->Source && !ost->Source->PastRecordingTime)
            return true;
    return false;
}

void TJobPipeline::InputLoop() {
    InputThreadOf = this;
    LowerCallingThread(FeederNiceSteps);
    // A blocking read is broken off by a stop request on this thread too. The job's thread
    // has its own check, which never sees this thread's reads: its writes that finish the
    // outputs must go through while this thread still waits for data.
    const bool checked = Ctx.Tables.StopCheckRegistered && InterruptRegistry();
    if (checked)
        InterruptRegistry()->AddCallback(
            CurrentThreadId(), MakeInterruptCallback<&TJobPipeline::InputStopCheck>(this), this);
    try {
        TInputFile& input = *Ctx.InputFiles.Inputs[0];
        TPacketPtr packet(ff::av_packet_alloc());
        if (!packet)
            Fail("av_mallocz fail");
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Aborted)
                    break;
            }
            if (Ctx.StopRequested || !Wanted())
                break;
            InputReading = true;
            const int result = ff::av_read_frame(input.Context.get(), packet.get());
            InputReading = false;
            if (result == AVERROR(EAGAIN)) {
                ff::av_usleep(10000);
                continue;
            }
            if (result < 0) {
                input.Eof = true;
                break;
            }
            input.NoPacket = false;
            Ctx.InputFiles.ProcessPacket(input, 0, packet.get());
            ff::av_packet_unref(packet.get());
            const int64_t now = ff::av_gettime();
            if (now - Ctx.Tables.LastReportTime > Ctx.ProgressIntervalUs) {
                Ctx.Tables.LastReportTime = now;
                QueueReport(0);
            }
        }
    } catch (...) {
        InputError = std::current_exception();
    }
    if (checked)
        InterruptRegistry()->RemoveCallback(
            CurrentThreadId(), MakeInterruptCallback<&TJobPipeline::InputStopCheck>(this), this);
    InputThreadOf = nullptr;
    std::lock_guard<std::mutex> guard(Lock);
    Steps.push_back(TStep());
    Changed.notify_all();
}

bool TJobPipeline::Queueing() const {
    return InputThreadOf == this;
}

void TJobPipeline::Push(TStep step) {
    // The clocks as the serial loop would have them at this point.
    step.Clocks.reserve(Ctx.Tables.InputStreams.size());
    for (const auto& ist : Ctx.Tables.InputStreams)
        step.Clocks.push_back(
            {ist->Pts, ist->NextPts, ist->DecodedFrames, ist->Quality, ist->PtsVersion});
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [&] { return Aborted || Steps.size() < QueueLength; });
    if (Aborted)
        return;
    Steps.push_back(std::move(step));
    Changed.notify_all();
}

TJobPipeline::EPop TJobPipeline::Pop(TStep& step, bool wait) {
    std::unique_lock<std::mutex> guard(Lock);
    if (wait)
        Changed.wait(guard, [&] { return !Steps.empty(); });
    if (Steps.empty())
        return EPop::None;
    step = std::move(Steps.front());
    Steps.pop_front();
    Changed.notify_all();
    return step.Kind == EKind::End ? EPop::End : EPop::Step;
}

void TJobPipeline::Abort() {
    std::lock_guard<std::mutex> guard(Lock);
    Aborted = true;
    Changed.notify_all();
}

void TJobPipeline::QueueFrame(TInputStream& ist, const AVFrame* frame) {
    TStep step;
    step.Kind = EKind::Frame;
    step.Input = &ist;
    step.Frame.reset(ff::av_frame_clone(frame));
    if (!step.Frame)
        Fail("av_mallocz fail");
    // The filter graph takes the decoder's pixel shape for a picture without one; it is read
    // here, where the decoder is used.
    if (ist.Video.FilterSource && !step.Frame->sample_aspect_ratio.num)
        step.Frame->sample_aspect_ratio = ist.Decoder->sample_aspect_ratio;
    Push(std::move(step));
}

void TJobPipeline::QueueCopy(TOutputStream& ost, TInputStream& ist, const AVPacket* packet) {
    TStep step;
    step.Kind = EKind::Copy;
    step.Input = &ist;
    step.Output = &ost;
    step.Packet.reset(ff::av_packet_clone(packet));
    if (!step.Packet)
        Fail("av_mallocz fail");
    Push(std::move(step));
}

void TJobPipeline::QueueFill(int64_t until) {
    TStep step;
    step.Kind = EKind::Fill;
    step.Until = until;
    Push(std::move(step));
}

void TJobPipeline::QueueReport(int fileIndex) {
    TStep step;
    step.Kind = EKind::Report;
    step.FileIndex = fileIndex;
    Push(std::move(step));
}

void TJobPipeline::ApplyClocks(const TStep& step) {
    for (size_t i = 0; i < step.Clocks.size(); ++i) {
        TInputStream& ist = *Ctx.Tables.InputStreams[i];
        const TClockEntry& clock = step.Clocks[i];
        ist.View.NextPts = clock.NextPts;
        ist.View.DecodedFrames = clock.DecodedFrames;
        ist.View.Quality = clock.Quality;
        if (clock.PtsVersion != Applied[i]) {
            ist.View.Pts = clock.Pts;
            Applied[i] = clock.PtsVersion;
        }
    }
}

void TJobPipeline::Carry(TStep& step) {
    ApplyClocks(step);
    switch (step.Kind) {
    case EKind::Frame:
        Ctx.Steps.OutputDecoded(*step.Input, step.Frame.get());
        break;
    case EKind::Copy:
        Ctx.Copy.CopyPacket(*step.Output, *step.Input, step.Packet.get());
        break;
    case EKind::Fill:
        Ctx.Steps.FillMissing(step.Until);
        break;
    case EKind::Report:
        Ctx.Steps.Report(false, step.FileIndex);
        break;
    case EKind::End:
        break;
    }
}

// -- the audio lane ------------------------------------------------------------------------

bool TJobPipeline::LaneSuits() const {
    // The sound hook stays on the job's thread, and streams made of silence are filled there
    // beside the others.
    if (Ctx.Hooks.AudioHookOn() || Ctx.Tables.HasFillers)
        return false;
    for (const TOutputStream* ost : Ctx.Tables.OutputStreams)
        if (ost->Source && ost->NeedsEncoding && ost->Type() == AVMEDIA_TYPE_AUDIO)
            return true;
    return false;
}

bool TJobPipeline::ForLane(const TStep& step) const {
    return step.Kind == EKind::Frame && step.Input->Decoder &&
           step.Input->Decoder->codec_type == AVMEDIA_TYPE_AUDIO;
}

void TJobPipeline::LaneLoop() {
    LaneOf = this;
    LowerCallingThread(FeederNiceSteps);
    for (;;) {
        TPending* step = nullptr;
        {
            std::unique_lock<std::mutex> guard(LaneLock);
            LaneChanged.wait(guard, [&] { return LaneStopping || !LaneSteps.empty(); });
            if (LaneStopping)
                break;
            step = LaneSteps.front();
            LaneSteps.pop_front();
        }
        LaneStep = step;
        std::exception_ptr error;
        try {
            Ctx.Steps.OutputDecoded(*step->Step.Input, step->Step.Frame.get());
        } catch (...) {
            error = std::current_exception();
        }
        LaneStep = nullptr;
        std::lock_guard<std::mutex> guard(LaneLock);
        step->Error = error;
        step->Done = true;
        LaneChanged.notify_all();
        if (error) {
            // The job ends at this step; the later ones are not carried out.
            LaneSteps.clear();
            break;
        }
    }
    LaneOf = nullptr;
}

void TJobPipeline::StopLane() {
    if (!Lane.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(LaneLock);
        LaneStopping = true;
        LaneChanged.notify_all();
    }
    Lane.join();
    LaneSteps.clear();
}

size_t TJobPipeline::StreamIndex(const TInputStream& ist) const {
    return size_t(Ctx.InputFiles.Inputs[ist.FileIndex]->FirstStream + ist.StreamIndex);
}

const TClockEntry* TJobPipeline::LaneClock(const TInputStream& ist) const {
    if (LaneOf != this || !LaneStep)
        return nullptr;
    auto* step = static_cast<TPending*>(LaneStep);
    const size_t index = StreamIndex(ist);
    if (&ist == step->Step.Input)
        return &step->Step.Clocks[index]; // the output side never sets a sound stream's time
    if (!step->Synced) {
        // Another stream's time as the serial loop has it here: what the job's thread has
        // when it has carried out every step before this one, with the input side's newer
        // writes from the step.
        std::unique_lock<std::mutex> guard(LaneLock);
        LaneChanged.wait(guard, [&] { return LaneStopping || Executed >= step->Index; });
        if (Executed < step->Index)
            throw FFmpegException("The run was stopped.");
        step->Merged = step->Step.Clocks;
        for (size_t i = 0; i < step->Merged.size(); ++i)
            if (step->Merged[i].PtsVersion == Applied[i])
                step->Merged[i].Pts = Ctx.Tables.InputStreams[i]->View.Pts;
        step->Synced = true;
    }
    return &step->Merged[index];
}

bool TJobPipeline::Capture(TOutputStream& ost, const AVPacket* packet) {
    if (LaneOf != this || !LaneStep)
        return false;
    TPacketPtr held(ff::av_packet_clone(packet));
    if (!held)
        Fail("av_mallocz fail");
    static_cast<TPending*>(LaneStep)->Packets.emplace_back(&ost, std::move(held));
    return true;
}

AVPacket* TJobPipeline::ScratchPacket() {
    return LaneOf == this ? LanePacket.get() : Ctx.Tables.EncodedPacket.get();
}

int64_t TJobPipeline::ShiftOf(const TOutputStream& ost) const {
    if (!LaneOn || LaneOf == this)
        return ost.SyncShift;
    for (size_t k = 0; k < LaneOutputs.size(); ++k) {
        if (LaneOutputs[k] != &ost)
            continue;
        // The lane may be further on: its value as of the steps before the current one.
        std::lock_guard<std::mutex> guard(LaneLock);
        int64_t shift = 0;
        for (const auto& [index, value] : ShiftHistory[k])
            if (index < Current)
                shift = value;
        return shift;
    }
    return ost.SyncShift;
}

void TJobPipeline::NoteShift(const TOutputStream& ost) {
    if (LaneOf != this || !LaneStep)
        return;
    const uint64_t index = static_cast<TPending*>(LaneStep)->Index;
    std::lock_guard<std::mutex> guard(LaneLock);
    for (size_t k = 0; k < LaneOutputs.size(); ++k)
        if (LaneOutputs[k] == &ost)
            ShiftHistory[k].emplace_back(index, ost.SyncShift);
}

// -- the clocks as the output side sees them -----------------------------------------------

void TJobPipeline::SetOutPts(TInputStream& ist, int64_t pts) const {
    (Pipelined ? ist.View.Pts : ist.Pts) = pts;
}

const TClockEntry& TJobPipeline::OutClock(const TInputStream& ist) const {
    const TClockEntry* lane = LaneClock(ist);
    return lane ? *lane : ist.View;
}

int64_t TJobPipeline::OutPts(const TInputStream& ist) const {
    return Pipelined ? OutClock(ist).Pts : ist.Pts;
}

int64_t TJobPipeline::OutNextPts(const TInputStream& ist) const {
    return Pipelined ? OutClock(ist).NextPts : ist.NextPts;
}

int64_t TJobPipeline::OutDecodedFrames(const TInputStream& ist) const {
    return Pipelined ? OutClock(ist).DecodedFrames : ist.DecodedFrames;
}

int TJobPipeline::OutQuality(const TInputStream& ist) const {
    return Pipelined ? OutClock(ist).Quality : ist.Quality;
}

int64_t TJobPipeline::ShiftMicroseconds(const TOutputStream& ost) const {
    const AVCodecContext* enc = ost.Encoder.get();
    const int64_t shift = ShiftOf(ost);
    if (!shift || !enc)
        return 0;
    if (ost.Type() == AVMEDIA_TYPE_AUDIO)
        return enc->sample_rate > 0 ? shift * AV_TIME_BASE / enc->sample_rate : 0;
    return ff::av_rescale_q(shift, enc->time_base, AV_TIME_BASE_Q);
}

bool TJobPipeline::ClockAgrees(const TInputStream& ist, AVMediaType kind, int64_t time) const {
    const TInputFile& input = *Ctx.InputFiles.Inputs[ist.FileIndex];
    for (int s = 0; s < input.StreamCount; ++s) {
        const TInputStream& other = *Ctx.Tables.InputStreams[input.FirstStream + s];
        if (&other == &ist || other.Unused || OutNextPts(other) == NoPtsValue ||
            other.Stream->codecpar->codec_type != kind)
            continue;
        // The other stream's time with the jumps its own output took out.
        const int64_t shift = other.Outputs.empty() ? 0 : ShiftMicroseconds(*other.Outputs[0]);
        if (std::llabs(OutPts(other) - shift - time) <=
            static_cast<int64_t>(Ctx.Options.DtsDeltaThreshold * 1e6))
            return true;
    }
    return false;
}

} // namespace cw
