// What the decode-and-output step does to the streams: stream copy beside re-encoding, audio
// re-framed to the encoder's frame size without losing samples, pictures duplicated and
// dropped to meet a new frame rate, volume with clipping, the recording time, silence for
// audio that starts late, and the progress reports.
#include "TranscoderTestSupport.h"

#include "engine/EncoderOptions.h"
#include "engine/FFmpegException.h"
#include "engine/VideoPath.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

using namespace cw;
using namespace cw::test;

namespace {

TFixtureParams Clip(double seconds, int fps) {
    TFixtureParams p;
    p.Seconds = seconds;
    p.Width = 160;
    p.Height = 120;
    p.FrameRateNum = fps;
    p.FrameRateDen = 1;
    p.GopSize = 10;
    return p;
}

class StreamTest : public TranscoderTest {
protected:
    // Opens source and output with the option lines (set before the output), runs the job.
    void Convert(TRecordedJob& run, const std::string& source, const std::string& out,
                 const std::vector<std::pair<std::string, std::string>>& outputOptions) {
        ASSERT_TRUE(run.Job->OpenInput(source)) << run.Job->OpenError;
        for (const auto& [name, value] : outputOptions)
            run.Job->Options.SetOption(name, value);
        ASSERT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        run.Run();
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        ASSERT_TRUE(run.Job->Finished);
    }
};

TEST_F(StreamTest, CopiesVideoWhileReencodingAudioAndTheReverse) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
    const TFixtureStream& video = *source.FirstOf(AVMEDIA_TYPE_VIDEO);

    TRecordedJob copyVideo;
    const std::string first = Out("copy-video.avi");
    Convert(copyVideo, source.Path, first,
            {{"vcodec", "copy"}, {"acodec", "pcm_s16le"}, {"ar", "22050"}});
    TScan a = ScanMedia(first);
    ASSERT_TRUE(a.First(AVMEDIA_TYPE_VIDEO) && a.First(AVMEDIA_TYPE_AUDIO));
    EXPECT_EQ(a.First(AVMEDIA_TYPE_VIDEO)->Codec, "mpeg4");
    EXPECT_EQ(a.First(AVMEDIA_TYPE_VIDEO)->Packets, video.Frames); // every packet, unchanged
    EXPECT_EQ(a.First(AVMEDIA_TYPE_VIDEO)->Frames, video.Frames);
    EXPECT_EQ(a.First(AVMEDIA_TYPE_AUDIO)->Codec, "pcm_s16le");
    EXPECT_EQ(a.First(AVMEDIA_TYPE_AUDIO)->SampleRate, 22050);

    TRecordedJob copyAudio;
    const std::string second = Out("copy-audio.mkv");
    Convert(copyAudio, source.Path, second, {{"acodec", "copy"}, {"vcodec", "mjpeg"}});
    TScan b = ScanMedia(second);
    ASSERT_TRUE(b.First(AVMEDIA_TYPE_VIDEO) && b.First(AVMEDIA_TYPE_AUDIO));
    EXPECT_EQ(b.First(AVMEDIA_TYPE_VIDEO)->Codec, "mjpeg");
    EXPECT_EQ(b.First(AVMEDIA_TYPE_VIDEO)->Frames, video.Frames);
    EXPECT_EQ(b.First(AVMEDIA_TYPE_AUDIO)->Codec, "mp3");
    EXPECT_EQ(b.First(AVMEDIA_TYPE_AUDIO)->Packets,
              ScanMedia(source.Path).First(AVMEDIA_TYPE_AUDIO)->Packets);

    // A codec named after "copy" for the same kind undoes the copy; "copy" after a codec
    // copies again.
    TRecordedJob undone;
    const std::string third = Out("copy-undone.avi");
    Convert(undone, source.Path, third,
            {{"vcodec", "copy"}, {"vcodec", "mjpeg"}, {"acodec", "pcm_s16le"}, {"acodec", "copy"}});
    TScan c = ScanMedia(third);
    ASSERT_TRUE(c.First(AVMEDIA_TYPE_VIDEO) && c.First(AVMEDIA_TYPE_AUDIO));
    EXPECT_EQ(c.First(AVMEDIA_TYPE_VIDEO)->Codec, "mjpeg");
    EXPECT_EQ(c.First(AVMEDIA_TYPE_AUDIO)->Codec, "mp3");
}

TEST_F(StreamTest, AudioIsReframedToWholeEncoderFramesWithoutLosingSamples) {
    // 22.05 kHz PCM arrives in blocks of another size; MP3 at 44.1 kHz takes 1152 samples a
    // frame, MP2 (which cannot take a short last frame) too.
    TFixtureParams params;
    params.Seconds = 1.5;
    const TFixture& source = Source(fkWavPcm, params);
    const TScan in = ScanMedia(source.Path);
    const TScannedStream& pcm = *in.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(pcm.PacketDurations.front(), 1152);

    for (const char* codec : {"libmp3lame", "mp2"}) {
        SCOPED_TRACE(codec);
        TRecordedJob run;
        const std::string out = Out(std::string(codec) + (codec[0] == 'm' ? ".mp2" : ".mp3"));
        Convert(run, source.Path, out, {{"acodec", codec}, {"ar", "44100"}, {"ab", "128000"}});
        TScan scan = ScanMedia(out, true);
        const TScannedStream* mp3 = scan.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(mp3);
        for (int64_t duration : mp3->PacketDurations)
            ASSERT_EQ(duration * 44100 * mp3->TimeBase.num / mp3->TimeBase.den, 1152);
        const double expected = double(pcm.Samples) * 44100 / pcm.SampleRate;
        // Decoded count: every input sample, plus at most the last frame's padding (the
        // encoder's priming is trimmed where the file says how much it is).
        EXPECT_GE(double(mp3->Samples), expected - 1152);
        EXPECT_LE(double(mp3->Samples), expected + 2 * 1152 + 1105);
        EXPECT_NEAR(mp3->SoundSeconds(), source.Seconds, 1152.0 / 44100 + 0.005);
    }
}

TEST_F(StreamTest, FrameRateChangesDuplicateOrDropPictures) {
    // 25 to 30 frames a second: one picture in five is written twice.
    {
        const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
        TRecordedJob run;
        const std::string out = Out("dup.avi");
        Convert(run, source.Path, out, {{"vsync", "1"}, {"r", "30"}, {"an", "1"}});
        const int64_t in = source.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames;
        const TScan scan = ScanMedia(out);
        const TScannedStream* v = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(v);
        EXPECT_NEAR(double(v->Frames), in * 30.0 / 25.0, 2.0);
        EXPECT_EQ(run.Job->Counters.DupFrames, v->Frames - in);
        EXPECT_EQ(run.Job->Counters.DropFrames, 0);
    }
    // 30 to 25: one picture in six is left out.
    {
        const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 30));
        TRecordedJob run;
        const std::string out = Out("drop.avi");
        Convert(run, source.Path, out, {{"vsync", "1"}, {"r", "25"}, {"an", "1"}});
        const int64_t in = source.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames;
        const TScan scan = ScanMedia(out);
        const TScannedStream* v = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(v);
        EXPECT_NEAR(double(v->Frames), in * 25.0 / 30.0, 2.0);
        EXPECT_EQ(run.Job->Counters.DropFrames, in - v->Frames);
        EXPECT_EQ(run.Job->Counters.DupFrames, 0);
    }
}

TEST_F(StreamTest, VolumeScalesSamplesAndClipsAtTheLimits) {
    TFixtureParams params;
    params.Seconds = 0.5;
    const TFixture& source = Source(fkWavPcm, params);
    const TScan plain = ScanMedia(source.Path, true);
    const std::vector<int16_t>& in = plain.First(AVMEDIA_TYPE_AUDIO)->FirstChannel;
    ASSERT_FALSE(in.empty());

    for (int volume : {256, 512, 1024}) {
        SCOPED_TRACE(volume);
        TRecordedJob run;
        const std::string out = Out("vol" + std::to_string(volume) + ".wav");
        Convert(run, source.Path, out, {{"vol", std::to_string(volume)}});
        const TScan scan = ScanMedia(out, true);
        const std::vector<int16_t>& got = scan.First(AVMEDIA_TYPE_AUDIO)->FirstChannel;
        ASSERT_EQ(got.size(), in.size());
        bool clipped = false;
        for (size_t i = 0; i < in.size(); ++i) {
            const int64_t expected =
                std::clamp<int64_t>((int64_t(in[i]) * volume + 128) >> 8, -32768, 32767);
            ASSERT_EQ(got[i], expected) << "sample " << i;
            clipped = clipped || expected == 32767;
        }
        EXPECT_EQ(clipped, volume == 1024); // the tone is at a third of full scale
    }

    TRecordedJob copy;
    ASSERT_TRUE(copy.Job->OpenInput(source.Path));
    copy.Job->Options.SetOption("acodec", "copy");
    copy.Job->Options.SetOption("vol", "512");
    ASSERT_EQ(copy.Job->OpenOutput(Out("copy-vol.wav"), false), 1);
    copy.Run();
    EXPECT_TRUE(copy.Job->Failed);
    EXPECT_EQ(copy.Job->ErrorMessage,
              "-acodec copy and -vol are incompatible (frames are not decoded)");
}

TEST_F(StreamTest, RecordingTimeAndStartPositionCutTheOutput) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
    TRecordedJob run;
    const std::string out = Out("cut.avi");
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    run.Job->Options.SetOption("ss", "0.4");
    run.Job->Options.SetOption("t", "1");
    run.Job->Options.SetOption("acodec", "pcm_s16le");
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    EXPECT_EQ(run.Job->Options.TotalDuration, 1000000);
    run.Run();
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    TScan scan = ScanMedia(out, true);
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_VIDEO) && scan.First(AVMEDIA_TYPE_AUDIO));
    EXPECT_NEAR(double(scan.First(AVMEDIA_TYPE_VIDEO)->Frames), 25.0, 1.0);
    EXPECT_NEAR(scan.First(AVMEDIA_TYPE_AUDIO)->AudioSeconds(), 1.0, 0.05);

    // The expected total for progress is the limit only when the limit is the shorter: a
    // limit beyond the input leaves the input's length, and a join is cut to it too.
    TRecordedJob longer;
    ASSERT_TRUE(longer.Job->OpenInput(source.Path));
    longer.Job->Options.SetOption("t", "5");
    ASSERT_EQ(longer.Job->OpenOutput(Out("longer.avi"), false), 1);
    EXPECT_NEAR(double(longer.Job->Options.TotalDuration) / 1e6, 2.0, 0.1);
    TRecordedJob joined;
    ASSERT_TRUE(joined.Job->OpenInput(source.Path));
    ASSERT_TRUE(joined.Job->OpenInput(source.Path));
    TOutputOptions record;
    record.FileName = Out("joined-cut.avi");
    record.Join = true;
    record.RecordingTime = 1500000;
    ASSERT_EQ(joined.Job->Options.OpenOutputWithOptions(record.FileName, &record), 1)
        << joined.Job->OpenError;
    EXPECT_EQ(joined.Job->Options.TotalDuration, 1500000);
    joined.Run();
    ASSERT_FALSE(joined.Job->Failed) << joined.Job->ErrorMessage;
    {
        std::lock_guard<std::mutex> guard(joined.Lock);
        ASSERT_FALSE(joined.Reports.empty());
        EXPECT_EQ(joined.Reports.back().TotalDuration, 1500000);
    }
}

TEST_F(StreamTest, StreamsFollowWhatTheInputsHaveAndWhatTheEncoderTakes) {
    // A video container for an input without video: audio only. An audio rate the encoder
    // lacks: the nearest one it has, with a warning.
    TFixtureParams params;
    params.Seconds = 0.5;
    TRecordedJob run;
    const std::string out = Out("audio-only.avi");
    Convert(run, Source(fkWavPcm, params).Path, out, {{"acodec", "ac3"}, {"ar", "22050"}});
    const TScan scan = ScanMedia(out);
    ASSERT_EQ(scan.Streams.size(), 1u);
    EXPECT_EQ(scan.Streams[0].Codec, "ac3");
    EXPECT_EQ(scan.Streams[0].SampleRate, 32000);
    EXPECT_TRUE(Logged("Requested sampling rate unsupported using closest supported (32000)"));

    // A picture format the encoder does not take becomes the first one it takes.
    TRecordedJob jpeg;
    const std::string pictures = Out("pictures.avi");
    Convert(jpeg, Source(fkAviMpeg4Mp3, Clip(0.4, 25)).Path, pictures,
            {{"vcodec", "mjpeg"}, {"an", "1"}});
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(pictures)) << decoder.LastErrMsg();
    EXPECT_EQ(decoder.GetVideoStreamInfo(decoder.FirstVideoStream()).PixelFormat,
              AV_PIX_FMT_YUVJ420P);
}

// Whether the encoder opens at a size in its first picture format.
bool EncoderOpensAt(const char* name, int width, int height) {
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
    if (!codec)
        return false;
    TCodecContextPtr context(ff::avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->time_base = {1, 25};
    context->framerate = {25, 1};
    context->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    context->bit_rate = 1000000;
    return ff::avcodec_open2(context.get(), codec, nullptr) >= 0;
}

TEST_F(StreamTest, OnlySizesAnEncoderRefusesAreChanged) {
    // Each alignment rule against the library: the encoder refuses the size the rule
    // changes and opens at the size it gives; the encoders without a rule open at odd sizes.
    struct TRule {
        const char* Encoder;
        int RefusedWidth, RefusedHeight, AlignedWidth, AlignedHeight;
    };
    for (const TRule& rule : {TRule{"libx264", 641, 361, 642, 362},
                              {"libx264", 641, 360, 642, 360},
                              {"rv10", 648, 360, 656, 368},
                              {"rv20", 854, 480, 856, 480},
                              {"h263p", 641, 361, 640, 360},
                              {"wmv2", 641, 361, 642, 361},
                              {"wmv1", 641, 360, 642, 360},
                              {"huffyuv", 641, 361, 642, 361}}) {
        SCOPED_TRACE(rule.Encoder);
        if (!ff::avcodec_find_encoder_by_name(rule.Encoder))
            continue;
        EXPECT_FALSE(EncoderOpensAt(rule.Encoder, rule.RefusedWidth, rule.RefusedHeight));
        EXPECT_TRUE(EncoderOpensAt(rule.Encoder, rule.AlignedWidth, rule.AlignedHeight));
    }
    for (const char* free : {"mpeg4", "mpeg1video", "mpeg2video", "mjpeg", "svq1", "flv", "msmpeg4",
                             "rawvideo", "libtheora"}) {
        if (ff::avcodec_find_encoder_by_name(free)) {
            EXPECT_TRUE(EncoderOpensAt(free, 641, 361)) << free;
        }
    }

    // Whole conversions at the sizes phones, odd crops and full HD give: the size the
    // encoder takes, decoded back.
    struct TSizeCase {
        const char* Encoder;
        const char* Extension;
        int Width, Height, OutWidth, OutHeight;
    };
    const TSizeCase cases[] = {
        {"svq1", "mov", 854, 480, 854, 480},       {"svq1", "mov", 641, 361, 641, 361},
        {"mpeg4", "avi", 641, 361, 641, 361},      {"mpeg4", "mp4", 1920, 1080, 1920, 1080},
        {"mjpeg", "mov", 641, 361, 641, 361},      {"mpeg1video", "mpg", 641, 361, 641, 361},
        {"mpeg2video", "mpg", 641, 361, 641, 361}, {"rawvideo", "avi", 641, 361, 641, 361},
        {"flv", "flv", 641, 361, 641, 361},        {"libx264", "mp4", 854, 480, 854, 480},
        {"libx264", "mp4", 641, 361, 642, 362},    {"libx264", "mov", 1920, 1080, 1920, 1080},
        {"rv20", "rm", 854, 480, 856, 480},        {"rv20", "rm", 641, 361, 640, 360},
        {"wmv2", "wmv", 641, 361, 642, 361},       {"wmv2", "wmv", 854, 480, 854, 480},
        {"libsvtav1", "mkv", 641, 361, 642, 362},  {"libx265", "mkv", 641, 361, 642, 362},
        {"libvpx-vp9", "webm", 641, 361, 641, 361},
    };
    for (const TSizeCase& c : cases) {
        const std::string name = std::string(c.Encoder) + "_" + std::to_string(c.Width) + "x" +
                                 std::to_string(c.Height) + "." + c.Extension;
        SCOPED_TRACE(name);
        if (!ff::avcodec_find_encoder_by_name(c.Encoder))
            continue;
        TFixtureParams params = Clip(0.2, 25);
        params.Width = c.Width;
        params.Height = c.Height;
        TRecordedJob run;
        const std::string out = Out(name);
        Convert(run, Source(fkAviMpeg4Mp3, params).Path, out, {{"vcodec", c.Encoder}, {"an", "1"}});
        if (HasFatalFailure())
            return;
        const TScan scan = ScanMedia(out);
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(video) << scan.Error;
        EXPECT_EQ(video->Width, c.OutWidth);
        EXPECT_EQ(video->Height, c.OutHeight);
        EXPECT_NEAR(double(video->Frames), 5.0, 1.0);
    }
}

TEST_F(StreamTest, X265CodesASecondFrameAlongsideOnlyWhereTheRowsLeaveCoresIdle) {
    // (cores, lines, frame threads): ten rows of 64 lines at most, on two or three cores.
    const std::tuple<unsigned, int, int> rules[] = {{2, 480, 2},  {3, 640, 2}, {2, 641, 0},
                                                    {2, 1080, 0}, {1, 480, 0}, {4, 480, 0}};
    for (auto [cores, lines, threads] : rules)
        EXPECT_EQ(X265FrameThreads(cores, lines), threads) << cores << " cores, " << lines;
    if (!ff::avcodec_find_encoder_by_name("libx265"))
        GTEST_SKIP() << "no libx265";
    // Whole conversions, read back from the settings text x265 writes into the stream. Where
    // the rule leaves x265 its own choice on this machine, that choice is not checked; below
    // four cores it is one frame at a time.
    const int rule = X265FrameThreads(std::thread::hardware_concurrency(), 120);
    const std::string ours = rule ? std::to_string(rule) : "", own = rule ? "1" : "";
    const std::pair<std::vector<std::pair<std::string, std::string>>, std::string> cases[] = {
        {{{"threads", "0"}}, ours},
        {{{"threads", "0"}, {"x265-params", "frame-threads=1:aq-mode=1"}}, "1"},
        {{{"threads", "1"}}, own}};
    const TFixture& clip = Source(fkAviMpeg4Mp3, Clip(0.4, 25));
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto options = cases[i].first;
        options.insert(options.begin(), {{"vcodec", "libx265"}, {"an", "1"}});
        TRecordedJob run;
        const std::string out = Out("x265-" + std::to_string(i) + ".mkv");
        Convert(run, clip.Path, out, options);
        if (HasFatalFailure())
            return;
        std::ifstream in(out, std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), {});
        const size_t at = data.find(" frame-threads=", data.find("x265 (build"));
        ASSERT_NE(at, std::string::npos) << "no x265 settings text in " << out;
        if (!cases[i].second.empty()) {
            EXPECT_EQ(data.substr(at + 15, data.find(' ', at + 15) - at - 15), cases[i].second)
                << "case " << i;
        }
        EXPECT_EQ(i == 1, data.find(" aq-mode=1 ") != std::string::npos) << "case " << i;
    }
}

TEST_F(StreamTest, ATimestampJumpInATransportStreamShiftsTheOffsetInsteadOfLeavingAGap) {
    // The same transport stream twice in one file: its clock starts over in the middle.
    const TFixture& part = Source(fkMpegTs, Clip(1.5, 25));
    const std::string joined = Out("twice.ts");
    {
        std::ifstream in(part.Path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(joined, std::ios::binary) << bytes << bytes;
    }
    TRecordedJob run;
    const std::string out = Out("twice.avi");
    Convert(run, joined, out, {{"acodec", "pcm_s16le"}});
    const TScan scan = ScanMedia(out, true);
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_VIDEO) && scan.First(AVMEDIA_TYPE_AUDIO));
    const int64_t frames = part.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames;
    EXPECT_NEAR(double(scan.First(AVMEDIA_TYPE_VIDEO)->Frames), 2.0 * frames, 2.0);
    EXPECT_NEAR(scan.First(AVMEDIA_TYPE_AUDIO)->AudioSeconds(), 2 * part.Seconds, 0.15);
}

TEST_F(StreamTest, TimestampJumpsAreTakenOutOfBothStreamsAndLatePicturesKeepTheirPlace) {
    // Three seconds at 25 pictures a second whose clock jumps 40 s on at 1.5 s, or whose
    // pictures start 12 s after the sound: both beyond the 10 s threshold. And fifteen
    // seconds whose pictures stop for 12 s while the sound goes on: a real gap.
    const TFixture& clip = Source(fkMp4H264Aac, Clip(3, 25));
    TFixtureParams longer = Clip(15, 25);
    longer.GopSize = 5;
    const TFixture& held = Source(fkMkvTwoAudio, longer);
    struct TCase {
        const char* Name;
        const TFixture* Clip;
        TRemuxRecipe Recipe;
        std::vector<std::pair<std::string, std::string>> Options;
        int Frames;             // pictures written
        double PicturesStartAt; // seconds after the sound's start
    };
    const TRemuxRecipe jump{.JumpAt = 1.5, .JumpBy = 40};
    const TRemuxRecipe late{.VideoDelay = 12};
    TRemuxRecipe hole;
    hole.HoleFrom = 1.6;
    hole.HoleTo = 13.6;
    const std::vector<TCase> cases{
        // Dropping to 10 pictures a second goes on after the jump.
        {"jump.avi", &clip, jump, {{"r", "10"}}, 30, 0},
        {"jump.mkv", &clip, jump, {}, 75, 0},
        // Sync by silence inserts none for the jump.
        {"jump-async.mkv", &clip, jump, {{"async", "1"}}, 75, 0},
        {"late.mkv", &clip, late, {{"vsync", "1"}}, 75, 12},
        // The held picture is repeated where the container counts frames, kept as one
        // picture where it does not.
        {"hold.avi", &held, hole, {}, 375, 0},
        {"hold.mkv", &held, hole, {}, 75, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string source = Out(std::string("source-") + c.Name + ".mkv");
        RemuxFixture(*c.Clip, source, c.Recipe);
        std::vector<std::pair<std::string, std::string>> options = c.Options;
        options.push_back({"acodec", "pcm_s16le"});
        TRecordedJob run;
        const std::string out = Out(c.Name);
        Convert(run, source, out, options);
        const TScan scan = ScanMedia(out);
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        const TScannedStream* audio = scan.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(video && audio) << scan.Error;
        EXPECT_NEAR(double(video->Frames), c.Frames, 2);
        EXPECT_NEAR(audio->AudioSeconds(), c.Clip->Seconds, 0.15);
        EXPECT_NEAR(video->Start - audio->Start, c.PicturesStartAt, 0.15);
        // Sound and pictures end together: nothing of the jump is left in either.
        EXPECT_NEAR(video->End - c.PicturesStartAt, audio->End, 0.2);
    }
}

TEST_F(StreamTest, SubtitlesAreDecodedAndEncodedWithTheirTimes) {
    const std::string srt = Out("captions.srt");
    std::ofstream(srt) << "1\n00:00:01,000 --> 00:00:02,500\nFirst line\n\n"
                          "2\n00:00:03,000 --> 00:00:04,000\nSecond line\n\n";
    TRecordedJob run;
    const std::string out = Out("captions.ass");
    Convert(run, srt, out, {});
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("Dialogue: 0,0:00:01.00,0:00:02.50,"), std::string::npos) << text;
    EXPECT_NE(text.find("First line"), std::string::npos);
    EXPECT_NE(text.find("Dialogue: 0,0:00:03.00,0:00:04.00,"), std::string::npos) << text;
    EXPECT_NE(text.find("Second line"), std::string::npos);
}

TEST_F(StreamTest, NamesOutsideAsciiAreOpenedAndWritten) {
    const std::string input = Out("Été ü.wav");
    std::filesystem::copy_file(Source(fkWavPcm).Path, input);
    TRecordedJob run;
    const std::string out = Out("Übung é.mp3");
    Convert(run, input, out, {});
    const TScan scan = ScanMedia(out);
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_AUDIO)) << scan.Error;
    EXPECT_EQ(scan.First(AVMEDIA_TYPE_AUDIO)->Codec, "mp3");
}

TEST_F(StreamTest, FrameAndSizeLimitsEndTheRun) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
    TRecordedJob frames;
    const std::string counted = Out("vframes.avi");
    Convert(frames, source.Path, counted, {{"vframes", "10"}});
    const TScan scan = ScanMedia(counted);
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(scan.First(AVMEDIA_TYPE_VIDEO)->Frames, 10);

    // "shortest": the end of the shorter input ends the run.
    TFixtureParams second;
    second.Seconds = 1;
    TRecordedJob shortest;
    ASSERT_TRUE(shortest.Job->OpenInput(source.Path));
    ASSERT_TRUE(shortest.Job->OpenInput(Source(fkWavPcm, second).Path));
    for (const char* map : {"0.0", "1.0"})
        shortest.Job->Options.SetOption("map", map);
    shortest.Job->Options.SetOption("shortest", "1");
    const std::string cut = Out("shortest.avi");
    ASSERT_EQ(shortest.Job->OpenOutput(cut, false), 1);
    shortest.Run();
    ASSERT_FALSE(shortest.Job->Failed) << shortest.Job->ErrorMessage;
    const TScan shortScan = ScanMedia(cut);
    ASSERT_TRUE(shortScan.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_NEAR(double(shortScan.First(AVMEDIA_TYPE_VIDEO)->Frames), 25.0, 3.0);

    TRecordedJob sized;
    const std::string limited = Out("fs.wav");
    Convert(sized, source.Path, limited, {{"acodec", "pcm_s16le"}, {"fs", "100000"}});
    const auto size = std::filesystem::file_size(limited);
    EXPECT_GE(size, 100000u);
    EXPECT_LT(size, 100000u + 20000u) << "one block beyond the limit at most";
}

TEST_F(StreamTest, AudioStartingLateGetsSilenceInFrontWithAudioSync) {
    // The video of one file with the audio of another that starts 0.5 s later.
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    run.Job->Options.SetOption("itsoffset", "0.5");
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    run.Job->Options.SetOption("map", "0.0");
    run.Job->Options.SetOption("map", "1.1");
    run.Job->Options.SetOption("async", "1");
    run.Job->Options.SetOption("acodec", "pcm_s16le");
    const std::string out = Out("late.avi");
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    run.Run();
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;

    const TScan scan = ScanMedia(out, true);
    const TScannedStream* audio = scan.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(audio);
    const std::vector<int16_t>& s = audio->FirstChannel;
    auto loud = std::find_if(s.begin(), s.end(), [](int16_t v) { return std::abs(v) > 3277; });
    ASSERT_NE(loud, s.end());
    const double soundStart = double(loud - s.begin()) / audio->SampleRate;
    // The source's own sound starts after its decoder's priming silence.
    const double sourceStart = [&] {
        const TScan plain = ScanMedia(source.Path, true);
        const auto& p = plain.First(AVMEDIA_TYPE_AUDIO)->FirstChannel;
        auto at = std::find_if(p.begin(), p.end(), [](int16_t v) { return std::abs(v) > 3277; });
        return double(at - p.begin()) / plain.First(AVMEDIA_TYPE_AUDIO)->SampleRate;
    }();
    EXPECT_NEAR(soundStart - sourceStart, 0.5, 0.01);
}

TEST_F(StreamTest, ProgressReportsStartWithTheFirstPictureAndEndWithTheLastReport) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(2, 25));
    TRecordedJob run;
    run.Job->ProgressIntervalUs = 0; // a report after every packet
    const std::string out = Out("progress.avi");
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    const int64_t longest = run.Job->InputContext(0)->duration;
    ASSERT_GT(longest, 0);
    run.Run();
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    ASSERT_GE(run.Reports.size(), 3u);
    for (const TJobProgress& p : run.Reports) {
        EXPECT_GE(p.FrameNumber, 1); // never before the first picture was written
        EXPECT_EQ(p.TotalDuration, longest);
    }
    for (size_t i = 0; i + 1 < run.Reports.size(); ++i)
        EXPECT_EQ(run.Reports[i].FileIndex, 0);
    const TJobProgress& last = run.Reports.back();
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(last.FrameNumber, source.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames);
    EXPECT_EQ(last.CurrentSize, static_cast<int64_t>(std::filesystem::file_size(out)));
    EXPECT_NEAR(last.CurrentDuration / 1e6, source.Seconds, 0.1);
}

} // namespace
