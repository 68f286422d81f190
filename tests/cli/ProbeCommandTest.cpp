// `clipwright-cli probe`, run as the real program on generated media files: the JSON records,
// the input list's texts, errors and exit codes.
#include "tests/engine/EngineTestSupport.h"

#include "engine/FFDecoder.h"
#include "engine/Text.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/CommandRun.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace cw;
using namespace cw::test;

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

class ProbeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }

    TRun Probe(const std::vector<std::string>& args) {
        const std::string errFile = Dir.Folder() + "stderr.txt";
        std::string command = std::string(CW_CLI) + " probe";
        for (const auto& a : args)
            command += " " + ShellQuote(a);
        command += " 2>" + ShellQuote(errFile);
        const TCommandRun result = RunCommand(command);
        TRun run;
        run.ExitCode = result.ExitCode;
        run.Out = result.Out;
        std::ifstream err(errFile);
        std::stringstream text;
        text << err.rdbuf();
        run.Err = text.str();
        return run;
    }

    static std::vector<QJsonObject> JsonLines(const std::string& out) {
        std::vector<QJsonObject> objects;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            QJsonParseError error{};
            QJsonDocument document =
                QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError)
                << error.errorString().toStdString() << " in " << line;
            objects.push_back(document.object());
        }
        return objects;
    }

    static std::vector<std::string> Keys(const QJsonObject& object) {
        std::vector<std::string> keys;
        for (const QString& key : object.keys())
            keys.push_back(key.toStdString());
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    TTempDir Dir;
};

std::string Str(const QJsonValue& value) {
    return value.toString().toStdString();
}

TEST_F(ProbeCommand, JsonCarriesTheRecordsOfEveryFile) {
    const TFixture mp4 = WriteFixture(fkMp4H264Aac, Dir.Folder() + "clip.mp4");
    const TFixture wav = WriteFixture(fkWavPcm, Dir.Folder() + "sound.wav");
    const std::string missing = Dir.Folder() + "missing.avi";
    const TRun run = Probe({"--json", mp4.Path, wav.Path, missing});
    EXPECT_EQ(run.ExitCode, 1); // one file failed
    const auto lines = JsonLines(run.Out);
    ASSERT_EQ(lines.size(), 3u) << run.Out;

    const QJsonObject& video = lines[0];
    EXPECT_EQ(Keys(video),
              (std::vector<std::string>{"Audio", "File", "FileName", "FileSize", "Video"}));
    EXPECT_EQ(Str(video["FileName"]), mp4.Path);
    EXPECT_EQ(video["FileSize"].toInteger(), mp4.FileSize);
    const QJsonObject file = video["File"].toObject();
    EXPECT_EQ(Keys(file), (std::vector<std::string>{"Album", "Author", "BitRate", "Comment",
                                                    "Copyright", "Duration", "Genre", "StartTime",
                                                    "Timestamp", "Title", "Track", "Year"}));
    EXPECT_EQ(file["Duration"].toInteger(), 3000000);
    EXPECT_EQ(file["StartTime"].toInteger(), 0);
    EXPECT_NEAR(double(file["BitRate"].toInteger()), mp4.FileSize * 8 / 3.0, 1.0);
    const QJsonObject v = video["Video"].toObject();
    EXPECT_EQ(Keys(v), (std::vector<std::string>{"AspectRatio", "BitRate", "CodecName", "Duration",
                                                 "DurationUS", "FrameRateDen", "FrameRateNum",
                                                 "Height", "Language", "PixelFormat", "StartTime",
                                                 "StartTimeUS", "Width"}));
    EXPECT_EQ(v["Width"].toInt(), 160);
    EXPECT_EQ(v["Height"].toInt(), 120);
    EXPECT_EQ(v["FrameRateNum"].toInt(), 10);
    EXPECT_EQ(v["FrameRateDen"].toInt(), 1);
    EXPECT_NEAR(v["AspectRatio"].toDouble(), 4.0 / 3.0, 1e-5);
    EXPECT_EQ(v["DurationUS"].toInteger(), 3000000);
    EXPECT_EQ(v["PixelFormat"].toInt(), int(AV_PIX_FMT_YUV420P));
    EXPECT_EQ(Str(v["CodecName"]).rfind("h264(", 0), 0u) << Str(v["CodecName"]);
    const QJsonObject a = video["Audio"].toObject();
    EXPECT_EQ(Keys(a), (std::vector<std::string>{"BitRate", "Channels", "CodecName", "Duration",
                                                 "DurationUS", "Language", "SampleFormat",
                                                 "SampleRate", "StartTime", "StartTimeUS"}));
    EXPECT_EQ(a["SampleRate"].toInt(), 48000);
    EXPECT_EQ(a["Channels"].toInt(), 2);
    EXPECT_EQ(Str(a["CodecName"]).rfind("aac(", 0), 0u);

    const QJsonObject& audioOnly = lines[1];
    EXPECT_EQ(Str(audioOnly["FileName"]), wav.Path);
    EXPECT_TRUE(audioOnly["Video"].isNull());
    EXPECT_EQ(audioOnly["File"].toObject()["StartTime"].toInteger(), -1);
    EXPECT_EQ(audioOnly["Audio"].toObject()["SampleRate"].toInt(), 22050);
    EXPECT_EQ(audioOnly["Audio"].toObject()["BitRate"].toInt(), 22050 * 16 * 2);

    const QJsonObject& failed = lines[2];
    EXPECT_EQ(Keys(failed), (std::vector<std::string>{"Error", "FileName"}));
    EXPECT_EQ(Str(failed["FileName"]), missing);
    EXPECT_EQ(Str(failed["Error"]), missing + ": No such file or directory");
}

TEST_F(ProbeCommand, TextShowsTheInputListLines) {
    const TFixture mp4 = WriteFixture(fkMp4H264Aac, Dir.Folder() + "clip.mp4");
    const TFixture flac = WriteFixture(fkFlacStreamed, Dir.Folder() + "stream.flac");
    const std::string missing = Dir.Folder() + "missing.mp4";
    // The rates as the decoder reports them in this process.
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(mp4.Path));
    const int videoRate = d.GetVideoStreamInfo(-1).BitRate;
    const int audioRate = d.GetAudioStreamInfo(-1).BitRate;
    ASSERT_GT(videoRate, 1000);
    d.CloseFile();

    const TRun run = Probe({mp4.Path, missing, flac.Path});
    EXPECT_EQ(run.ExitCode, 1);
    const std::string expected =
        mp4.Path + "\n" + "  Duration: 00:00:03.000\n" +
        FormatText("  Bit rate: %d Kbps\n", videoRate / 1000) + "  Dimension: 160 x 120\n" +
        "  File size: 0 M\n" +
        "  Video encoder: h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)\n" + "  Channels: 2\n" +
        "  Sample rate: 48000 Hz\n" + FormatText("  Bit rate: %d Kbps\n", audioRate / 1000) +
        "  Audio encoder: aac(AAC (Advanced Audio Coding))\n" + "  Frame rate: 10.000000\n" +
        flac.Path + "\n" + "  Duration: Duration is not preseted\n" +
        "  Audio Bit rate: Bit rate is not preseted\n" +
        "  Audio Encoder: flac(FLAC (Free Lossless Audio Codec))\n" + "  File size: 0 M\n" +
        "  Video encoder: \n" + "  Channels: 2\n" + "  Sample rate: 44100 Hz\n" +
        "  Bit rate: Bit rate is not preseted\n" +
        "  Audio encoder: flac(FLAC (Free Lossless Audio Codec))\n" + "  Frame rate: 1.000000\n";
    EXPECT_EQ(run.Out, expected);
    EXPECT_EQ(run.Err, "File load error: " + missing + ": No such file or directory\n");
}

TEST_F(ProbeCommand, NamesThatNeedEscaping) {
    const TFixture wav = WriteFixture(fkWavPcm, Dir.Folder() + "base.wav");
    const std::string odd = Dir.Folder() + "say \"hi\" \\ Grüße\t.wav";
    const std::string broken = Dir.Folder() + "bad\xff.wav"; // not UTF-8
    // A sequence cut short: each of its bytes is replaced on its own.
    const std::string cut = Dir.Folder() + "cut\xe2\x82.wav";
    std::filesystem::copy_file(wav.Path, odd);
    std::filesystem::copy_file(wav.Path, broken);
    std::filesystem::copy_file(wav.Path, cut);
    const TRun run = Probe({"--json", odd, broken, cut});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const auto lines = JsonLines(run.Out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Str(lines[0]["FileName"]), odd);
    EXPECT_EQ(Str(lines[1]["FileName"]), Dir.Folder() + "bad\xef\xbf\xbd.wav");
    EXPECT_EQ(lines[1]["FileSize"].toInteger(), wav.FileSize);
    EXPECT_EQ(Str(lines[2]["FileName"]), Dir.Folder() + "cut\xef\xbf\xbd\xef\xbf\xbd.wav");
}

TEST_F(ProbeCommand, ArgumentsAndHelp) {
    const TRun help = Probe({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Out.rfind("usage: clipwright-cli probe [--json] FILE...\n", 0), 0u);
    EXPECT_EQ(Probe({}).ExitCode, 2);
    EXPECT_EQ(Probe({"--json"}).ExitCode, 2);
    const TRun unknown = Probe({"--xml", "a.mp4"});
    EXPECT_EQ(unknown.ExitCode, 2);
    EXPECT_NE(unknown.Err.find("unknown option: --xml"), std::string::npos);
    // After "--" a name that looks like an option is a file.
    const TRun dashed = Probe({"--json", "--", "-x.mp4"});
    EXPECT_EQ(dashed.ExitCode, 1);
    const auto lines = JsonLines(dashed.Out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Str(lines[0]["Error"]), "-x.mp4: No such file or directory");
}

} // namespace
