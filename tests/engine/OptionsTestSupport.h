// Shared pieces of the option tests: a job whose file layer records what each open sees
// instead of opening files (opening belongs to the files-and-streams layer), a fixture that
// binds the real libraries and collects the engine's log lines, and helpers that open and run
// real encoders with a job's library options.
#pragma once

#include "EngineTestSupport.h"

#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/Owners.h"
#include "engine/TranscoderOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace cw::test {

// What the file layer saw when it was asked to open something.
struct TOpenCall {
    std::string FileName;
    bool Join = false;
    AVMediaType StreamType = AVMEDIA_TYPE_UNKNOWN; // for a further stream
    TTranscoderOptionValues State;
};

class TRecordingJob : public TTranscoderOptions {
public:
    std::vector<TOpenCall> Inputs;
    std::vector<TOpenCall> Outputs;
    std::vector<TOpenCall> Streams;
    int JoinSetups = 0;
    bool FailOutput = false;
    std::vector<AVRational> VideoRates; // what opened inputs would report

    bool OpenInput(const std::string& fileName) override {
        Inputs.push_back({fileName, false, AVMEDIA_TYPE_UNKNOWN, Values()});
        FileFormat.clear();
        ConsumeInputOptions();
        return true;
    }
    int OpenOutput(const std::string& fileName, bool join) override {
        if (FailOutput)
            return -1;
        Outputs.push_back({fileName, join, AVMEDIA_TYPE_UNKNOWN, Values()});
        FileFormat.clear();
        ConsumeVideoStreamOptions();
        ConsumeAudioStreamOptions();
        ConsumeSubtitleStreamOptions();
        ConsumeOutputOptions();
        return static_cast<int>(Outputs.size());
    }
    void NewOutputStream(AVMediaType type) override {
        Streams.push_back({Outputs.back().FileName, false, type, Values()});
        if (type == AVMEDIA_TYPE_VIDEO)
            ConsumeVideoStreamOptions();
        else if (type == AVMEDIA_TYPE_AUDIO)
            ConsumeAudioStreamOptions();
        else
            ConsumeSubtitleStreamOptions();
    }
    void SetupJoin() override { ++JoinSetups; }
    int InputCount() const override { return static_cast<int>(Inputs.size()); }
    int OutputCount() const override { return static_cast<int>(Outputs.size()); }
    std::vector<AVRational> InputVideoFrameRates() const override { return VideoRates; }

    TTranscoderOptionValues Values() const { return *this; }
};

// Binds the libraries, makes a job, and collects the log lines of the engine's logger.
class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        BindEncoderLibraries();
        Logger = std::make_unique<TFFLogger>();
        Logger->TriggerEventInMainThread = false;
        Logger->SetLogLevel(llInfo);
        Logger->OnLog = [this](TFFLogger*, uint32_t, TLogLevel level, const std::string& text) {
            Lines.push_back({level, text});
        };
        Job = std::make_unique<TRecordingJob>();
    }
    void TearDown() override {
        Job.reset();
        Logger.reset();
    }

    bool Logged(TLogLevel level, const std::string& text) const {
        for (const auto& line : Lines)
            if (line.Level == level && line.Text == text)
                return true;
        return false;
    }
    bool LoggedContaining(const std::string& part) const {
        for (const auto& line : Lines)
            if (line.Text.find(part) != std::string::npos)
                return true;
        return false;
    }
    // The message of the FFmpegException that setting the option throws; empty when none.
    std::string OptionError(const std::string& name, const std::string& value) {
        try {
            Job->SetOption(name, value);
        } catch (const FFmpegException& error) {
            return error.what();
        }
        return {};
    }
    int64_t TemplateInt(AVMediaType type, const char* name) const {
        int64_t value = 0;
        EXPECT_GE(ff::av_opt_get_int(Job->CodecTemplate(type), name, 0, &value), 0) << name;
        return value;
    }

    struct TLine {
        TLogLevel Level;
        std::string Text;
    };
    std::vector<TLine> Lines;
    std::unique_ptr<TFFLogger> Logger;
    std::unique_ptr<TRecordingJob> Job;
};

// A context of the named encoder with the job's library options applied, as the transcoder
// sets up an output stream: small pictures or a plain audio layout, one thread.
inline TCodecContextPtr EncoderWithOptions(const TTranscoderOptions& job, const char* name) {
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
    EXPECT_NE(codec, nullptr) << name;
    if (!codec)
        return nullptr;
    TCodecContextPtr context(ff::avcodec_alloc_context3(codec));
    context->thread_count = 1;
    int mask = OptionMaskOutputVideo;
    if (codec->type == AVMEDIA_TYPE_VIDEO) {
        context->width = 64;
        context->height = 48;
        context->pix_fmt = AV_PIX_FMT_YUV420P;
        context->time_base = AVRational{1, 25};
        context->framerate = AVRational{25, 1};
    } else {
        mask = OptionMaskOutputAudio;
        context->sample_rate = 44100;
        context->ch_layout.order = AV_CHANNEL_ORDER_NATIVE;
        context->ch_layout.nb_channels = 2;
        context->ch_layout.u.mask = AV_CH_LAYOUT_STEREO;
        context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        context->time_base = AVRational{1, 44100};
    }
    job.ApplyGenericOptions(context.get(), job.CodecTemplate(codec->type), codec, mask);
    return context;
}

// A private option of an opened or configured codec context, as text.
inline std::string PrivateOption(AVCodecContext* context, const char* name) {
    uint8_t* text = nullptr;
    if (ff::av_opt_get(context, name, AV_OPT_SEARCH_CHILDREN, &text) < 0)
        return "<none>";
    std::string value(reinterpret_cast<char*>(text));
    ff::av_free(text);
    return value;
}

// What the sequence parameter set of an H.264 stream says.
struct TH264Profile {
    int ProfileIdc = -1;
    int Constraints = 0; // constraint_set flags, set0 in the top bit
    int LevelIdc = -1;
    bool ConstrainedBaseline() const { return ProfileIdc == 66 && (Constraints & 0x40); }
};

// Encodes a few small frames with an opened H.264 encoder and reads the profile and level
// from the first sequence parameter set of the stream.
inline TH264Profile EncodeAndReadProfile(AVCodecContext* context, int frames = 3) {
    TH264Profile found;
    TFramePtr frameOwner(ff::av_frame_alloc());
    AVFrame* frame = frameOwner.get();
    frame->format = context->pix_fmt;
    frame->width = context->width;
    frame->height = context->height;
    EXPECT_GE(ff::av_frame_get_buffer(frame, 0), 0);
    TPacketPtr packetOwner(ff::av_packet_alloc());
    AVPacket* packet = packetOwner.get();
    auto scan = [&] {
        while (ff::avcodec_receive_packet(context, packet) == 0) {
            const uint8_t* d = packet->data;
            for (int i = 0; found.ProfileIdc < 0 && i + 6 < packet->size; ++i)
                if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (d[i + 3] & 0x1F) == 7) {
                    found.ProfileIdc = d[i + 4];
                    found.Constraints = d[i + 5];
                    found.LevelIdc = d[i + 6];
                }
            ff::av_packet_unref(packet);
        }
    };
    for (int n = 0; n < frames; ++n) {
        EXPECT_GE(ff::av_frame_make_writable(frame), 0);
        for (int plane = 0; plane < 3; ++plane) {
            int rows = plane ? frame->height / 2 : frame->height;
            for (int y = 0; y < rows; ++y)
                std::memset(frame->data[plane] + y * frame->linesize[plane],
                            plane ? 128 : (n * 37 + y * 3) & 0xFF, frame->linesize[plane]);
        }
        frame->pts = n;
        EXPECT_GE(ff::avcodec_send_frame(context, frame), 0);
        scan();
    }
    ff::avcodec_send_frame(context, nullptr);
    scan();
    return found;
}

} // namespace cw::test
