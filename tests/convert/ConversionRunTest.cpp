// The conversion run on generated files: tasks, log lines, counts, error lines, output names,
// the merge list, and the time figures.
#include "convert/ConversionRun.h"

#include "base/MainThread.h"
#include "convert/Catalogue.h"
#include "engine/FFApi.h"
#include "engine/FFLoader.h"
#include "engine/Owners.h"
#include "engine/StreamFacts.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/TempDir.h"

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RunTimes, EstimateOfTwoFilesAndClockText) {
    // Two files of 60 s: the first done, the second at 30 s after 45 s of work.
    const TRunProgress t = EstimateTimes(120'000'000, 60'000'000, 30'000'000, 45);
    EXPECT_EQ(FormatClock(t.EstimatedSeconds), "0:01:00");
    EXPECT_EQ(FormatClock(t.TimeLeftSeconds), "0:00:15");
    EXPECT_EQ(FormatClock(t.ElapsedSeconds), "0:00:45");
    EXPECT_EQ(FormatClock(25 * 3600), "1:00:00");
    EXPECT_EQ(FormatClock(-5), "0:00:00");
    // Forty-minute files: beyond 32 bits, and their product with the elapsed time beyond 64.
    const int64_t forty = 2'400'000'000;
    const TRunProgress big = EstimateTimes(2 * forty, forty, forty / 2, 3000);
    EXPECT_NEAR(big.EstimatedSeconds, 4000, 1e-6);
    EXPECT_EQ(FormatClock(big.TimeLeftSeconds), "0:16:40");
    EXPECT_EQ(DurationText(-1), "Duration is not preseted");
}

class THostRecorder : public IConversionView {
public:
    void Log(const std::string& line) override { Lines.push_back(line); }
    void PlaySound(const std::string& path) override { Sound = path; }
    bool ShutdownCountdown() override {
        ++Countdowns;
        return false;
    }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        ++Finished;
    }
    std::vector<std::string> Lines;
    std::string Sound;
    TRunSummary Summary;
    int Finished = 0;
    int Countdowns = 0;
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& line : Lines)
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
};

class ConversionRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void SetUp() override {
        Previous = SetMainThreadDispatcher(&Dispatcher);
        fs::create_directories(Dir / "in");
        TFixtureParams params;
        params.Seconds = 1;
        Clip = WriteFixture(fkAviMpeg4Mp3, (Dir / "in" / "clip.avi").string(), params).Path;
        Tone = WriteFixture(fkWavPcm, (Dir / "in" / "clip.wav").string(), params).Path;
        Undecodable = WriteFixture(fkMkvNoDecoder, (Dir / "in" / "odd.mkv").string(), params).Path;
        std::ofstream(Dir / "in" / "junk.avi") << "not a media file";
        Out = (Dir / "out").string();
        fs::create_directories(Out);
    }
    void TearDown() override { SetMainThreadDispatcher(Previous); }
    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    TTempDir Temp{"cw-run"};
    fs::path Dir{Temp.Path};
    std::string Clip, Tone, Undecodable, Out;
};

TEST_F(ConversionRunTest, GoodAndFailingFilesCountedWithTheirLines) {
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
    run.OutputFolder = Out;
    run.PlayASoundWhenFinished = true;
    run.SoundFolder = "sounds/";
    // Two inputs that differ only in extension, one that does not exist, one that is no media,
    // one whose only stream cannot be decoded (and so has no audio for an MP3 output).
    run.Start({{Clip},
               {(Dir / "in" / "missing.avi").string()},
               {Tone},
               {(Dir / "in" / "junk.avi").string()},
               {Undecodable}});
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Finished, 1);
    EXPECT_EQ(host.Count("File load error: "), 2);
    const int added = host.Count("File has been added to convert list.");
    // Every listed file counts, the refused ones as failed with a line naming them.
    EXPECT_EQ(host.Summary.TotalFiles, 5);
    ASSERT_GE(added, 2);
    EXPECT_EQ(host.Summary.SucceededFiles, 2);
    EXPECT_EQ(host.Summary.FailedFiles(), 3);
    EXPECT_EQ(host.Sound, "sounds/fail.wav");
    ASSERT_EQ(host.Summary.ErrorList.size(), 3u);
    EXPECT_EQ(host.Summary.ErrorList[0].rfind("File (missing.avi): File load error: ", 0), 0u)
        << host.Summary.ErrorList[0];
    EXPECT_EQ(host.Summary.ErrorList[1].rfind("File (junk.avi): File load error: ", 0), 0u)
        << host.Summary.ErrorList[1];
    // The file without audio is taken (its output opens: streams are matched when the run
    // starts) and fails when its task runs.
    EXPECT_EQ(added, 3);
    EXPECT_EQ(host.Count("Cannot do convert, error: ") + host.Count("Adding file error: "), 0);
    EXPECT_EQ(host.Summary.ErrorList[2].rfind("File (2): ", 0), 0u) << host.Summary.ErrorList[2];
    ASSERT_EQ(run.Items().size(), 3u);
    EXPECT_EQ(run.Items()[2].Status, "Failed.");
    // The failed task's item holds its error, the error line without the task's number.
    EXPECT_FALSE(run.Items()[2].Error.empty());
    EXPECT_EQ("File (2): " + run.Items()[2].Error, host.Summary.ErrorList[2]);
    EXPECT_EQ(run.Items()[0].Status, "Finish.");
    EXPECT_EQ(run.Items()[0].Error, "");
    EXPECT_EQ(run.Items()[0].Progress, "100%");
    EXPECT_EQ(run.Items()[0].Name, "clip.avi");
    EXPECT_EQ(run.Items()[0].PathCell, (Dir / "in").string());
    EXPECT_EQ(run.Items()[0].OutputPath, Out + "/clip.mp3");
    EXPECT_EQ(run.Items()[1].OutputPath, Out + "/clip(1).mp3");
    EXPECT_TRUE(fs::exists(Out + "/clip.mp3"));
    EXPECT_TRUE(fs::exists(Out + "/clip(1).mp3"));
    EXPECT_FALSE(fs::exists(Out + "/odd.mp3")); // nothing without media is left behind
    EXPECT_EQ(run.DoneDuration(),
              run.AllFilesDuration() - (added == 3 ? run.Items()[2].Duration : 0));
    EXPECT_FALSE(encoder.Working());
    EXPECT_EQ(encoder.TasksCount(), 0);

    // A second run on the same component names around the files the first one wrote.
    host.Finished = 0;
    run.Start({{Clip}});
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Summary.SucceededFiles, 1);
    EXPECT_TRUE(fs::exists(Out + "/clip(2).mp3"));
}

TEST_F(ConversionRunTest, RefusedFilesEndTheRunAtOnceAsFailuresWithoutAShutdown) {
    struct TCase {
        const char* Name;
        bool Merge;
        std::vector<std::string> Inputs;
        std::string Folder;
        int Total;
        std::string FirstLine;
    };
    const std::string junk = (Dir / "in" / "junk.avi").string();
    const std::vector<TCase> cases{
        {"unreadable input", false, {junk}, Out, 1, "File (junk.avi): File load error: "},
        {"folder not writable",
         false,
         {Tone},
         "/proc",
         1,
         "File (clip.wav): Cannot do convert, error: "},
        // One unusable file keeps the whole join from running.
        {"join with a bad file",
         true,
         {Tone, junk, Tone},
         Out,
         1,
         "File (junk.avi): Adding file error: "},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFFEncoder encoder;
        THostRecorder host;
        TConversionRun run(encoder, host);
        run.Merge = c.Merge;
        run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
        run.OutputFolder = c.Folder;
        run.PlayASoundWhenFinished = true;
        run.ShutDownWhenFinished = true;
        run.SoundFolder = "sounds/";
        std::vector<TRunInput> inputs;
        for (const std::string& path : c.Inputs)
            inputs.push_back({path});
        run.Start(inputs);
        EXPECT_EQ(host.Finished, 1);
        EXPECT_FALSE(run.Running());
        EXPECT_EQ(host.Summary.TotalFiles, c.Total);
        EXPECT_EQ(host.Summary.SucceededFiles, 0);
        ASSERT_FALSE(host.Summary.ErrorList.empty());
        EXPECT_EQ(host.Summary.ErrorList[0].rfind(c.FirstLine, 0), 0u) << host.Summary.ErrorList[0];
        EXPECT_EQ(host.Sound, "sounds/fail.wav");
        EXPECT_EQ(host.Countdowns, 1); // a run that ends by itself still offers it
        EXPECT_EQ(encoder.TasksCount(), 0);
        EXPECT_TRUE(fs::is_empty(Out)) << "a refused run leaves no file";
    }

    // A cancelled run never offers the countdown.
    TFixtureParams longer;
    longer.Seconds = 20;
    const std::string slow =
        WriteFixture(fkWavPcm, (Dir / "in" / "slow.wav").string(), longer).Path;
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
    run.OutputFolder = Out;
    run.ShutDownWhenFinished = true;
    run.Start({{slow}});
    run.Cancel();
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Summary.FailedFiles(), 1);
    EXPECT_EQ(host.Countdowns, 0);
}

TEST_F(ConversionRunTest, MergeListShowsSizeAspectAndTheOneOutput) {
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocVideo, FindFormatByName(ocVideo, "AVI")->Index, 0};
    run.OutputFolder = Out;
    std::ofstream(Out + "/Output_Merge.avi") << "taken";
    run.BuildMergeTask({{Clip, 1'000'000, 160, 120, 4.0 / 3},
                        {(Dir / "in" / "missing.avi").string(), 0, 0, 0, 0},
                        {Clip, 1'000'000, 160, 120, 4.0 / 3}});
    EXPECT_EQ(host.Count("Adding file error: "), 1);
    ASSERT_EQ(run.Items().size(), 2u);
    EXPECT_EQ(run.Items()[0].Status, "160x120");
    EXPECT_EQ(run.Items()[0].Progress, "1.33333");
    EXPECT_EQ(run.Items()[0].DurationText, "00:00:01.000");
    EXPECT_EQ(run.Items()[1].PathCell, Out + "/Output_Merge(1).avi");
    EXPECT_EQ(run.AllFilesDuration(), 2'000'000);
    // The joining output: one task with both inputs and the join flag on its output.
    EXPECT_EQ(host.Count("Cannot do convert, error: "), 0);
    ASSERT_EQ(encoder.TasksCount(), 1);
    EXPECT_EQ(encoder.Task(0)->InputCount(), 2);
    ASSERT_NE(encoder.Task(0)->OutputOptions(0), nullptr);
    EXPECT_TRUE(encoder.Task(0)->OutputOptions(0)->Join);
    encoder.ClearTasks();
}

// The pictures of a video file beside the colours the fixtures paint: the peak signal to
// noise ratio in dB over sampled pixels of every 4:2:0 picture, its Y'CbCr read with
// the matrix the stream names (BT.601 when it names none).
double PictureColourPsnr(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return 0;
    TInputContextPtr owner(context);
    ff::avformat_find_stream_info(context, nullptr);
    const int index = FirstRealVideoStream(context);
    if (index < 0)
        return 0;
    const AVStream* stream = context->streams[index];
    const AVCodec* codec = ff::avcodec_find_decoder(stream->codecpar->codec_id);
    TCodecContextPtr decoder(ff::avcodec_alloc_context3(codec));
    ff::avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (!codec || ff::avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return 0;
    TPacketPtr packet(ff::av_packet_alloc());
    TFramePtr frame(ff::av_frame_alloc());
    double squares = 0;
    int64_t samples = 0;
    auto take = [&] {
        while (ff::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            // 4:2:0 at 8 or 10 bits, read as 8-bit values.
            const bool deep = frame->format == AV_PIX_FMT_YUV420P10LE;
            if (frame->format != AV_PIX_FMT_YUV420P && !deep)
                return;
            auto at = [&](int plane, int x, int y) {
                const uint8_t* row = frame->data[plane] + ptrdiff_t(y) * frame->linesize[plane];
                return deep ? reinterpret_cast<const uint16_t*>(row)[x] / 4.0 : double(row[x]);
            };
            const bool bt709 = frame->colorspace == AVCOL_SPC_BT709;
            const double seconds =
                double(frame->best_effort_timestamp - std::max<int64_t>(0, stream->start_time)) *
                av_q2d(stream->time_base);
            const TRgb want = FixtureColourAt(seconds);
            for (int y = 4; y < frame->height - 4; y += 4)
                for (int x = 4; x < frame->width - 4; x += 4) {
                    const double l = 1.164 * (at(0, x, y) - 16);
                    const double u = at(1, x / 2, y / 2) - 128;
                    const double v = at(2, x / 2, y / 2) - 128;
                    const double rgb[3] = {l + (bt709 ? 1.793 : 1.596) * v,
                                           l - (bt709 ? 0.213 : 0.392) * u -
                                               (bt709 ? 0.533 : 0.813) * v,
                                           l + (bt709 ? 2.112 : 2.017) * u};
                    const int wanted[3] = {want.R, want.G, want.B};
                    for (int k = 0; k < 3; ++k) {
                        const double d = std::clamp(rgb[k], 0.0, 255.0) - wanted[k];
                        squares += d * d;
                        ++samples;
                    }
                }
        }
    };
    while (ff::av_read_frame(context, packet.get()) >= 0) {
        if (packet->stream_index == index &&
            ff::avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            take();
        ff::av_packet_unref(packet.get());
    }
    ff::avcodec_send_packet(decoder.get(), nullptr);
    take();
    if (!samples)
        return 0;
    return 10 * std::log10(255.0 * 255.0 / std::max(squares / double(samples), 1e-9));
}

TEST_F(ConversionRunTest, OpusPresetsTakeTheSoundOfASongWithItsCover) {
    TFixtureParams params;
    params.Seconds = 2;
    const std::string song =
        WriteCoverArtAudio(ccMp3, (Dir / "in" / "song.mp3").string(), params).Path;
    for (int preset : {0, 4}) {
        SCOPED_TRACE(preset);
        TFFEncoder encoder;
        THostRecorder host;
        TConversionRun run(encoder, host);
        run.Selection = {ocAudio, FindFormatByName(ocAudio, "Opus")->Index, preset};
        run.OutputFolder = Out;
        run.Start({{song}});
        ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
        ASSERT_EQ(host.Summary.SucceededFiles, 1)
            << (host.Summary.ErrorList.empty() ? "" : host.Summary.ErrorList[0]);
        const std::string out = run.Items()[0].OutputPath;
        EXPECT_EQ(fs::path(out).extension(), ".opus");
        AVFormatContext* context = nullptr;
        ASSERT_GE(ff::avformat_open_input(&context, out.c_str(), nullptr, nullptr), 0);
        TInputContextPtr owner(context);
        ff::avformat_find_stream_info(context, nullptr);
        // The sound alone: the Ogg container has no place for the cover.
        ASSERT_EQ(context->nb_streams, 1u);
        const AVCodecParameters* par = context->streams[0]->codecpar;
        EXPECT_EQ(par->codec_id, AV_CODEC_ID_OPUS);
        EXPECT_EQ(par->sample_rate, 48000);
        EXPECT_EQ(par->ch_layout.nb_channels, preset == 4 ? 1 : 2);
        EXPECT_NEAR(double(context->duration) / AV_TIME_BASE, params.Seconds, 0.1);
        fs::remove(out);
    }
}

TEST_F(ConversionRunTest, HdrIsToneMappedForEightBitPresetsAndKeptByTheHdrPreset) {
    // The same PQ pictures once tagged as HDR10 and once saying nothing of what they are.
    TFixtureParams params;
    params.Seconds = 2;
    params.Width = 320;
    params.Height = 240;
    const std::string hdr = WriteHdrClip((Dir / "in" / "hdr.mkv").string(), true, params).Path;
    const std::string plain = WriteHdrClip((Dir / "in" / "plain.mkv").string(), false, params).Path;
    auto convert = [&](const std::string& input, const char* format, int preset) {
        TFFEncoder encoder;
        THostRecorder host;
        TConversionRun run(encoder, host);
        run.Selection = {ocVideo, FindFormatByName(ocVideo, format)->Index, preset};
        run.OutputFolder = Out;
        run.Start({{input}});
        EXPECT_TRUE(WaitServing([&] { return host.Finished > 0; }, 120s));
        EXPECT_EQ(host.Summary.SucceededFiles, 1)
            << (host.Summary.ErrorList.empty() ? "" : host.Summary.ErrorList[0]);
        return run.Items().empty() ? std::string() : run.Items()[0].OutputPath;
    };

    // An 8-bit preset: tone-mapped and tagged BT.709, much closer to the colours painted than
    // the same pictures taken as they are.
    const std::string mapped = convert(hdr, "MP4", 3);
    const std::string unmapped = convert(plain, "MP4", 3);
    {
        AVFormatContext* context = nullptr;
        ASSERT_GE(ff::avformat_open_input(&context, mapped.c_str(), nullptr, nullptr), 0);
        TInputContextPtr owner(context);
        ff::avformat_find_stream_info(context, nullptr);
        const AVCodecParameters* par = context->streams[FirstRealVideoStream(context)]->codecpar;
        EXPECT_EQ(par->color_trc, AVCOL_TRC_BT709);
        EXPECT_EQ(par->color_primaries, AVCOL_PRI_BT709);
        EXPECT_EQ(par->color_space, AVCOL_SPC_BT709);
        EXPECT_EQ(par->format, AV_PIX_FMT_YUV420P);
    }
    const double mappedPsnr = PictureColourPsnr(mapped);
    const double unmappedPsnr = PictureColourPsnr(unmapped);
    RecordProperty("ToneMappedPsnrDb", std::to_string(mappedPsnr));
    RecordProperty("UnmappedPsnrDb", std::to_string(unmappedPsnr));
    EXPECT_GT(mappedPsnr, unmappedPsnr + 1.0) << mappedPsnr << " dB against " << unmappedPsnr;

    // The HDR preset keeps ten bits, PQ, BT.2020 and the mastering and light metadata.
    const std::string kept = convert(hdr, "MKV", 3);
    AVFormatContext* context = nullptr;
    ASSERT_GE(ff::avformat_open_input(&context, kept.c_str(), nullptr, nullptr), 0);
    TInputContextPtr owner(context);
    ff::avformat_find_stream_info(context, nullptr);
    const AVStream* stream = context->streams[FirstRealVideoStream(context)];
    EXPECT_EQ(stream->codecpar->codec_id, AV_CODEC_ID_HEVC);
    EXPECT_EQ(stream->codecpar->profile, FF_PROFILE_HEVC_MAIN_10);
    EXPECT_EQ(stream->codecpar->format, AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(stream->codecpar->color_trc, AVCOL_TRC_SMPTE2084);
    EXPECT_EQ(stream->codecpar->color_primaries, AVCOL_PRI_BT2020);
    const AVMasteringDisplayMetadata* display = nullptr;
    const AVContentLightMetadata* light = nullptr;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        if (side.type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA)
            display = reinterpret_cast<const AVMasteringDisplayMetadata*>(side.data);
        if (side.type == AV_PKT_DATA_CONTENT_LIGHT_LEVEL)
            light = reinterpret_cast<const AVContentLightMetadata*>(side.data);
    }
    ASSERT_NE(display, nullptr);
    ASSERT_NE(light, nullptr);
    EXPECT_NEAR(av_q2d(display->max_luminance), HdrMasteringPeak, 1);
    EXPECT_EQ(light->MaxCLL, unsigned(HdrMaxCll));
    EXPECT_EQ(light->MaxFALL, unsigned(HdrMaxFall));
}

} // namespace
} // namespace cw::test
