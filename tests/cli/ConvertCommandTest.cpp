// clipwright-cli convert run as the real program on generated files: outputs re-opened with the
// decoder, argument errors, exit codes, and Ctrl+C in the middle of a run.
#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TResult {
    int Code = -1;
    std::string Out;
    std::string Err;
};

class ConvertCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void SetUp() override { Out = (Dir / "out").string(); }

    // Starts the program with stdout and stderr in files; returns its process id.
    pid_t Spawn(const std::vector<std::string>& args) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open((Dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open((Dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(CW_CLI), const_cast<char*>("convert")};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(CW_CLI, argv.data());
            ::_exit(127);
        }
        return pid;
    }
    TResult Finish(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        TResult r;
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.Out = Slurp(Dir / "stdout");
        r.Err = Slurp(Dir / "stderr");
        return r;
    }
    TResult Run(const std::vector<std::string>& args) { return Finish(Spawn(args)); }
    static std::string Slurp(const fs::path& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Fixture(TFixtureKind kind, const std::string& name, double seconds, int width = 160,
                        int height = 120, int fps = 10) {
        TFixtureParams params;
        params.Seconds = seconds;
        params.Width = width;
        params.Height = height;
        params.FrameRateNum = fps;
        return WriteFixture(kind, (Dir / name).string(), params).Path;
    }

    TTempDir Temp{"cw-cvt"};
    fs::path Dir{Temp.Path};
    std::string Out;
};

TEST_F(ConvertCommandTest, VideoAndAudioPresetsGiveTheirContainersAndCodecs) {
    const std::string clip = Fixture(fkAviMpeg4Mp3, "clip.avi", 2);
    const std::string tone = Fixture(fkWavPcm, "tone.wav", 2);
    struct TCase {
        std::string Class, Format, Preset, Input, Output, Video, Audio;
    };
    const std::vector<TCase> cases{
        {"video", "mp4", "3", clip, "clip.mp4", "h264", "aac"},
        {"video", "AVI", "3", clip, "clip.avi", "mpeg4", "mp3"},
        {"device", "iPod", "0", clip, "clip.mp4", "h264", "aac"},
        {"audio", "MP3", "0", tone, "tone.mp3", "", "mp3"},
        {"audio", "flac", "0", tone, "tone.flac", "", "flac"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Class + " " + c.Format + " " + c.Preset);
        const std::string folder = Out + "-" + c.Class + "-" + c.Format;
        const TResult r = Run({"--class", c.Class, "--format", c.Format, "--preset", c.Preset,
                               "--out", folder, c.Input});
        EXPECT_EQ(r.Code, 0) << r.Err << r.Out;
        EXPECT_NE(r.Err.find("File has been added to convert list."), std::string::npos);
        EXPECT_NE(r.Out.find("Total files: 1\nSucceeded: 1\nFailed: 0\n"), std::string::npos)
            << r.Out;
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(folder + "/" + c.Output)) << decoder.LastErrMsg();
        EXPECT_NEAR(double(decoder.GetFileStreamInfo().Duration), 2e6, 2e5);
        if (c.Video.empty()) {
            EXPECT_EQ(decoder.VideoStreamCount(), 0);
        } else {
            ASSERT_EQ(decoder.VideoStreamCount(), 1);
            // The decoder's name, then the codec's long name in parentheses.
            EXPECT_EQ(decoder.GetVideoStreamInfo(-1).CodecName.rfind(c.Video, 0), 0u)
                << decoder.GetVideoStreamInfo(-1).CodecName;
        }
        ASSERT_EQ(decoder.AudioStreamCount(), 1);
        EXPECT_EQ(decoder.GetAudioStreamInfo(-1).CodecName.rfind(c.Audio, 0), 0u)
            << decoder.GetAudioStreamInfo(-1).CodecName;
    }
}

// Seconds from the earliest packet to the end of the latest one, per kind of stream.
std::map<AVMediaType, double> StreamSpans(const std::string& path) {
    std::map<AVMediaType, double> spans;
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return spans;
    std::map<int, std::pair<double, double>> range;
    AVPacket* packet = ff::av_packet_alloc();
    while (ff::av_read_frame(context, packet) >= 0) {
        const AVStream* stream = context->streams[packet->stream_index];
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE) {
            const double start = double(ts) * av_q2d(stream->time_base);
            const double end = double(ts + packet->duration) * av_q2d(stream->time_base);
            auto [at, added] = range.try_emplace(packet->stream_index, start, end);
            if (!added)
                at->second = {std::min(at->second.first, start), std::max(at->second.second, end)};
        }
        ff::av_packet_unref(packet);
    }
    for (const auto& [index, span] : range)
        spans[context->streams[index]->codecpar->codec_type] = span.second - span.first;
    ff::av_packet_free(&packet);
    ff::avformat_close_input(&context);
    return spans;
}

TEST_F(ConvertCommandTest, InputsWithoutSoundOrPicturesAreFilledToTheirLength) {
    TFixtureParams silentParams;
    silentParams.Seconds = 2;
    silentParams.Width = 320;
    silentParams.Height = 240;
    silentParams.FrameRateNum = 25;
    const TFixture withSound =
        WriteFixture(fkMp4H264Aac, (Dir / "sound.mp4").string(), silentParams);
    const std::string silent = RemuxFixture(withSound, (Dir / "silent.mp4").string(), {true}).Path;
    const std::string clip = Fixture(fkAviMpeg4Mp3, "clip.avi", 2);
    const std::string tone = Fixture(fkWavPcm, "tone.wav", 1);
    struct TCase {
        std::string Name, Class, Format, Preset;
        std::vector<std::string> Inputs;
        std::string Output;
        double Seconds;
    };
    const std::vector<TCase> cases{
        // The handheld's muxer wants sound: a silent track is added.
        {"psp", "device", "PSP", "1", {silent}, "silent.mp4", 2},
        // ... and pictures: a sound file gets black pictures at the preset's size.
        {"psp", "device", "PSP", "0", {tone}, "tone.mp4", 1},
        // Pictures, sound only, pictures: black pictures for the sound's second.
        {"join", "video", "MP4", "3", {clip, tone, clip}, "Output_Merge.mp4", 5},
        // A silent video first: silence for its stretch.
        {"join", "video", "AVI", "3", {silent, clip}, "Output_Merge.avi", 4},
        // Sound only first: the pictures start black.
        {"join", "video", "MP4", "3", {tone, clip}, "Output_Merge.mp4", 3},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name + " " + c.Format + " of " + std::to_string(c.Inputs.size()));
        const std::string folder = Out + "-" + std::to_string(n++);
        std::vector<std::string> args{"--class",  c.Class,  "--format", c.Format,
                                      "--preset", c.Preset, "--out",    folder};
        if (c.Name == "join")
            args.push_back("--merge");
        args.insert(args.end(), c.Inputs.begin(), c.Inputs.end());
        const TResult r = Run(args);
        EXPECT_EQ(r.Code, 0) << r.Err << r.Out;
        const std::string output = folder + "/" + c.Output;
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrMsg();
        EXPECT_EQ(decoder.VideoStreamCount(), 1);
        EXPECT_EQ(decoder.AudioStreamCount(), 1);
        EXPECT_NEAR(double(decoder.GetFileStreamInfo().Duration) / 1e6, c.Seconds, 0.3);
        const auto spans = StreamSpans(output);
        ASSERT_EQ(spans.count(AVMEDIA_TYPE_VIDEO) + spans.count(AVMEDIA_TYPE_AUDIO), 2u);
        EXPECT_NEAR(spans.at(AVMEDIA_TYPE_VIDEO), c.Seconds, 0.3);
        EXPECT_NEAR(spans.at(AVMEDIA_TYPE_AUDIO), c.Seconds, 0.3);
    }

    // A file that truly cannot be used is named, with the reason in words.
    const std::string odd = Fixture(fkMkvNoDecoder, "odd.mkv", 1);
    const TResult r = Run({"--class", "video", "--format", "MP4", "--preset", "3", "--out",
                           Out + "-odd", "--merge", clip, odd});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("File (0): odd.mkv cannot be used: no decoder is installed for its "
                         "video"),
              std::string::npos)
        << r.Out;
}

// Every line of the output parsed as a JSON object, grouped by its Event field.
std::map<std::string, std::vector<QJsonObject>> JsonEvents(const std::string& out) {
    std::map<std::string, std::vector<QJsonObject>> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        events[document.object()["Event"].toString().toStdString()].push_back(document.object());
    }
    return events;
}

TEST_F(ConvertCommandTest, JsonLinesFollowTheRun) {
    const std::string tone = Fixture(fkWavPcm, "tone.wav", 2);
    const std::string clip = Fixture(fkAviMpeg4Mp3, "clip.avi", 1);
    // A missing file named like a task's number: its error line is no task's error.
    const std::string missing = (Dir / "0").string();
    TResult r = Run({"--json", "--class", "audio", "--format", "mp3", "--preset", "0", "--out", Out,
                     "--jobs", "2", tone, missing, clip});
    EXPECT_EQ(r.Code, 1) << r.Err;
    auto events = JsonEvents(r.Out);
    ASSERT_EQ(events.size(), 3u) << r.Out;

    const std::vector<std::string> inputs{tone, clip}; // the missing file gets no task
    std::map<int, int> lastPercent;
    for (const QJsonObject& p : events["progress"]) {
        const int index = p["Index"].toInt(-1);
        ASSERT_TRUE(index == 0 || index == 1) << r.Out;
        EXPECT_EQ(p["File"].toString().toStdString(), inputs[size_t(index)]);
        const int percent = p["Percent"].toInt(-1);
        EXPECT_GE(percent, lastPercent[index]);
        EXPECT_LE(percent, 100);
        lastPercent[index] = percent;
        EXPECT_GE(p["ElapsedSeconds"].toDouble(-1), 0);
        EXPECT_GE(p["RemainingSeconds"].toDouble(-1), 0);
    }
    EXPECT_EQ(lastPercent.size(), 2u) << r.Out;
    ASSERT_EQ(events["file"].size(), 2u) << r.Out;
    std::set<int> ended;
    for (const QJsonObject& f : events["file"]) {
        const int index = f["Index"].toInt(-1);
        ended.insert(index);
        ASSERT_TRUE(index == 0 || index == 1);
        EXPECT_EQ(f["Input"].toString().toStdString(), inputs[size_t(index)]);
        EXPECT_EQ(f["Status"].toString(), "Finish.");
        EXPECT_EQ(f["Error"].toString(), "");
        EXPECT_TRUE(fs::file_size(f["Output"].toString().toStdString()) > 0);
    }
    EXPECT_EQ(ended, (std::set<int>{0, 1}));
    const QJsonObject summary = events["summary"].at(0);
    EXPECT_EQ(summary["Total"].toInt(), 3);
    EXPECT_EQ(summary["Succeeded"].toInt(), 2);
    EXPECT_EQ(summary["Failed"].toInt(), 1);
    ASSERT_EQ(summary["Errors"].toArray().size(), 1);
    EXPECT_EQ(summary["Errors"][0].toString().toStdString().rfind("File (0): File load error: ", 0),
              0u);

    // A task that fails carries its error line; so does the summary.
    const std::string odd = Fixture(fkMkvNoDecoder, "odd.mkv", 1);
    r = Run({"--json", "--class", "video", "--format", "MP4", "--preset", "3", "--out",
             Out + "-odd", "--merge", clip, odd});
    EXPECT_EQ(r.Code, 1);
    events = JsonEvents(r.Out);
    ASSERT_EQ(events["file"].size(), 1u) << r.Out;
    const QJsonObject failed = events["file"][0];
    EXPECT_EQ(failed["Status"].toString(), "Failed.");
    EXPECT_EQ(failed["Error"].toString().toStdString().rfind("odd.mkv cannot be used: ", 0), 0u)
        << r.Out;
    ASSERT_EQ(events["summary"].size(), 1u);
    EXPECT_EQ(events["summary"][0]["Failed"].toInt(), 1);
    EXPECT_EQ(events["summary"][0]["Errors"][0].toString(),
              "File (0): " + failed["Error"].toString());
}

TEST_F(ConvertCommandTest, BadArgumentsAndFilesAreWordedWithTheirExitCodes) {
    const std::string clip = Fixture(fkWavPcm, "tone.wav", 1);
    TResult r = Run({"--class", "audio", "--format", "XYZ", "--preset", "0", "--out", Out, clip});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("unknown format \"XYZ\""), std::string::npos) << r.Err;
    r = Run({"--class", "audio", "--format", "mp3", "--preset", "99", "--out", Out, clip});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("preset 99 is not a preset of MP3"), std::string::npos) << r.Err;
    r = Run({"--class", "audio", "--format", "mp3", "--preset", "0", "--out", Out, "--jobs", "0",
             clip});
    EXPECT_EQ(r.Code, 2);
    EXPECT_FALSE(fs::exists(Out));
    // A folder below a plain file cannot be made.
    std::ofstream(Dir / "plain") << "x";
    r = Run({"--class", "audio", "--format", "mp3", "--preset", "0", "--out",
             (Dir / "plain" / "sub").string(), clip});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("cannot create the output folder"), std::string::npos) << r.Err;
    // A file that does not exist, or an output folder where nothing can be written: logged as
    // the wizard logs it, counted as a failed file with its error line, exit code 1.
    r = Run({"--class", "audio", "--format", "mp3", "--preset", "0", "--out", Out,
             (Dir / "missing.wav").string()});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("File load error: "), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("Total files: 1\nSucceeded: 0\nFailed: 1\nFile (missing.wav): File "
                         "load error: "),
              std::string::npos)
        << r.Out;
    EXPECT_TRUE(fs::is_empty(Out));
    r = Run({"--class", "audio", "--format", "mp3", "--preset", "0", "--out", "/proc", clip});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("Total files: 1\nSucceeded: 0\nFailed: 1\nFile (tone.wav): Cannot do "
                         "convert, error: "),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(Run({"--help"}).Code, 0);
}

TEST_F(ConvertCommandTest, InterruptFinishesTheRunningOutputAndCountsItFailed) {
    const std::string longClip = Fixture(fkAviMpeg4Mp3, "long.avi", 40, 320, 240, 25);
    const std::string second = Fixture(fkAviMpeg4Mp3, "second.avi", 1);
    const pid_t pid = Spawn(
        {"--class", "video", "--format", "MP4", "--preset", "3", "--out", Out, longClip, second});
    // Interrupt once the first output has media in it.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline &&
           !(fs::exists(Out + "/long.mp4", ec) && fs::file_size(Out + "/long.mp4", ec) > 20000))
        std::this_thread::sleep_for(20ms);
    ::kill(pid, SIGINT);
    const TResult r = Finish(pid);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Out.find("Total files: 2\nSucceeded: 0\nFailed: 2\n"), std::string::npos) << r.Out;
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(Out + "/long.mp4")) << decoder.LastErrMsg();
    const int64_t duration = decoder.GetFileStreamInfo().Duration;
    EXPECT_GT(duration, 0);
    EXPECT_LT(duration, 39'000'000);
    ASSERT_GE(decoder.SelectVideoStream(-1), 0);
    EXPECT_TRUE(decoder.Decode(-1)) << decoder.LastErrMsg();
    // The task that never ran leaves no file.
    EXPECT_FALSE(fs::exists(Out + "/second.mp4"));
}

} // namespace
} // namespace cw::test
