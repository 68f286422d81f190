#include "engine/JobPipeline.h"

#include "engine/FFApi.h"
#include "engine/Interrupt.h"
#include "engine/ThreadId.h"
#include "engine/Transcoder.h"

#include <climits>

namespace cw {

namespace {

// The pipeline whose input thread this is, if any.
thread_local const TJobPipeline* InputThreadOf = nullptr;

} // namespace

TJobPipeline::~TJobPipeline() {
    if (Input.joinable()) {
        Abort();
        Input.join();
    }
}

bool TJobPipeline::Suits(const TCustomFFmpeg& job) {
    if (job.SerialLoop || job.JoinMode || job.InputFiles.Inputs.size() != 1 ||
        job.OutputStreams.empty())
        return false;
    if (job.LimitFileSize != 0 || job.MaxVideoFrames != INT_MAX || job.MaxAudioFrames != INT_MAX ||
        job.MaxDataFrames != INT_MAX || job.RateEmulation)
        return false;
    // A timestamp repair compares a packet with the stream's last time, which the filter graph
    // of the output side may have set: that stays on one thread.
    const TInputFile& input = *job.InputFiles.Inputs[0];
    if ((input.Context->iformat->flags & AVFMT_TS_DISCONT) && !job.CopyTimestamps)
        return false;
    for (const auto& ist : job.InputStreams)
        if (ist->NeedsDecoding && ist->Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            return false;
    return true;
}

void TJobPipeline::Run() {
    Steps.clear();
    Aborted = false;
    InputError = nullptr;
    const size_t count = Job.InputStreams.size();
    Applied.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        TInputStream& ist = *Job.InputStreams[i];
        ist.View = {ist.Pts, ist.NextPts, ist.DecodedFrames, ist.Quality, ist.PtsVersion};
        Applied[i] = ist.PtsVersion;
    }
    Job.Pipelined = true;
    Job.LogV(llVerbose, "Reading and decoding on a thread of their own");
    Input = std::thread([this] { InputLoop(); });

    std::exception_ptr outputError;
    TStep step;
    while (Pop(step)) {
        try {
            Carry(step);
        } catch (...) {
            outputError = std::current_exception();
            Abort();
            break;
        }
        step = TStep();
    }
    Input.join();
    Job.Pipelined = false;
    Steps.clear();
    // The streams take the times the output side set last, unless the input side wrote after.
    for (size_t i = 0; i < count; ++i) {
        TInputStream& ist = *Job.InputStreams[i];
        if (ist.PtsVersion == Applied[i])
            ist.Pts = ist.View.Pts;
    }
    if (outputError)
        std::rethrow_exception(outputError);
    if (InputError)
        std::rethrow_exception(InputError);
}

bool TJobPipeline::Wanted() const {
    // The serial loop's choice for one input: read on while the input has not ended and some
    // output stream still takes a stream of it before the recording time.
    const TInputFile& input = *Job.InputFiles.Inputs[0];
    if (input.Eof)
        return false;
    for (const TOutputStream* ost : Job.OutputStreams)
        if (ost->Source && !ost->Source->PastRecordingTime)
            return true;
    return false;
}

void TJobPipeline::InputLoop() {
    InputThreadOf = this;
    // A blocking read is broken off by a stop request on this thread too.
    const bool checked = Job.StopCheckRegistered && InterruptRegistry();
    if (checked)
        InterruptRegistry()->AddCallback(
            CurrentThreadId(), MakeInterruptCallback<&TCustomFFmpeg::StopCheck>(&Job), &Job);
    try {
        TInputFile& input = *Job.InputFiles.Inputs[0];
        TPacketPtr packet(ff::av_packet_alloc());
        if (!packet)
            Job.Fail("av_mallocz fail");
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Aborted)
                    break;
            }
            if (Job.StopRequested || !Wanted())
                break;
            Job.Reading = true;
            const int result = ff::av_read_frame(input.Context.get(), packet.get());
            Job.Reading = false;
            if (result == AVERROR(EAGAIN)) {
                ff::av_usleep(10000);
                continue;
            }
            if (result < 0) {
                input.Eof = true;
                break;
            }
            input.NoPacket = false;
            Job.InputFiles.ProcessPacket(input, 0, packet.get());
            ff::av_packet_unref(packet.get());
            const int64_t now = ff::av_gettime();
            if (now - Job.LastReportTime > Job.ProgressIntervalUs) {
                Job.LastReportTime = now;
                QueueReport(0);
            }
        }
    } catch (...) {
        InputError = std::current_exception();
    }
    if (checked)
        InterruptRegistry()->RemoveCallback(
            CurrentThreadId(), MakeInterruptCallback<&TCustomFFmpeg::StopCheck>(&Job), &Job);
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
    step.Clocks.reserve(Job.InputStreams.size());
    for (const auto& ist : Job.InputStreams)
        step.Clocks.push_back(
            {ist->Pts, ist->NextPts, ist->DecodedFrames, ist->Quality, ist->PtsVersion});
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [&] { return Aborted || Steps.size() < QueueLength; });
    if (Aborted)
        return;
    Steps.push_back(std::move(step));
    Changed.notify_all();
}

bool TJobPipeline::Pop(TStep& step) {
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [&] { return !Steps.empty(); });
    step = std::move(Steps.front());
    Steps.pop_front();
    Changed.notify_all();
    return step.Kind != EKind::End;
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
        Job.Fail("av_mallocz fail");
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
        Job.Fail("av_mallocz fail");
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

void TJobPipeline::Carry(TStep& step) {
    for (size_t i = 0; i < step.Clocks.size(); ++i) {
        TInputStream& ist = *Job.InputStreams[i];
        const TClockEntry& clock = step.Clocks[i];
        ist.View.NextPts = clock.NextPts;
        ist.View.DecodedFrames = clock.DecodedFrames;
        ist.View.Quality = clock.Quality;
        if (clock.PtsVersion != Applied[i]) {
            ist.View.Pts = clock.Pts;
            Applied[i] = clock.PtsVersion;
        }
    }
    switch (step.Kind) {
    case EKind::Frame:
        Job.OutputDecoded(*step.Input, step.Frame.get());
        break;
    case EKind::Copy:
        Job.Copy.CopyPacket(*step.Output, *step.Input, step.Packet.get());
        break;
    case EKind::Fill:
        Job.FillMissing(step.Until);
        break;
    case EKind::Report:
        Job.Report(false, step.FileIndex);
        break;
    case EKind::End:
        break;
    }
}

} // namespace cw
