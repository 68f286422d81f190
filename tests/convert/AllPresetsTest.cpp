// Every preset of the catalogue, run end to end: a generated clip of a common size (or, for
// the Audio class, a tone) is converted through the conversion run and the output is opened
// again with the decoder. The container, the codecs, the picture size and rate, the sample
// rate, the channel count and the length must be those of the preset's row in the literal
// table (PresetExpectations.h), and the bit rates handed to the engine those of the row. A
// preset the installed libraries cannot make fails. The presets that keep the input's size
// also convert short clips of other sizes.
// Then inputs people have every day: audio with cover art, phone clips stored on their side,
// files with two video streams, and detailed full-HD pictures for RM's packet limit.
#include "base/MainThread.h"
#include "convert/Catalogue.h"
#include "convert/ConversionRun.h"
#include "convert/InputList.h"
#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "engine/FFLogger.h"
#include "engine/StreamFacts.h"
#include "tests/convert/PresetExpectations.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TPresetCase {
    int Class;
    int Format;
    TExpectedPreset Expected;
    std::string Name; // "Video_AVI_3"
};

void PrintTo(const TPresetCase& c, std::ostream* os) {
    *os << c.Name;
}

// One case per row of the literal table; a row whose format the catalogue lacks keeps -1 and
// fails in the test.
std::vector<TPresetCase> AllCases() {
    std::vector<TPresetCase> cases;
    for (const TExpectedPreset& row : ExpectedPresets) {
        const TOutputClassInfo* cls = FindClassByName(row.Class);
        const TOutputFormat* format = cls ? FindFormatByName(cls->Index, row.Format) : nullptr;
        cases.push_back(
            {cls ? cls->Index : -1, format ? format->Index : -1, row,
             std::string(row.Class) + "_" + row.Format + "_" + std::to_string(row.Preset)});
    }
    return cases;
}

class TQuietHost : public IConversionView {
public:
    void Log(const std::string& line) override { Lines.push_back(line); }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        Finished = true;
    }
    std::string AllLines() const {
        std::string all;
        for (const auto& line : Lines)
            all += line + "\n";
        return all;
    }
    std::vector<std::string> Lines;
    TRunSummary Summary;
    bool Finished = false;
};

// The source as the fixture writes it: a 3 s 854x480 H.264 + AAC clip, as phones and video
// sites give. 25 pictures a second: the H.264 rows hold back two pictures for B-frames, and
// AVI and FLV, which cannot store timestamps below zero, carry that delay into the file's
// length (0.08 s here).
constexpr int SourceWidth = 854, SourceHeight = 480, SourceFps = 25;
constexpr int SourceRate = 48000, SourceChannels = 2;
constexpr double SourceSeconds = 3.0;

// The demuxer that reads back what a muxer wrote, where its name differs.
std::string ReadingDemuxer(const std::string& muxer) {
    static const std::pair<const char*, const char*> aliases[] = {
        {"ipod", "mov"}, {"psp", "mp4"},  {"3g2", "3gp"},   {"adts", "aac"},
        {"mp2", "mp3"},  {"vcd", "mpeg"}, {"svcd", "mpeg"}, {"dvd", "mpeg"},
        {"vob", "mpeg"}, {"oga", "ogg"},  {"opus", "ogg"}};
    for (const auto& [from, to] : aliases)
        if (muxer == from)
            return to;
    return muxer;
}

bool NameListHas(const std::string& list, const std::string& name) {
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (item == name)
            return true;
    return false;
}

// Length of the open file in seconds: what its header says, else the end of its last packet
// (some containers store no length).
double MediaSeconds(TFFDecoder& decoder, std::string* detail) {
    AVFormatContext* ctx = decoder.Context();
    std::vector<double> ends(ctx->nb_streams, 0);
    std::vector<int> packets(ctx->nb_streams, 0);
    AVPacket* packet = ff::av_packet_alloc();
    while (ff::av_read_frame(ctx, packet) >= 0) {
        const AVStream* st = ctx->streams[packet->stream_index];
        const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (at != AV_NOPTS_VALUE) {
            const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
            const double end =
                double(at - start + packet->duration) * st->time_base.num / st->time_base.den;
            ends[packet->stream_index] = std::max(ends[packet->stream_index], end);
        }
        ++packets[packet->stream_index];
        ff::av_packet_unref(packet);
    }
    ff::av_packet_free(&packet);
    double last = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
        last = std::max(last, ends[i]);
        const AVStream* st = ctx->streams[i];
        *detail += "stream " + std::to_string(i) + ": " + std::to_string(packets[i]) +
                   " packets, starts at " + std::to_string(st->start_time) + ", ends at " +
                   std::to_string(ends[i]) + " s after its start\n";
    }
    const int64_t header = decoder.GetFileStreamInfo().Duration;
    return header > 0 ? header / 1e6 : last;
}

// The codec of a stream of the open file, by the libraries' short name.
std::string StreamCodec(TFFDecoder& decoder, int stream) {
    return ff::avcodec_get_name(decoder.Context()->streams[stream]->codecpar->codec_id);
}

bool ParseSize(const std::string& text, int& w, int& h) {
    return std::sscanf(text.c_str(), "%dx%d", &w, &h) == 2;
}

AVRational ParseRate(const std::string& text) {
    int num = 0, den = 1;
    if (std::sscanf(text.c_str(), "%d/%d", &num, &den) < 1)
        return {0, 1};
    return {num, den};
}

// Conversion runs in a folder of the test's own.
class TRunFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void SetUp() override {
        Previous = SetMainThreadDispatcher(&Dispatcher);
        TFFLogger& logger = TFFLogger::Instance();
        logger.TriggerEventInMainThread = false;
        logger.SetLogLevel(llWarning);
        logger.OnLog = [this](TFFLogger*, uint32_t, TLogLevel level, const std::string& text) {
            std::lock_guard lock(LogMutex);
            EngineLog.push_back({level, text});
        };
        fs::create_directories(Dir / "out");
    }
    void TearDown() override {
        TFFLogger::Instance().OnLog = nullptr;
        SetMainThreadDispatcher(Previous);
    }
    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    TTempDir Temp{"cw-presets"};
    fs::path Dir{Temp.Path};
    std::mutex LogMutex;
    std::vector<std::pair<TLogLevel, std::string>> EngineLog;

    // The engine's warnings and errors of the run, one a line.
    std::string EngineLines() {
        std::lock_guard lock(LogMutex);
        std::string all;
        for (const auto& [level, text] : EngineLog)
            all += text + "\n";
        return all;
    }
    bool WarningWith(const std::string& part) {
        std::lock_guard lock(LogMutex);
        for (const auto& [level, text] : EngineLog)
            if (level == llWarning && text.find(part) != std::string::npos)
                return true;
        return false;
    }

    // Converts the source with the selection; the output path after a success, "" after a
    // failure (with the run's lines in *report).
    std::string Convert(const TOutputSelection& selection, const std::string& source,
                        std::string* report) {
        TFFEncoder encoder;
        TQuietHost host;
        TConversionRun run(encoder, host);
        run.Selection = selection;
        run.OutputFolder = (Dir / "out").string();
        run.Start({{source}});
        if (!WaitServing([&] { return host.Finished; }, 300s)) {
            *report = "the run did not end";
            return {};
        }
        if (host.Summary.SucceededFiles != 1 || run.Items().size() != 1) {
            *report = (host.Summary.ErrorList.empty() ? "" : host.Summary.ErrorList[0]) + "\n" +
                      host.AllLines() + EngineLines();
            return {};
        }
        return run.Items()[0].OutputPath;
    }
    // The same with a format named as in the catalogue; a failure fails the test.
    std::string Convert(const std::string& source, int outputClass, const char* format,
                        int preset) {
        const TOutputFormat* f = FindFormatByName(outputClass, format);
        EXPECT_NE(f, nullptr) << format;
        std::string report;
        const std::string out = f ? Convert({outputClass, f->Index, preset}, source, &report) : "";
        EXPECT_FALSE(out.empty()) << format << " " << preset << ": " << report;
        return out;
    }
};

class AllPresets : public TRunFolder, public ::testing::WithParamInterface<TPresetCase> {};

TEST_P(AllPresets, OutputIsWhatThePresetAsksFor) {
    const TPresetCase& c = GetParam();
    const TExpectedPreset& want = c.Expected;
    ASSERT_GE(c.Format, 0) << "the catalogue has no format " << want.Class << " " << want.Format;
    const TOutputFormat* format = FindFormat(c.Class, c.Format);
    ASSERT_TRUE(format && format->HasPreset(want.Preset)) << "the catalogue lacks " << c.Name;
    const bool audioClass = c.Class == ocAudio;
    const bool wantVideo = *want.VideoCodec != '\0';

    TFixtureParams params;
    params.Seconds = SourceSeconds;
    params.Width = SourceWidth;
    params.Height = SourceHeight;
    params.FrameRateNum = SourceFps;
    params.SampleRate = SourceRate;
    params.Channels = SourceChannels;
    const std::string source =
        WriteFixture(audioClass ? fkWavPcm : fkMp4H264Aac,
                     (Dir / (audioClass ? "tone.wav" : "clip.mp4")).string(), params)
            .Path;
    const std::string out = (Dir / "out").string();

    // The values the options carry to the engine that a file does not show exactly.
    const TOutputSelection selection{c.Class, c.Format, want.Preset};
    TFFDecoder sourceProbe;
    ASSERT_TRUE(sourceProbe.LoadFile(source)) << sourceProbe.LastErrMsg();
    const TOutputOptions options = FileOutputOptions(
        selection, out, TProbedInput{source, "", sourceProbe.GetAudioStreamInfo(-1).BitRate});
    sourceProbe.CloseFile();
    // A field the row leaves alone keeps its initial value (below 0): 0 in the table.
    EXPECT_EQ(std::max(options.VideoBitrate, 0), want.VideoBitrate);
    EXPECT_EQ(std::max(options.AudioBitrate, 0), want.AudioBitrate);
    EXPECT_EQ(options.FrameRate, want.FrameRate);
    if (options.AudioSampleRate > 0) {
        EXPECT_EQ(options.AudioSampleRate, want.SampleRate);
    }
    if (options.AudioChannels > 0) {
        EXPECT_EQ(options.AudioChannels, want.Channels);
    }

    // The run must make the file; a missing encoder is a failure here, not a skip.
    TFFEncoder encoder;
    TQuietHost host;
    TConversionRun run(encoder, host);
    run.Selection = selection;
    run.OutputFolder = out;
    run.Start({{source}});
    ASSERT_TRUE(WaitServing([&] { return host.Finished; }, 300s)) << "the run did not end";
    ASSERT_EQ(run.Items().size(), 1u);
    ASSERT_EQ(host.Summary.SucceededFiles, 1)
        << (host.Summary.ErrorList.empty() ? "" : host.Summary.ErrorList[0]) << "\n"
        << host.AllLines() << EngineLines();
    const std::string outPath = run.Items()[0].OutputPath;
    EXPECT_EQ(fs::path(outPath).parent_path(), fs::path(out));
    EXPECT_EQ(fs::path(outPath).extension().string(), format->Extension);

    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(outPath)) << decoder.LastErrMsg();
    ASSERT_NE(decoder.Context(), nullptr);
    const std::string demuxer = decoder.Context()->iformat->name;
    EXPECT_TRUE(NameListHas(demuxer, ReadingDemuxer(want.Container)))
        << "expected " << want.Container << ", read as " << demuxer;
    if (std::string(want.Container) == "psp") {
        const AVDictionaryEntry* brand =
            ff::av_dict_get(decoder.Context()->metadata, "major_brand", nullptr, 0);
        EXPECT_STREQ(brand ? brand->value : "", "MSNV") << "not written by the PSP muxer";
    }

    std::string streams;
    EXPECT_NEAR(MediaSeconds(decoder, &streams), SourceSeconds, SourceSeconds * 0.1) << streams;

    if (wantVideo) {
        ASSERT_EQ(decoder.VideoStreamCount(), 1);
        const TVideoStreamInfo v = decoder.GetVideoStreamInfo(-1);
        EXPECT_EQ(StreamCodec(decoder, decoder.FirstVideoStream()), want.VideoCodec);
        int w = 0, h = 0;
        if (ParseSize(want.Size, w, h)) {
            EXPECT_EQ(v.Width, w);
            EXPECT_EQ(v.Height, h);
        } else {
            ASSERT_STREQ(want.Size, "original");
            // The input's size, brought to the encoder's block size at most, and shown with
            // the input's shape.
            EXPECT_NEAR(v.Width, SourceWidth, 15);
            EXPECT_NEAR(v.Height, SourceHeight, 15);
            EXPECT_NEAR(v.AspectRatio, double(SourceWidth) / SourceHeight,
                        0.02 * SourceWidth / SourceHeight);
        }
        AVRational rate = ParseRate(want.FrameRate);
        if (rate.num <= 0)
            rate = {SourceFps, 1};
        ASSERT_GT(v.FrameRateDen, 0);
        EXPECT_NEAR(double(v.FrameRateNum) / v.FrameRateDen, double(rate.num) / rate.den,
                    0.01 * rate.num / rate.den)
            << v.FrameRateNum << "/" << v.FrameRateDen;
    } else {
        EXPECT_EQ(decoder.VideoStreamCount(), 0);
    }

    ASSERT_EQ(decoder.AudioStreamCount(), 1);
    const TAudioStreamInfo a = decoder.GetAudioStreamInfo(-1);
    const std::string audioCodec = StreamCodec(decoder, decoder.FirstAudioStream());
    EXPECT_EQ(audioCodec, want.AudioCodec);
    // An encoder with a fixed list of rates takes the nearest one and says so.
    int rate = want.SampleRate;
    const AVCodec* audioEncoder = ff::avcodec_find_encoder_by_name(audioCodec.c_str());
    if (audioEncoder && audioEncoder->supported_samplerates &&
        *audioEncoder->supported_samplerates) {
        int best = *audioEncoder->supported_samplerates;
        for (const int* r = audioEncoder->supported_samplerates; *r; ++r)
            if (std::abs(*r - rate) < std::abs(best - rate))
                best = *r;
        if (best != rate) {
            EXPECT_TRUE(WarningWith("(" + std::to_string(best) + ")"))
                << "no warning of the rate taken instead of " << rate << "\n"
                << EngineLines();
        }
        rate = best;
    }
    EXPECT_EQ(a.SampleRate, rate);
    EXPECT_EQ(a.Channels, want.Channels);
}

// The table names every preset of the catalogue once, in list order.
TEST(PresetTable, CoversTheCatalogue) {
    std::set<std::string> listed;
    for (const TPresetCase& c : AllCases()) {
        EXPECT_TRUE(listed.insert(c.Name).second) << c.Name << " twice";
        EXPECT_GE(c.Format, 0) << c.Name;
    }
    size_t catalogue = 0;
    for (const TOutputClassInfo& cls : OutputClasses())
        for (const TOutputFormat& format : cls.Formats)
            for (int p = 0; p < format.PresetCount(); ++p, ++catalogue)
                EXPECT_TRUE(listed.count(std::string(cls.Name) + "_" + std::string(format.Name) +
                                         "_" + std::to_string(p)))
                    << cls.Name << " " << format.Name << " " << p << " has no row";
    EXPECT_EQ(listed.size(), catalogue);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, AllPresets, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<TPresetCase>& info) {
                             return info.param.Name;
                         });

// Presets that keep the input's picture size, with inputs of sizes encoders are picky about:
// a common one, odd sides, and full HD.
struct TSizeCase {
    TPresetCase Preset;
    int Width, Height;
    std::string Name; // "Video_RM_0_641x361"
};

void PrintTo(const TSizeCase& c, std::ostream* os) {
    *os << c.Name;
}

std::vector<TSizeCase> OriginalSizeCases() {
    std::vector<TSizeCase> cases;
    for (const TPresetCase& c : AllCases()) {
        if (std::string(c.Expected.Size) != "original")
            continue;
        for (auto [w, h] : {std::pair{854, 480}, {641, 361}, {1920, 1080}})
            cases.push_back({c, w, h, c.Name + "_" + std::to_string(w) + "x" + std::to_string(h)});
    }
    return cases;
}

class OriginalSizes : public TRunFolder, public ::testing::WithParamInterface<TSizeCase> {};

TEST_P(OriginalSizes, MakeFilesOfTheInputsLength) {
    const TSizeCase& c = GetParam();
    TFixtureParams params;
    params.Seconds = 1;
    params.Width = c.Width;
    params.Height = c.Height;
    params.FrameRateNum = SourceFps;
    const std::string source =
        WriteFixture(fkAviMpeg4Mp3, (Dir / "clip.avi").string(), params).Path;
    const TOutputSelection selection{c.Preset.Class, c.Preset.Format, c.Preset.Expected.Preset};

    std::string report;
    const std::string out = Convert(selection, source, &report);
    ASSERT_FALSE(out.empty()) << report;
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
    std::string streams;
    EXPECT_NEAR(MediaSeconds(decoder, &streams), params.Seconds, 0.15) << streams;
    ASSERT_EQ(decoder.VideoStreamCount(), 1);
    const TVideoStreamInfo v = decoder.GetVideoStreamInfo(-1);
    EXPECT_GT(v.Width, 0);
    EXPECT_NEAR(v.AspectRatio, double(c.Width) / c.Height, 0.02 * c.Width / c.Height);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, OriginalSizes, ::testing::ValuesIn(OriginalSizeCases()),
                         [](const ::testing::TestParamInfo<TSizeCase>& info) {
                             return info.param.Name;
                         });

// -- inputs people have every day: cover art, pictures stored on their side, two video
// streams, big detailed pictures for a container with a packet limit ------------------------

class PictureKinds : public TRunFolder {};

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

class CoverArt : public TRunFolder, public ::testing::WithParamInterface<TCoverCase> {};

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
    probe.CloseFile();
    const TProbeResult listed = ProbeInputFile(probe, source.Path);
    EXPECT_EQ(listed.Row.Cells[icDimension].rfind("Audio Encoder: ", 0), 0u)
        << listed.Row.Cells[icDimension];

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

class TurnedPictures : public TRunFolder, public ::testing::WithParamInterface<TTurnCase> {};

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
    TFFDecoder lister;
    const TProbeResult listed = ProbeInputFile(lister, source.Path);
    ASSERT_TRUE(listed.HasThumbnail) << listed.Error;
    EXPECT_EQ(listed.Row.Cells[icDimension],
              sideways ? "Dimension: 360 x 640" : "Dimension: 640 x 360");
    const TBitmap& thumbnail = listed.Thumbnail;
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
    TFFLogger::Instance().SetLogLevel(llInfo); // what was done to fit is said at llInfo
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
        EXPECT_NE(EngineLines().find("64 KB"), std::string::npos) << "what was done is not logged";
    }
}

} // namespace
} // namespace cw::test
