// Joining several inputs into one output: the expected length is the sum of the inputs, the
// output holds every input in the given order with timestamps that keep rising across the
// joins, the sound has no gap and no overlap, and inputs of another picture size or sample
// rate are converted to the first one's.
#include "TranscoderTestSupport.h"

#include "engine/Bitmap.h"
#include "engine/EncoderOptions.h"

#include <algorithm>
#include <cmath>
#include <map>

using namespace cw;
using namespace cw::test;

namespace {

TFixtureParams Clip(double seconds, int width, int height) {
    TFixtureParams p;
    p.Seconds = seconds;
    p.Width = width;
    p.Height = height;
    p.FrameRateNum = 10;
    p.FrameRateDen = 1;
    p.GopSize = 5;
    return p;
}

// Every packet's decoding time stamp per stream, in seconds, in file order; and the packets
// whose presentation time comes before their decoding time.
struct TPacketTimes {
    std::map<int, std::vector<int64_t>> Dts;
    int PtsBeforeDts = 0;
    std::string Error;
};

TPacketTimes ReadPacketTimes(const std::string& path) {
    TPacketTimes times;
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        times.Error = "cannot open " + path;
        return times;
    }
    TInputContextPtr contextOwner(context);
    TPacketPtr packetOwner(ff::av_packet_alloc());
    AVPacket* packet = packetOwner.get();
    while (ff::av_read_frame(context, packet) >= 0) {
        times.Dts[packet->stream_index].push_back(packet->dts);
        if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE &&
            packet->pts < packet->dts)
            ++times.PtsBeforeDts;
        ff::av_packet_unref(packet);
    }
    return times;
}

// Which input's picture a time of the joined output shows, with the time inside that input.
struct TJoinedClip {
    std::vector<double> Lengths;
    TRgb ColourAt(double t) const {
        for (double length : Lengths) {
            if (t < length)
                return FixtureColourAt(t);
            t -= length;
        }
        return FixtureColourAt(t);
    }
    // True when t lies near a change of colour (a second boundary of some input).
    bool NearChange(double t) const {
        for (double length : Lengths) {
            if (t < length + 0.15) {
                const double inSecond = t - std::floor(t);
                return inSecond < 0.15 || inSecond > 0.85 || t > length - 0.15;
            }
            t -= length;
        }
        return true;
    }
    double Total() const {
        double sum = 0;
        for (double length : Lengths)
            sum += length;
        return sum;
    }
};

class JoinTest : public TranscoderTest {
protected:
    // Joins the sources into out through the output record, as the conversion run does.
    void Join(TRecordedJob& run, const std::vector<std::string>& sources, const std::string& out,
              TOutputOptions options) {
        for (const std::string& source : sources)
            ASSERT_TRUE(run.Job->OpenInput(source)) << run.Job->OpenError;
        options.FileName = out;
        options.Join = true;
        ASSERT_EQ(run.Job->Options.OpenOutputWithOptions(out, &options), 1) << run.Job->OpenError;
        ASSERT_TRUE(run.Job->JoinMode);
        run.Run();
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        ASSERT_TRUE(run.Job->Finished);
    }

    // Every packet of every stream decodes later than the one before it.
    static void ExpectRisingTimes(const std::string& path) {
        TPacketTimes times = ReadPacketTimes(path);
        ASSERT_TRUE(times.Error.empty()) << times.Error;
        EXPECT_EQ(times.PtsBeforeDts, 0);
        for (const auto& [stream, dts] : times.Dts)
            for (size_t i = 1; i < dts.size(); ++i)
                ASSERT_GT(dts[i], dts[i - 1]) << "stream " << stream << " packet " << i;
    }

    // Every picture shows the colour of the input and the moment it belongs to.
    static void ExpectPicturesInOrder(const std::string& path, const TJoinedClip& clip, int width,
                                      int height) {
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(path));
        int pictures = 0, checked = 0;
        while (decoder.Decode(-1)) {
            ++pictures;
            const double t = static_cast<double>(decoder.FrameTime()) / 1e6;
            TBitmap bitmap;
            ASSERT_TRUE(decoder.CopyToBitmap(bitmap));
            ASSERT_EQ(bitmap.Width(), width);
            ASSERT_EQ(bitmap.Height(), height);
            if (clip.NearChange(t))
                continue;
            const int bytes = TBitmap::BytesPerPixel(bitmap.BitsPixel());
            const uint8_t* pixel = bitmap.ScanLine(height / 2) + (width / 2) * bytes;
            const TRgb colour{pixel[2], pixel[1], pixel[0]};
            EXPECT_TRUE(ColourNear(colour, clip.ColourAt(t)))
                << "picture at " << t << " s: " << colour.R << "," << colour.G << "," << colour.B;
            ++checked;
        }
        // 10 pictures a second for the whole length, one more or less.
        EXPECT_NEAR(pictures, clip.Total() * 10, 1);
        EXPECT_GT(checked, pictures / 3);
    }
};

TEST_F(JoinTest, ThreeInputsFollowOneAnotherInMp4AndAvi) {
    // Lengths 2 s, 3 s and 1 s, like 10, 20 and 5 in a fifth of the time; the second input has
    // another picture size and the third another container, codecs and sample rate.
    const TFixture& a = Source(fkAviMpeg4Mp3, Clip(2, 160, 120));
    const TFixture& b = Source(fkAviMpeg4Mp3, Clip(3, 192, 144));
    const TFixture& c = Source(fkMp4H264Aac, Clip(1, 160, 120));
    const TJoinedClip clip{{2, 3, 1}};

    struct TCase {
        const char* Name;
        const char* VideoCodec;
        const char* AudioCodec;
    };
    for (const TCase& target :
         {TCase{"joined.mp4", "mpeg4", "aac"}, TCase{"joined.avi", "mpeg4", "libmp3lame"}}) {
        SCOPED_TRACE(target.Name);
        TRecordedJob run;
        TOutputOptions options;
        options.VideoCodec = target.VideoCodec;
        options.AudioCodec = target.AudioCodec;
        options.FrameSize = "160x120";
        options.FrameRate = "10";
        options.AudioSampleRate = 44100;
        options.AudioChannels = 2;
        options.VideoBitrate = 400000;
        const std::string out = Out(target.Name);
        Join(run, {a.Path, b.Path, c.Path}, out, options);
        if (HasFatalFailure())
            return;

        // Expected: the sum of the inputs' lengths; each input's container may be a little
        // longer than its pictures (the last audio packet).
        const double total = static_cast<double>(run.Job->Options.TotalDuration) / 1e6;
        EXPECT_NEAR(total, a.Seconds + b.Seconds + c.Seconds, 0.1);
        EXPECT_NEAR(total, 6.0, 0.15);
        // The last progress report carries the same total.
        {
            std::lock_guard<std::mutex> guard(run.Lock);
            ASSERT_FALSE(run.Reports.empty());
            EXPECT_EQ(run.Reports.back().TotalDuration, run.Job->Options.TotalDuration);
        }

        TScan scan = ScanMedia(out, true);
        ASSERT_TRUE(scan.Error.empty()) << scan.Error;
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        const TScannedStream* audio = scan.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(video && audio);
        EXPECT_EQ(video->Width, 160);
        EXPECT_EQ(video->Height, 120);
        // Plays for the sum, within a picture.
        EXPECT_NEAR(video->Span(), clip.Total(), 0.1 + 1e-6);
        // No sound lost or doubled at the joins: the samples last as long as the sound of
        // the inputs together, give or take the encoder's priming and one frame per join.
        double inputSound = 0;
        for (const TFixture* input : {&a, &b, &c})
            inputSound += ScanMedia(input->Path).First(AVMEDIA_TYPE_AUDIO)->AudioSeconds();
        const double frame = audio->PacketSeconds();
        EXPECT_NEAR(audio->AudioSeconds(), inputSound, 3 * frame + 0.01);

        ExpectRisingTimes(out);
        ExpectPicturesInOrder(out, clip, 160, 120);
    }
}

// Inputs without pictures of their own: a sound-only file, an audio file whose only picture
// is its cover (which must not become a stretch of video), and a sound-only first input with a
// filter that sets the size. Each such input is black pictures for its length.
TEST_F(JoinTest, InputsWithoutPicturesAreJoinedAsBlackPicturesForTheirLength) {
    const TFixture& clip = Source(fkAviMpeg4Mp3, Clip(1, 160, 120));
    const TFixture& wav = Source(fkWavPcm, Clip(1, 160, 120));
    TFixtureParams coverParams = Clip(1, 160, 120);
    const TFixture cover = WriteCoverArtAudio(ccMp3, Out("cover-in.mp3"), coverParams);
    struct TCase {
        const char* Name;
        std::vector<const TFixture*> Inputs;
        const char* Filters;
        int Width, Height;
    };
    const TCase cases[] = {
        {"black.avi", {&clip, &wav, &clip}, "", 160, 120},
        {"cover.avi", {&clip, &cover, &clip}, "", 160, 120},
        {"sound-first.avi", {&wav, &clip}, "crop=96:64:8:8", 96, 64},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordedJob run;
        TOutputOptions options;
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "libmp3lame";
        options.VideoFilters = c.Filters;
        options.FrameRate = "10";
        // Each input's stretch: from the sum of the lengths before it (an MP3 is a little
        // longer than its nominal second: the encoder's padding).
        std::vector<std::string> paths;
        std::vector<double> starts;
        double total = 0;
        std::vector<bool> black;
        for (const TFixture* input : c.Inputs) {
            paths.push_back(input->Path);
            starts.push_back(total);
            TFFDecoder probe;
            ASSERT_TRUE(probe.LoadFile(input->Path));
            total += static_cast<double>(probe.GetFileStreamInfo().Duration) / 1e6;
            black.push_back(input != &clip);
        }
        const std::string out = Out(c.Name);
        Join(run, paths, out, options);
        if (HasFatalFailure())
            return;
        EXPECT_NEAR(static_cast<double>(run.Job->Options.TotalDuration) / 1e6, total, 0.1);
        const TScan scan = ScanMedia(out);
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(video && scan.First(AVMEDIA_TYPE_AUDIO)) << scan.Error;
        EXPECT_EQ(scan.Streams.size(), 2u) << "one picture and one sound stream";
        EXPECT_EQ(video->Width, c.Width);
        EXPECT_EQ(video->Height, c.Height);
        // The pictures last as long as the inputs together, within a picture.
        EXPECT_NEAR(video->Span(), total, 0.1 + 1e-6);
        EXPECT_NEAR(scan.First(AVMEDIA_TYPE_AUDIO)->AudioSeconds(), total, 0.15);
        // Inside each input's stretch: black for an input without pictures, else the clip's
        // own colour.
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(out));
        std::vector<int> seen(c.Inputs.size());
        while (decoder.Decode(-1)) {
            const double t = static_cast<double>(decoder.FrameTime()) / 1e6;
            const size_t input =
                std::upper_bound(starts.begin(), starts.end(), t) - starts.begin() - 1;
            const double inside = t - starts[input];
            if (inside < 0.15 || inside > 0.85)
                continue;
            TBitmap bitmap;
            ASSERT_TRUE(decoder.CopyToBitmap(bitmap));
            const int bytes = TBitmap::BytesPerPixel(bitmap.BitsPixel());
            const uint8_t* pixel =
                bitmap.ScanLine(bitmap.Height() / 2) + (bitmap.Width() / 2) * bytes;
            const TRgb colour{pixel[2], pixel[1], pixel[0]};
            const TRgb expected = black[input] ? TRgb{0, 0, 0} : FixtureColourAt(inside);
            EXPECT_TRUE(ColourNear(colour, expected, black[input] ? 20 : 40))
                << "picture at " << t << " s: " << colour.R << "," << colour.G << ","
                << colour.B;
            ++seen[input];
        }
        for (size_t input = 0; input < seen.size(); ++input)
            EXPECT_GE(seen[input], 5) << "input " << input;
    }
}

TEST_F(JoinTest, ASingleInputWithJoinRequestedConvertsNormally) {
    const TFixture& a = Source(fkAviMpeg4Mp3, Clip(1, 160, 120));
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(a.Path));
    ASSERT_EQ(run.Job->OpenOutput(Out("single.avi"), true), 1);
    EXPECT_FALSE(run.Job->JoinMode);
    // A second output after joining was switched on is refused.
    TRecordedJob two;
    ASSERT_TRUE(two.Job->OpenInput(a.Path));
    ASSERT_TRUE(two.Job->OpenInput(a.Path));
    ASSERT_EQ(two.Job->OpenOutput(Out("first.avi"), true), 1);
    ASSERT_TRUE(two.Job->JoinMode);
    EXPECT_EQ(two.Job->OpenOutput(Out("second.avi"), true), -1);
    EXPECT_EQ(two.Job->OpenError, "Cannot join more than one output file.");
    run.Run();
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_NEAR(ScanMedia(Out("single.avi")).First(AVMEDIA_TYPE_VIDEO)->Span(), 1.0, 0.11);
}

} // namespace

namespace {

class FilterTest : public TranscoderTest {
protected:
    // Converts a 160x120 clip to out with the option lines set before the output.
    void Convert(TRecordedJob& run, const std::string& out,
                 const std::vector<std::pair<std::string, std::string>>& lines) {
        const TFixture& source = Source(fkAviMpeg4Mp3, Clip(1, 160, 120));
        ASSERT_TRUE(run.Job->OpenInput(source.Path)) << run.Job->OpenError;
        for (const auto& [name, value] : lines)
            run.Job->Options.SetOption(name, value);
        ASSERT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        run.Run();
    }
};

TEST_F(FilterTest, CropAndPadChangeThePictureSize) {
    struct TCase {
        const char* Name;
        const char* Filters;
        int Width, Height;
    };
    for (const TCase& c : {TCase{"crop.avi", "crop=96:64:8:8", 96, 64},
                           TCase{"pad.avi", "pad=200:160:20:20:black", 200, 160},
                           TCase{"scaled-crop.avi", "crop=in_w/2:in_h/2", 80, 60}}) {
        SCOPED_TRACE(c.Name);
        TRecordedJob run;
        Convert(run, Out(c.Name), {{"vcodec", "mpeg4"}, {"an", ""}, {"vf", c.Filters}});
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        TScan scan = ScanMedia(Out(c.Name));
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(video);
        EXPECT_EQ(video->Width, c.Width);
        EXPECT_EQ(video->Height, c.Height);
        EXPECT_EQ(video->Frames, 10);
    }
}

TEST_F(FilterTest, DeinterlaceAndABadFilterText) {
    TRecordedJob deinterlaced;
    Convert(deinterlaced, Out("deint.avi"),
            {{"vcodec", "mpeg4"}, {"an", ""}, {"deinterlace", ""}, {"s", "120x90"}});
    ASSERT_FALSE(deinterlaced.Job->Failed) << deinterlaced.Job->ErrorMessage;
    TScan scan = ScanMedia(Out("deint.avi"));
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(scan.First(AVMEDIA_TYPE_VIDEO)->Width, 120);
    EXPECT_EQ(scan.First(AVMEDIA_TYPE_VIDEO)->Frames, 10);

    TRecordedJob bad;
    Convert(bad, Out("bad.avi"), {{"vcodec", "mpeg4"}, {"an", ""}, {"vf", "nosuchfilter=1"}});
    EXPECT_TRUE(bad.Job->Failed);
    EXPECT_EQ(bad.Job->ErrorMessage.rfind("Error opening filters: ", 0), 0u)
        << bad.Job->ErrorMessage;
    EXPECT_EQ(bad.Terminations.load(), 1);
}

} // namespace
