// The decoder component against generated media files: the facts it reports match what was
// written, thumbnails show the picture of their moment, decoding and seeking reach the end
// with the end-of-stream answers, the edge cases of streams, still images, attached
// containers and missing libraries, and bad files give worded errors.
#include "EngineTestSupport.h"

#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "engine/FFLoader.h"
#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/Text.h"
#include "engine/UnicodeIO.h"
#include "tests/fixtures/MediaFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

using namespace cw;
using namespace cw::test;

namespace {

// Fixtures are written once per process, on first use, into one temporary folder.
TTempDir& FixtureDir() {
    static TTempDir dir;
    return dir;
}

const TFixture& Fixture(TFixtureKind kind) {
    static std::map<TFixtureKind, TFixture> written;
    auto it = written.find(kind);
    if (it == written.end()) {
        std::string path = FixtureDir().Folder() + FixtureName(kind) + FixtureExtension(kind);
        TFixtureParams params;
        if (kind == fkMp4H264Aac || kind == fkMkvTwoAudio || kind == fkMp3 || kind == fkFlac)
            params.Tags = {{"title", "Known Title"}, {"artist", "Known Artist"},
                           {"album", "Known Album"}, {"comment", "Known Comment"},
                           {"genre", "Known Genre"}, {"copyright", "Known Owner"},
                           {"date", "2009"},         {"track", "3"}};
        if (kind == fkMp4H264Aac) {
            params.Tags["creation_time"] = "2020-05-01T12:34:56.000000Z";
            params.SarNum = 4; // non-square pixels: 160x120 shown as 16:9
            params.SarDen = 3;
        }
        it = written.emplace(kind, WriteFixture(kind, path, params)).first;
    }
    return it->second;
}

// The longest of one frame or one audio packet of the file's streams, plus the audio
// encoder's priming, which some containers count and others hide.
double Tolerance(const TFixture& fixture) {
    double tolerance = 0.001;
    for (const auto& s : fixture.Streams)
        tolerance = std::max(tolerance, s.Step() + (s.Type == AVMEDIA_TYPE_AUDIO ? 0.03 : 0.0));
    return tolerance;
}

std::string DecoderText(int codecId) {
    const AVCodec* codec = ff::avcodec_find_decoder(static_cast<AVCodecID>(codecId));
    return codec ? FormatText("%s(%s)", codec->name, codec->long_name) : "";
}

TRgb PixelAt(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + x * TBitmap::BytesPerPixel(bitmap.BitsPixel());
    return TRgb{p[2], p[1], p[0]};
}

::testing::AssertionResult EveryPixelNear(const TBitmap& bitmap, TRgb colour, int tolerance = 40) {
    const int w = bitmap.Width(), h = bitmap.Height();
    for (auto [x, y] : {std::pair{w / 2, h / 2}, {2, 2}, {w - 3, 2}, {2, h - 3}, {w - 3, h - 3}}) {
        TRgb got = PixelAt(bitmap, x, y);
        if (!ColourNear(got, colour, tolerance))
            return ::testing::AssertionFailure()
                   << "pixel " << x << "," << y << " is " << got.R << "," << got.G << "," << got.B
                   << ", expected about " << colour.R << "," << colour.G << "," << colour.B;
    }
    return ::testing::AssertionSuccess();
}

struct TLogLine {
    TLogLevel Level;
    std::string Text;
};

class DecoderTestBase {
protected:
    void BindAndListen() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
        TFFLogger& logger = TFFLogger::Instance();
        logger.TriggerEventInMainThread = false;
        logger.SetLogLevel(llInfo);
        logger.OnLog = [this](TFFLogger*, uint32_t, TLogLevel level, const std::string& text) {
            Lines.push_back({level, text});
        };
    }
    static void StopListening() { TFFLogger::Instance().OnLog = nullptr; }

    bool Logged(TLogLevel level, const std::string& text) const {
        for (const auto& line : Lines)
            if (line.Level == level && line.Text == text)
                return true;
        return false;
    }

    std::vector<TLogLine> Lines;
};

class DecoderTest : public ::testing::Test, public DecoderTestBase {
protected:
    void SetUp() override { BindAndListen(); }
    void TearDown() override { StopListening(); }
};

// --- facts of every fixture ------------------------------------------------------------------

class DecoderFacts : public ::testing::TestWithParam<TFixtureKind>, public DecoderTestBase {
protected:
    void SetUp() override { BindAndListen(); }
    void TearDown() override { StopListening(); }
};

TEST_P(DecoderFacts, MatchWhatWasWritten) {
    const TFixture& f = Fixture(GetParam());
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(f.Path)) << d.LastErrMsg();
    EXPECT_EQ(d.ForcedFormat(), "");
    EXPECT_EQ(d.FileName(), f.Path);
    EXPECT_EQ(d.FileSize(), f.FileSize);
    EXPECT_EQ(d.StreamCount(), int(f.Streams.size()));
    EXPECT_EQ(d.VideoStreamCount(), f.CountOf(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(d.AudioStreamCount(), f.CountOf(AVMEDIA_TYPE_AUDIO));
    EXPECT_EQ(d.SubtitleStreamCount(), 0);
    const TFixtureStream* video = f.FirstOf(AVMEDIA_TYPE_VIDEO);
    const TFixtureStream* audio = f.FirstOf(AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(d.FirstVideoStream(), video ? video->Index : -1);
    EXPECT_EQ(d.FirstAudioStream(), audio ? audio->Index : -1);
    EXPECT_EQ(d.DefaultStream(), video ? video->Index : audio->Index);

    const TFileStreamInfo file = d.GetFileStreamInfo();
    const double tolerance = Tolerance(f);
    EXPECT_NEAR(file.Duration / 1e6, f.Seconds, tolerance) << "start " << file.StartTime;
    // The whole file's rate is its size over its length.
    EXPECT_NEAR(file.BitRate, f.FileSize * 8 / (file.Duration / 1e6), file.BitRate * 0.02);

    if (video) {
        const TVideoStreamInfo v = d.GetVideoStreamInfo(-1);
        EXPECT_EQ(v.CodecName, DecoderText(video->CodecId));
        EXPECT_EQ(v.Width, video->Width);
        EXPECT_EQ(v.Height, video->Height);
        EXPECT_EQ(v.PixelFormat, video->PixelFormat);
        EXPECT_EQ(int64_t(v.FrameRateNum) * video->FrameRateDen,
                  int64_t(video->FrameRateNum) * v.FrameRateDen);
        EXPECT_NEAR(v.AspectRatio,
                    double(video->SarNum) * video->Width / video->SarDen / video->Height, 0.001);
        if (v.DurationUS != -1) {
            EXPECT_NEAR(v.DurationUS / 1e6, video->Seconds, tolerance);
        }
        // Only MP4 keeps a video rate here; elsewhere the rate is unknown.
        if (GetParam() == fkMp4H264Aac) {
            EXPECT_NEAR(v.BitRate, video->ActualBitRate(), video->ActualBitRate() * 0.05);
        } else {
            EXPECT_EQ(v.BitRate, 0);
        }
    }
    for (const auto& s : f.Streams) {
        if (s.Type != AVMEDIA_TYPE_AUDIO)
            continue;
        SCOPED_TRACE("audio stream #" + std::to_string(s.Index));
        const TAudioStreamInfo a = d.GetAudioStreamInfo(s.Index);
        EXPECT_EQ(a.CodecName, DecoderText(s.CodecId));
        EXPECT_EQ(a.Channels, s.Channels);
        EXPECT_EQ(a.SampleRate, s.SampleRate);
        if (s.Language.empty()) { // MP4 says "und" for a stream without language
            EXPECT_TRUE(a.Language.empty() || a.Language == "und") << a.Language;
        } else {
            EXPECT_EQ(a.Language, s.Language);
        }
        EXPECT_GE(a.SampleFormat, 0);
        if (a.DurationUS != -1) {
            EXPECT_NEAR(a.DurationUS / 1e6, s.Seconds, tolerance);
        }
        if (s.CodecId == AV_CODEC_ID_PCM_S16LE) {
            EXPECT_EQ(a.BitRate, s.SampleRate * 16 * s.Channels);
        } else if (s.CodecId == AV_CODEC_ID_MP3 || s.CodecId == AV_CODEC_ID_MP2) {
            EXPECT_EQ(a.BitRate, s.BitRate); // constant rate, stated in every frame
        } else if (GetParam() == fkMp4H264Aac) {
            EXPECT_NEAR(a.BitRate, s.ActualBitRate(), s.ActualBitRate() * 0.05);
        } else {
            EXPECT_EQ(a.BitRate, 0); // AAC in Matroska, FLAC: no rate is stored
        }
    }
    d.CloseFile();
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_EQ(d.FirstVideoStream(), -1);
    EXPECT_EQ(d.DefaultStream(), -1);
    EXPECT_EQ(d.FileSize(), -1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DecoderFacts,
                         ::testing::Values(fkAviMpeg4Mp3, fkMp4H264Aac, fkMkvTwoAudio, fkMpegTs,
                                           fkWavPcm, fkFlac, fkMp3),
                         [](const auto& info) { return std::string(FixtureName(info.param)); });

TEST_F(DecoderTest, TagsAndCreationTime) {
    for (TFixtureKind kind : {fkMp4H264Aac, fkMkvTwoAudio, fkMp3, fkFlac}) {
        SCOPED_TRACE(FixtureName(kind));
        TFFDecoder d;
        ASSERT_TRUE(d.LoadFile(Fixture(kind).Path)) << d.LastErrMsg();
        const TFileStreamInfo info = d.GetFileStreamInfo();
        EXPECT_EQ(info.Title, "Known Title");
        EXPECT_EQ(info.Author, "Known Artist");
        EXPECT_EQ(info.Album, "Known Album");
        EXPECT_EQ(info.Comment, "Known Comment");
        EXPECT_EQ(info.Genre, "Known Genre");
        EXPECT_EQ(info.Year, 2009);
        EXPECT_EQ(info.Track, 3);
        EXPECT_EQ(info.Copyright, "Known Owner");
        // 2020-05-01 12:34:56 UTC
        EXPECT_EQ(info.Timestamp, kind == fkMp4H264Aac ? 1588336496LL * 1000000 : 0);
    }
}

// --- thumbnails -------------------------------------------------------------------------------

class DecoderThumbnail : public DecoderFacts {};

// As the input list takes it: seek to half the duration, one picture of the first video
// stream, a 24-bit bitmap.
TEST_P(DecoderThumbnail, ShowsThePictureOfItsMoment) {
    const TFixture& f = Fixture(GetParam());
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(f.Path)) << d.LastErrMsg();
    ASSERT_GE(d.FirstVideoStream(), 0);
    const TFileStreamInfo file = d.GetFileStreamInfo();
    ASSERT_TRUE(d.Seek(0, file.Duration / 2)) << d.LastErrMsg();
    ASSERT_TRUE(d.Decode(d.FirstVideoStream())) << d.LastErrMsg();
    TBitmap bitmap;
    bitmap.SetBitsPixel(24);
    ASSERT_TRUE(d.CopyToBitmap(bitmap)) << d.LastErrMsg();
    EXPECT_EQ(bitmap.Width(), 160);
    EXPECT_EQ(bitmap.Height(), 120);
    EXPECT_EQ(bitmap.BitsPixel(), 24);
    // The picture lies in the second after the middle's keyframe search, and shows that
    // second's colour.
    const double seconds = d.FrameTime() / 1e6;
    EXPECT_GE(seconds, file.Duration / 2e6 - 0.05);
    EXPECT_LT(seconds, 2.0);
    EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColour(1)));
    EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColourAt(seconds)));
    EXPECT_EQ(d.PacketStreamIndex(), d.FirstVideoStream());
    EXPECT_TRUE(d.KeyFrame()); // a seek lands on a keyframe
    EXPECT_EQ(d.PictureType(), int(AV_PICTURE_TYPE_I));

    // The same picture in the 32-bit layout.
    TBitmap wide;
    wide.SetBitsPixel(32);
    ASSERT_TRUE(d.CopyToBitmap(wide)) << d.LastErrMsg();
    EXPECT_EQ(wide.BitsPixel(), 32);
    EXPECT_TRUE(EveryPixelNear(wide, FixtureColour(1)));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DecoderThumbnail,
                         ::testing::Values(fkAviMpeg4Mp3, fkMp4H264Aac, fkMkvTwoAudio, fkMpegTs),
                         [](const auto& info) { return std::string(FixtureName(info.param)); });

// --- decoding and seeking ----------------------------------------------------------------------

TEST_F(DecoderTest, DecodesEveryPictureInOrderThenReportsTheEnd) {
    // H.264 with B-frames: pictures leave the decoder later than their packets arrive.
    const TFixture& f = Fixture(fkMp4H264Aac);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(f.Path));
    int count = 0, lastKey = -1;
    int64_t previousTime = -1, previousPosition = -1;
    while (d.Decode(-1)) {
        SCOPED_TRACE("picture " + std::to_string(count));
        EXPECT_EQ(d.FrameTime(), count * 100000);
        EXPECT_EQ(d.LastFrameTime(), previousTime);
        EXPECT_EQ(d.LastPacketPosition(), previousPosition);
        EXPECT_GE(d.PacketPosition(), previousPosition);
        // A group of at most four pictures, each opened by a keyframe.
        if (d.KeyFrame()) {
            EXPECT_EQ(d.PictureType(), int(AV_PICTURE_TYPE_I));
            lastKey = count;
        }
        EXPECT_TRUE(lastKey >= 0 && count - lastKey < 4) << "no keyframe since " << lastKey;
        TBitmap bitmap;
        ASSERT_TRUE(d.CopyToBitmap(bitmap));
        EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColourAt(count / 10.0)));
        previousTime = d.FrameTime();
        previousPosition = d.PacketPosition();
        ++count;
    }
    EXPECT_EQ(count, f.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames);
    EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
    EXPECT_TRUE(Logged(llInfo, "stream eof reached."));
    EXPECT_TRUE(d.EndOfStream());
    EXPECT_FALSE(d.Decode(-1));
    EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");

    // Back to the start: the end is forgotten and the first picture comes again.
    ASSERT_TRUE(d.Seek(0, 0)) << d.LastErrMsg();
    EXPECT_FALSE(d.EndOfStream());
    EXPECT_FALSE(d.PictureReady());
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_EQ(d.FrameTime(), 0);
}

TEST_F(DecoderTest, KeyFramesOfTheFixtureAreWhereTheDecoderSaysTheyAre) {
    // The MPEG-4 encoder starts a new group at each colour change as well.
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkAviMpeg4Mp3).Path));
    std::vector<int64_t> keyTimes;
    while (d.Decode(-1))
        if (d.KeyFrame())
            keyTimes.push_back(d.FrameTime());
    ASSERT_FALSE(keyTimes.empty());
    EXPECT_EQ(keyTimes.front(), 0);
    // A forward seek lands on the first keyframe at or after the position.
    for (int64_t at : {int64_t(330000), int64_t(1530000), int64_t(2230000)}) {
        ASSERT_TRUE(d.Seek(0, at)) << d.LastErrMsg();
        ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
        auto next = std::lower_bound(keyTimes.begin(), keyTimes.end(), at);
        ASSERT_NE(next, keyTimes.end());
        EXPECT_EQ(d.FrameTime(), *next) << "seek to " << at;
        // Backwards: the keyframe at or before it.
        ASSERT_TRUE(d.Seek(AVSEEK_FLAG_BACKWARD, at)) << d.LastErrMsg();
        ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
        EXPECT_EQ(d.FrameTime(), *(std::upper_bound(keyTimes.begin(), keyTimes.end(), at) - 1));
    }
}

TEST_F(DecoderTest, SeekPastTheEndGivesTheEndOfStream) {
    for (TFixtureKind kind : {fkAviMpeg4Mp3, fkMp4H264Aac, fkMkvTwoAudio, fkMpegTs}) {
        SCOPED_TRACE(FixtureName(kind));
        TFFDecoder d;
        ASSERT_TRUE(d.LoadFile(Fixture(kind).Path));
        const int64_t duration = d.GetFileStreamInfo().Duration;
        const bool seeked = d.Seek(0, duration + 5000000);
        EXPECT_FALSE(seeked && !d.EndOfStream() && d.Decode(-1))
            << "a picture after the end, at " << d.FrameTime();
        if (!seeked) {
            EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
        }
        EXPECT_FALSE(d.Decode(-1));
        EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
    }
}

TEST_F(DecoderTest, SeekByBytesAndToTheStartOfAStreamThatStartsLate) {
    // MPEG-TS starts its clock above 0.
    const TFixture& f = Fixture(fkMpegTs);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(f.Path));
    EXPECT_GT(d.StartTime(), 0);
    ASSERT_TRUE(d.Seek(AVSEEK_FLAG_BYTE, f.FileSize / 2)) << d.LastErrMsg();
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_GT(d.FrameTime(), 1000000);
    EXPECT_LT(d.FrameTime(), 2500000);
    // Position 0 (or below): the very first picture, times counted from the stream start.
    ASSERT_TRUE(d.Seek(0, -5)) << d.LastErrMsg();
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_EQ(d.FrameTime(), 0);
    TBitmap bitmap;
    ASSERT_TRUE(d.CopyToBitmap(bitmap));
    EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColour(0)));
}

TEST_F(DecoderTest, DeinterlacedPicturesKeepTheirContent) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkMkvTwoAudio).Path));
    d.SetDeinterlace(true);
    ASSERT_TRUE(d.Seek(0, 2100000));
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_TRUE(d.Deinterlace()) << "switched off after: " << d.LastErrMsg();
    TBitmap bitmap;
    ASSERT_TRUE(d.CopyToBitmap(bitmap));
    EXPECT_EQ(bitmap.Width(), 160);
    EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColourAt(d.FrameTime() / 1e6)));
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_TRUE(d.Deinterlace());
}

// --- streams, still images, no file ----------------------------------------------------------

TEST_F(DecoderTest, AudioOnlyFile) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkWavPcm).Path));
    EXPECT_EQ(d.FirstVideoStream(), -1);
    EXPECT_EQ(d.DefaultStream(), 0);
    EXPECT_EQ(d.GetFileStreamInfo().StartTime, -1); // WAV states no start

    const TVideoStreamInfo v = d.GetVideoStreamInfo(-1);
    EXPECT_EQ(d.LastErrMsg(), "no video stream.");
    EXPECT_TRUE(Logged(llError, "no video stream."));
    EXPECT_EQ(v.Width, -1);
    EXPECT_EQ(v.Height, -1);
    EXPECT_EQ(v.FrameRateNum, -1);
    EXPECT_EQ(v.FrameRateDen, -1);
    EXPECT_EQ(v.AspectRatio, -1.0f);
    EXPECT_EQ(v.CodecName, "");

    const TAudioStreamInfo a = d.GetAudioStreamInfo(-1);
    EXPECT_EQ(a.SampleRate, 22050);
    EXPECT_EQ(a.Channels, 2);
    EXPECT_EQ(a.StartTimeUS, -1); // no start known
    EXPECT_EQ(a.DurationUS, 3000000);

    const TAudioStreamInfo invalid = d.GetAudioStreamInfo(5);
    EXPECT_EQ(d.LastErrMsg(), "stream index #5 is invalid.");
    EXPECT_TRUE(Logged(llError, "stream index #5 is invalid."));
    EXPECT_EQ(invalid.SampleRate, -1);
    EXPECT_EQ(invalid.CodecName, "");

    EXPECT_FALSE(d.Decode(-1));
    EXPECT_EQ(d.LastErrMsg(), "no video stream.");
    // Seeking goes by the audio stream.
    EXPECT_TRUE(d.Seek(0, 1500000)) << d.LastErrMsg();
}

TEST_F(DecoderTest, StreamsOfTheWrongKind) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkMkvTwoAudio).Path));
    EXPECT_EQ(d.GetAudioStreamInfo(0).SampleRate, -1);
    EXPECT_EQ(d.LastErrMsg(), "stream #0 is not audio stream.");
    EXPECT_EQ(d.GetVideoStreamInfo(2).Width, -1);
    EXPECT_EQ(d.LastErrMsg(), "stream #2 is not video stream.");
    EXPECT_TRUE(Logged(llError, "stream #2 is not video stream."));
    EXPECT_EQ(d.SelectVideoStream(1), -1);
    EXPECT_EQ(d.LastErrMsg(), "stream #1 is not video stream.");
    EXPECT_FALSE(d.Decode(7));
    EXPECT_EQ(d.LastErrMsg(), "stream index #7 is invalid.");
    EXPECT_EQ(d.SelectVideoStream(-1), 0);
    EXPECT_EQ(d.CurrentVideoStream(), 0);

    const TAudioStreamInfo second = d.GetAudioStreamInfo(2);
    EXPECT_EQ(second.Language, "ger");
    EXPECT_EQ(second.SampleRate, 22050);
    EXPECT_EQ(second.Channels, 1);
    EXPECT_EQ(d.GetAudioStreamInfo(-1).Language, "eng");
}

TEST_F(DecoderTest, NothingLoaded) {
    TFFDecoder d;
    const TFileStreamInfo info = d.GetFileStreamInfo();
    EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
    EXPECT_TRUE(Logged(llWarning, "file not loaded."));
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.StartTime, -1);
    EXPECT_EQ(info.BitRate, -1);
    EXPECT_EQ(info.Year, -1);
    EXPECT_EQ(info.Title, "");
    EXPECT_EQ(d.GetAudioStreamInfo(-1).Channels, -1);
    EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_EQ(d.FileSize(), -1);
    EXPECT_FALSE(d.Seek(0, 0));
    EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
    TBitmap bitmap;
    EXPECT_FALSE(d.CopyToBitmap(bitmap));
    EXPECT_EQ(d.LastErrMsg(), "picture not ready, please decode first");
    EXPECT_TRUE(Logged(llError, "picture not ready, please decode first"));
    EXPECT_FALSE(d.Decode(-1));
    EXPECT_EQ(d.LastErrMsg(), "no video stream.");
}

TEST_F(DecoderTest, CopyBeforeDecodeAfterLoading) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkMp4H264Aac).Path));
    TBitmap bitmap;
    EXPECT_FALSE(d.CopyToBitmap(bitmap));
    EXPECT_EQ(d.LastErrMsg(), "picture not ready, please decode first");
    ASSERT_TRUE(d.Decode(-1));
    EXPECT_TRUE(d.PictureReady());
    d.CloseFile();
    EXPECT_FALSE(d.PictureReady());
    EXPECT_FALSE(d.CopyToBitmap(bitmap));
}

TEST_F(DecoderTest, FileWithoutDuration) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Fixture(fkFlacStreamed).Path)) << d.LastErrMsg();
    const TFileStreamInfo info = d.GetFileStreamInfo();
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.BitRate, 0);
    const TAudioStreamInfo a = d.GetAudioStreamInfo(-1);
    EXPECT_EQ(a.Duration, AV_NOPTS_VALUE);
    EXPECT_EQ(a.DurationUS, -1);
    EXPECT_EQ(a.SampleRate, 44100);
}

TEST_F(DecoderTest, StillImageKeepsItsOnePicture) {
    const TFixture& f = Fixture(fkPngImage);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(f.Path, "image2")) << d.LastErrMsg();
    EXPECT_EQ(d.ForcedFormat(), "image2");
    EXPECT_EQ(d.FileSize(), f.FileSize); // from the disk: image2 opens no file of its own
    EXPECT_FALSE(d.Seek(0, 0));
    EXPECT_EQ(d.LastErrMsg(), "\"image2\" format cannot to be seeked.");
    EXPECT_TRUE(Logged(llInfo, "\"image2\" format cannot to be seeked."));
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    EXPECT_TRUE(d.Decode(-1)) << d.LastErrMsg();
    TBitmap bitmap;
    ASSERT_TRUE(d.CopyToBitmap(bitmap));
    EXPECT_TRUE(EveryPixelNear(bitmap, FixtureColour(0), 2)); // lossless
}

TEST_F(DecoderTest, ForcedFormats) {
    const TFixture& wav = Fixture(fkWavPcm);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(wav.Path, "wav")) << d.LastErrMsg();
    EXPECT_EQ(d.ForcedFormat(), "wav");
    Lines.clear();
    EXPECT_FALSE(d.LoadFile(wav.Path, "no-such-format"));
    EXPECT_EQ(d.LastErrMsg(), "Unknown input format: no-such-format");
    EXPECT_TRUE(Lines.empty()) << Lines.front().Text; // not logged
    // The file before is closed all the same.
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_EQ(d.ForcedFormat(), "");
    // A format that does not fit the file.
    EXPECT_FALSE(d.LoadFile(Fixture(fkMp4H264Aac).Path, "wav"));
    EXPECT_EQ(d.LastErrMsg().rfind(Fixture(fkMp4H264Aac).Path + ": ", 0), 0u) << d.LastErrMsg();
}

TEST_F(DecoderTest, AttachedContextIsReadOnly) {
    const TFixture& f = Fixture(fkMkvTwoAudio);
    AVFormatContext* input = nullptr;
    ASSERT_EQ(OpenInputFile(&input, ToLibraryFileName(f.Path), nullptr, nullptr), 0);
    ASSERT_GE(ff::avformat_find_stream_info(input, nullptr), 0);
    {
        TFFDecoder d;
        d.AttachContext(input);
        EXPECT_FALSE(d.OwnsContext());
        EXPECT_EQ(d.Context(), input);
        EXPECT_EQ(d.FileName(), f.Path);
        EXPECT_EQ(d.AudioStreamCount(), 2);
        EXPECT_EQ(d.FileSize(), f.FileSize);
        EXPECT_EQ(d.GetVideoStreamInfo(-1).Width, 160);
        d.AttachContext(input); // the same one again: nothing changes
        EXPECT_EQ(d.Context(), input);
        try {
            d.Seek(0, 1000000);
            ADD_FAILURE() << "Seek on an attached container did not raise";
        } catch (const FFmpegException& e) {
            EXPECT_STREQ(e.what(), "file cannot be seeked, handle is readonly.");
        }
        EXPECT_EQ(d.LastErrMsg(), "file cannot be seeked, handle is readonly.");
        EXPECT_TRUE(Logged(llWarning, "file cannot be seeked, handle is readonly."));
        ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
        EXPECT_EQ(d.FrameTime(), 0);
        d.CloseFile();
        EXPECT_EQ(d.Context(), nullptr);
        // Attached again and loading another file: the attached one stays open.
        d.AttachContext(input);
        ASSERT_TRUE(d.LoadFile(Fixture(fkWavPcm).Path));
        EXPECT_TRUE(d.OwnsContext());
    } // destroying the decoder leaves the attached container alone too
    ASSERT_EQ(input->nb_streams, 3u);
    CloseInputFile(&input); // the sanitizer run would see a double close here
}

TEST_F(DecoderTest, UnicodeFileName) {
    const std::string path = FixtureDir().Folder() + "Grüße – 映像.mp4";
    const TFixture f = WriteFixture(fkMp4H264Aac, path);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(path)) << d.LastErrMsg();
    EXPECT_EQ(d.FileName(), path);
    EXPECT_EQ(d.FileSize(), f.FileSize);
    EXPECT_EQ(d.GetFileStreamInfo().Duration, 3000000);
    ASSERT_TRUE(d.Seek(0, 1500000)) << d.LastErrMsg();
    ASSERT_TRUE(d.Decode(-1)) << d.LastErrMsg();
}

TEST_F(DecoderTest, LibrariesMustBeBound) {
    const std::string wav = Fixture(fkWavPcm).Path;
    TFFDecoder d;
    FFLoader().UnloadLib(libSwScale);
    try {
        d.LoadFile(wav);
        ADD_FAILURE() << "LoadFile without libswscale did not raise";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "LibSwScale not loaded.");
    }
    TOutputContextPtr context(ff::avformat_alloc_context()); // never opened: freed as made
    EXPECT_THROW(d.AttachContext(context.get()), FFmpegException);
    EXPECT_EQ(d.Context(), nullptr);
    context.reset();
    ASSERT_TRUE(FFLoader().LoadLib(libSwScale)) << FFLoader().LastErrorMessage();
    ASSERT_TRUE(d.LoadFile(wav));

    FFLoader().UnloadLib(libAVCodec);
    try {
        d.LoadFile(wav);
        ADD_FAILURE() << "LoadFile without libavcodec did not raise";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries)) << FFLoader().LastErrorMessage();
}

// --- bad input ---------------------------------------------------------------------------------

struct TBadCase {
    std::string Name;
    std::string Expected; // text after "<path>: "
};

TEST_F(DecoderTest, BadFilesGiveWordedErrors) {
    const std::string folder = FixtureDir().Folder() + "bad/";
    std::filesystem::create_directories(folder + "a folder.mp4");
    std::ofstream(folder + "empty.mp4").close();
    {
        std::ofstream random(folder + "random.mp4", std::ios::binary);
        uint32_t state = 7;
        for (int i = 0; i < 20000; ++i) {
            state = state * 1664525u + 1013904223u;
            random.put(char(state >> 24));
        }
    }
    {
        // The index of an MP4 comes last; without it nothing can be found.
        const TFixture& mp4 = Fixture(fkMp4H264Aac);
        std::ifstream in(mp4.Path, std::ios::binary);
        std::string bytes(size_t(mp4.FileSize / 2), '\0');
        in.read(bytes.data(), std::streamsize(bytes.size()));
        std::ofstream(folder + "truncated.mp4", std::ios::binary) << bytes;
    }
    const std::vector<TBadCase> cases = {
        {"missing.mp4", "No such file or directory"},
        {"a folder.mp4", "Is a directory"},
        {"empty.mp4", "Invalid data found when processing input"},
        {"random.mp4", "Invalid data found when processing input"},
        {"truncated.mp4", "Invalid data found when processing input"},
    };
    TFFDecoder d;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        // A file loaded before is closed by the failed load.
        ASSERT_TRUE(d.LoadFile(Fixture(fkWavPcm).Path));
        Lines.clear();
        EXPECT_FALSE(d.LoadFile(folder + c.Name));
        EXPECT_EQ(d.LastErrMsg(), folder + c.Name + ": " + c.Expected);
        EXPECT_TRUE(Logged(llError, d.LastErrMsg()));
        EXPECT_EQ(d.Context(), nullptr);
        EXPECT_EQ(d.StreamCount(), -1);
        EXPECT_EQ(d.FileSize(), -1);
    }
}

TEST_F(DecoderTest, UnreadableFile) {
    const TFixture& wav = Fixture(fkWavPcm);
    const std::string path = FixtureDir().Folder() + "locked.wav";
    std::filesystem::copy_file(wav.Path, path, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const std::string expected = path + ": Permission denied";
    if (::geteuid() != 0) {
        TFFDecoder d;
        EXPECT_FALSE(d.LoadFile(path));
        EXPECT_EQ(d.LastErrMsg(), expected);
        return;
    }
    // The superuser reads everything: the load runs in a child process without privileges.
    ASSERT_EQ(::chmod(FixtureDir().Path.c_str(), 0755), 0);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::string answer = "setuid failed";
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
            TFFDecoder d;
            answer = d.LoadFile(path) ? "opened" : d.LastErrMsg();
        }
        (void)!::write(pipeEnds[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, size_t(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(answer, expected);
}

TEST_F(DecoderTest, StreamWithoutDecoder) {
    const TFixture& f = Fixture(fkMkvNoDecoder);
    TFFDecoder d;
    // The container is readable: its facts are there.
    ASSERT_TRUE(d.LoadFile(f.Path)) << d.LastErrMsg();
    EXPECT_EQ(d.FirstVideoStream(), 0);
    EXPECT_EQ(d.GetVideoStreamInfo(-1).Width, 160);
    EXPECT_EQ(d.GetVideoStreamInfo(-1).CodecName, "avs2");
    // The picture is not.
    EXPECT_FALSE(d.Decode(-1));
    const std::string expected =
        FormatText("Unsupported codec (id=%d) for input file stream #0", int(AV_CODEC_ID_AVS2));
    EXPECT_EQ(d.LastErrMsg(), expected);
    EXPECT_TRUE(Logged(llError, expected));
    TBitmap bitmap;
    EXPECT_FALSE(d.CopyToBitmap(bitmap));
}

} // namespace
