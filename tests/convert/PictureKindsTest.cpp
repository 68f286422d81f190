// Inputs people have every day, converted through the conversion run: audio files with cover
// art, phone clips whose pictures are stored on their side, files with two video streams and
// detailed big pictures for a container with a packet limit.
#include "base/MainThread.h"
#include "convert/Catalogue.h"
#include "convert/ConversionRun.h"
#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "engine/FFLogger.h"
#include "engine/StreamFacts.h"
#include "tests/fixtures/MediaFixtures.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TRunHost : public TConversionHost {
public:
    void Log(const std::string& line) override { Lines += line + "\n"; }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        Finished = true;
    }
    std::string Lines;
    TRunSummary Summary;
    bool Finished = false;
};

class PictureKinds : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void SetUp() override {
        Previous = SetMainThreadDispatcher(&Dispatcher);
        TFFLogger& logger = TFFLogger::Instance();
        logger.TriggerEventInMainThread = false;
        logger.SetLogLevel(llInfo);
        logger.OnLog = [this](TFFLogger*, uint32_t, TLogLevel, const std::string& text) {
            std::lock_guard lock(LogMutex);
            EngineLog += text + "\n";
        };
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->name());
        for (char& c : name)
            if (c == '/')
                c = '_';
        Dir = fs::temp_directory_path() / ("cw-kinds-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(Dir);
        fs::create_directories(Dir / "out");
    }
    void TearDown() override {
        TFFLogger::Instance().OnLog = nullptr;
        SetMainThreadDispatcher(Previous);
        fs::remove_all(Dir);
    }

    // Converts one file with a preset of the catalogue; the output path, or "" after a
    // failure (reported as a test failure with the run's lines).
    std::string Convert(const std::string& source, int outputClass, const char* format,
                        int preset) {
        const TOutputFormat* f = FindFormatByName(outputClass, format);
        EXPECT_NE(f, nullptr) << format;
        if (!f)
            return {};
        fs::remove_all(Dir / "out");
        fs::create_directories(Dir / "out");
        TFFEncoder encoder;
        TRunHost host;
        TConversionRun run(encoder, host);
        run.Selection = {outputClass, f->Index, preset};
        run.OutputFolder = (Dir / "out").string();
        run.Start({{source}});
        EXPECT_TRUE(WaitServing([&] { return host.Finished; }, 120s)) << "the run did not end";
        if (host.Summary.SucceededFiles != 1 || run.Items().size() != 1) {
            std::lock_guard lock(LogMutex);
            ADD_FAILURE() << format << " " << preset << " failed:\n" << host.Lines << EngineLog;
            return {};
        }
        return run.Items()[0].OutputPath;
    }
    std::string Log() {
        std::lock_guard lock(LogMutex);
        return EngineLog;
    }

    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    fs::path Dir;
    std::mutex LogMutex;
    std::string EngineLog;
};

// Length of an opened file from its header, in seconds.
double Seconds(TFFDecoder& decoder) {
    return decoder.GetFileStreamInfo().Duration / 1e6;
}

// The colour at (x, y) of a 24-bit bitmap.
TRgb PixelAt(const TBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    return {p[2], p[1], p[0]};
}

// The picture shown at `seconds` of a file, as the input list shows it.
TBitmap PictureAt(const std::string& path, double seconds) {
    TFFDecoder decoder;
    TBitmap bitmap;
    EXPECT_TRUE(decoder.LoadFile(path)) << decoder.LastErrMsg();
    EXPECT_TRUE(decoder.Seek(AVSEEK_FLAG_BACKWARD, int64_t(seconds * 1e6))) << decoder.LastErrMsg();
    EXPECT_TRUE(decoder.Decode(decoder.FirstVideoStream())) << decoder.LastErrMsg();
    EXPECT_TRUE(decoder.CopyToBitmap(bitmap)) << decoder.LastErrMsg();
    return bitmap;
}

// -- cover art -----------------------------------------------------------------------------

struct TCoverCase {
    TCoverContainer Container;
    const char* Name;
    const char* Extension;
    const char* AudioFormat; // the audio format that keeps the cover
    int AudioPreset;
};

class CoverArt : public PictureKinds, public ::testing::WithParamInterface<TCoverCase> {};

TEST_P(CoverArt, IsNoVideoAndStaysWithTheSound) {
    const TCoverCase& c = GetParam();
    TFixtureParams params;
    params.Seconds = 2;
    const TFixture source = WriteCoverArtAudio(
        c.Container, (Dir / (std::string("song") + c.Extension)).string(), params);

    // Probed as audio only: the input list shows the audio lines of the file.
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(source.Path)) << probe.LastErrMsg();
    ASSERT_EQ(probe.StreamCount(), 2) << "the fixture has no cover";
    EXPECT_LT(probe.FirstVideoStream(), 0);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.AudioStreamCount(), 1);

    // A video preset makes a file of the sound alone.
    const std::string avi = Convert(source.Path, ocVideo, "AVI", 3);
    if (!avi.empty()) {
        TFFDecoder out;
        ASSERT_TRUE(out.LoadFile(avi)) << out.LastErrMsg();
        EXPECT_EQ(out.StreamCount(), 1);
        EXPECT_EQ(out.AudioStreamCount(), 1);
        EXPECT_NEAR(Seconds(out), params.Seconds, 0.2);
    }

    // The audio format keeps the cover as cover art.
    const std::string audio = Convert(source.Path, ocAudio, c.AudioFormat, c.AudioPreset);
    ASSERT_FALSE(audio.empty());
    TFFDecoder out;
    ASSERT_TRUE(out.LoadFile(audio)) << out.LastErrMsg();
    EXPECT_EQ(out.AudioStreamCount(), 1);
    EXPECT_EQ(out.VideoStreamCount(), 0);
    int covers = 0;
    for (unsigned i = 0; i < out.Context()->nb_streams; ++i) {
        const AVStream* st = out.Context()->streams[i];
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            ++covers;
            EXPECT_EQ(st->codecpar->width, CoverSide);
            EXPECT_GT(st->attached_pic.size, 0);
        }
    }
    EXPECT_EQ(covers, 1) << "the cover was lost";
    EXPECT_NEAR(Seconds(out), params.Seconds, 0.2);
}

INSTANTIATE_TEST_SUITE_P(Containers, CoverArt,
                         ::testing::Values(TCoverCase{ccMp3, "Mp3", ".mp3", "MP3", 2},
                                           TCoverCase{ccM4a, "M4a", ".m4a", "M4A", 0},
                                           TCoverCase{ccFlac, "Flac", ".flac", "FLAC", 5}),
                         [](const auto& info) { return std::string(info.param.Name); });

// -- pictures stored on their side -----------------------------------------------------------

enum TCorner { TopLeft, TopRight, BottomLeft, BottomRight };

struct TTurnCase {
    const char* Name;
    int Degrees; // clockwise turn of the display matrix
    bool Mirrored;
    TCorner Marker; // where the stored top-left corner is seen
    int Preset;     // AVI preset: 3 keeps the size, 7 is 320x240
    int Width, Height;
};

class TurnedPictures : public PictureKinds, public ::testing::WithParamInterface<TTurnCase> {};

TEST_P(TurnedPictures, ComeOutUpright) {
    const TTurnCase& c = GetParam();
    TFixtureParams params;
    params.Seconds = 1;
    params.Width = 640;
    params.Height = 360;
    const TFixture source =
        WriteTurnedClip((Dir / "phone.mp4").string(), c.Degrees, c.Mirrored, params);

    // Where the marked corner must be in a picture of that size, and the corner across.
    auto check = [&](const TBitmap& picture, const char* what) {
        const int w = picture.Width(), h = picture.Height();
        ASSERT_TRUE(w > 8 && h > 8) << what;
        const int left = w / 8, right = w - 1 - w / 8, top = h / 8, bottom = h - 1 - h / 8;
        const int x = c.Marker == TopLeft || c.Marker == BottomLeft ? left : right;
        const int y = c.Marker == TopLeft || c.Marker == TopRight ? top : bottom;
        const int ox = x == left ? right : left, oy = y == top ? bottom : top;
        EXPECT_TRUE(ColourNear(PixelAt(picture, x, y), CornerColour)) << what;
        EXPECT_TRUE(ColourNear(PixelAt(picture, ox, oy), FixtureColourAt(0.5))) << what;
    };

    // The input list's card gives the shown size, and its thumbnail stands upright.
    const bool sideways = c.Degrees % 180 != 0;
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(source.Path)) << probe.LastErrMsg();
    EXPECT_EQ(probe.GetVideoStreamInfo(-1).Width, sideways ? 360 : 640);
    const TBitmap thumbnail = PictureAt(source.Path, 0.5);
    EXPECT_EQ(thumbnail.Width(), sideways ? 360 : 640);
    EXPECT_EQ(thumbnail.Height(), sideways ? 640 : 360);
    check(thumbnail, "thumbnail");

    const std::string out = Convert(source.Path, ocVideo, "AVI", c.Preset);
    ASSERT_FALSE(out.empty());
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
    const TVideoStreamInfo video = decoder.GetVideoStreamInfo(-1);
    EXPECT_EQ(video.Width, c.Width);
    EXPECT_EQ(video.Height, c.Height);
    // Shown with the shape of the upright picture, and with no turn of its own.
    const double shown = sideways ? 360.0 / 640 : 640.0 / 360;
    EXPECT_NEAR(video.AspectRatio, shown, shown * 0.03);
    EXPECT_EQ(DisplayTurn(decoder.Context()->streams[decoder.FirstVideoStream()]), ptNone);
    EXPECT_NEAR(Seconds(decoder), params.Seconds, 0.2);
    check(PictureAt(out, 0.5), "converted picture");
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, TurnedPictures,
    ::testing::Values(TTurnCase{"Quarter", 90, false, TopRight, 3, 360, 640},
                      TTurnCase{"Half", 180, false, BottomRight, 3, 640, 360},
                      TTurnCase{"ThreeQuarters", 270, false, BottomLeft, 3, 360, 640},
                      TTurnCase{"Mirror", 0, true, TopRight, 3, 640, 360},
                      TTurnCase{"QuarterMirror", 90, true, TopLeft, 3, 360, 640},
                      TTurnCase{"HalfMirror", 180, true, BottomLeft, 3, 640, 360},
                      TTurnCase{"QuarterFixedSize", 90, false, TopRight, 7, 320, 240}),
    [](const auto& info) { return std::string(info.param.Name); });

// -- more than one video stream, big detailed pictures ----------------------------------------

TEST_F(PictureKinds, TwoVideoStreamsEncodeTheFirst) {
    TFixtureParams first, second;
    first.Seconds = second.Seconds = 1;
    first.Width = 160, first.Height = 120, first.FrameRateNum = 10;
    second.Width = 320, second.Height = 240, second.FrameRateNum = 25;
    const TFixture source = WriteTwoVideoAvi((Dir / "two.avi").string(), first, second);
    const std::string out = Convert(source.Path, ocVideo, "AVI", 3);
    ASSERT_FALSE(out.empty());
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
    ASSERT_EQ(decoder.VideoStreamCount(), 1);
    const TVideoStreamInfo video = decoder.GetVideoStreamInfo(-1);
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    ASSERT_GT(video.FrameRateDen, 0);
    EXPECT_NEAR(double(video.FrameRateNum) / video.FrameRateDen, 10, 0.1);
}

TEST_F(PictureKinds, RmPresetsHoldDetailed1080p) {
    TFixtureParams params;
    params.Seconds = 1;
    params.Width = 1920;
    params.Height = 1080;
    const TFixture source = WriteDetailedClip((Dir / "detail.avi").string(), params);
    for (int preset : {0, 4}) {
        const std::string out = Convert(source.Path, ocVideo, "RM", preset);
        ASSERT_FALSE(out.empty()) << preset;
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
        EXPECT_EQ(decoder.VideoStreamCount(), 1);
        EXPECT_NEAR(Seconds(decoder), params.Seconds, 0.2) << preset;
        EXPECT_NE(Log().find("64 KB"), std::string::npos) << "what was done is not logged";
    }
}

} // namespace
} // namespace cw::test
