// Damaged media files through probing and conversion. Every case must end in time, without a
// crash, with either the file's facts or a worded error naming the file; a conversion run
// must finish, word every failure, and leave nothing under an output name that does not
// open as media.
#include "CorruptFiles.h"

#include "base/MainThread.h"
#include "convert/Catalogue.h"
#include "convert/ConversionRun.h"
#include "convert/InputList.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The longest a single probe may take; a healthy one takes milliseconds.
constexpr int ProbeTimeLimitMs = 20000;

// One probe's outcome as the child process reports it.
struct TProbeOutcome {
    bool Finished = false; // false: crashed or hung (What says which)
    std::string What;
    bool Opened = false;
    std::string Error;
};

// Probes in a child process, so that a crash or a hang is this case's failure alone.
TProbeOutcome ProbeInChild(const std::string& path) {
    int pipeEnds[2];
    TProbeOutcome outcome;
    if (::pipe(pipeEnds) != 0) {
        outcome.What = "no pipe";
        return outcome;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        TFFDecoder decoder;
        const TProbeResult result = ProbeInputFile(decoder, path);
        const std::string report = (result.Opened ? "1" : "0") + result.Error;
        (void)!::write(pipeEnds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string report;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ProbeTimeLimitMs);
    bool hung = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            hung = true;
            break;
        }
        pollfd p{pipeEnds[0], POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        report.append(buffer, size_t(n));
    }
    ::close(pipeEnds[0]);
    if (hung)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (hung) {
        outcome.What = "no answer within the time limit";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report.empty()) {
        outcome.What = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                           : "exited without a report";
    } else {
        outcome.Finished = true;
        outcome.Opened = report[0] == '1';
        outcome.Error = report.substr(1);
    }
    return outcome;
}

// A file left under an output name must open as media with at least one stream.
bool PlayableMedia(const std::string& path) {
    std::error_code ec;
    if (fs::file_size(path, ec) == 0 || ec)
        return false;
    TFFDecoder decoder;
    const bool playable = decoder.LoadFile(path) && decoder.StreamCount() > 0 &&
                          decoder.GetFileStreamInfo().Duration > 0;
    decoder.CloseFile();
    return playable;
}

class CorruptInputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
        Temp = std::make_unique<TTempDir>("cw-corrupt");
        Dir = Temp->Path;
        fs::create_directories(Dir / "src");
        TFixtureParams params;
        params.Seconds = 1;
        params.Width = 64;
        params.Height = 48;
        params.FrameRateNum = 5;
        params.GopSize = 2;
        for (TFixtureKind kind : AllFixtureKinds()) {
            if (kind == fkMkvNoDecoder)
                continue;
            const std::string path =
                (Dir / "src" / (std::string(FixtureName(kind)) + FixtureExtension(kind))).string();
            Sources[kind] = ReadBytes(WriteFixture(kind, path, params).Path);
        }
    }
    static void TearDownTestSuite() { Temp.reset(); }

    // Writes a damaged file into the case's folder and returns its path.
    static std::string Damaged(const std::string& name, const TBytes& bytes) {
        fs::create_directories(Dir / "damaged");
        const std::string path = (Dir / "damaged" / name).string();
        WriteBytes(path, bytes);
        return path;
    }

    // Probes the file and checks the outcome: facts, or a worded error that names the file.
    // What probing a file must come to: damaged files may open or be refused, as long as the
    // probe ends and a refusal names the file; sound files under a wrong name must open; an
    // empty file or a text must be refused.
    enum TProbeWant { pwEither, pwOpens, pwRefused };
    static void ExpectProbeEndsWell(const std::string& path, TProbeWant want = pwEither) {
        SCOPED_TRACE(path);
        const TProbeOutcome outcome = ProbeInChild(path);
        ASSERT_TRUE(outcome.Finished) << outcome.What;
        if (want != pwEither) {
            EXPECT_EQ(outcome.Opened, want == pwOpens) << outcome.Error;
        }
        if (!outcome.Opened) {
            EXPECT_EQ(outcome.Error.rfind(path, 0), 0u) << outcome.Error;
            EXPECT_GT(outcome.Error.size(), path.size() + 3) << outcome.Error;
        }
    }

    static std::string Ext(TFixtureKind kind) { return FixtureExtension(kind); }

    // One byte in twenty flipped behind the first headers.
    static std::string HeavilyDamaged(TFixtureKind kind, uint32_t seed) {
        const TBytes& bytes = Sources.at(kind);
        return Damaged("run-" + std::string(FixtureName(kind)) + "-heavy" + std::to_string(seed) +
                           Ext(kind),
                       BitsFlipped(bytes, seed, int(bytes.size() / 20), 600, bytes.size()));
    }

    static inline std::unique_ptr<TTempDir> Temp;
    static inline fs::path Dir;
    static inline std::map<TFixtureKind, TBytes> Sources;
};

TEST_F(CorruptInputs, ProbingFilesCutShortAnywhere) {
    for (const auto& [kind, bytes] : Sources)
        for (size_t point : TruncationPoints(bytes.size()))
            ExpectProbeEndsWell(Damaged(std::string(FixtureName(kind)) + "-cut-" +
                                            std::to_string(point) + Ext(kind),
                                        Truncated(bytes, point)));
}

TEST_F(CorruptInputs, ProbingFilesWithFlippedBits) {
    for (const auto& [kind, bytes] : Sources) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            // Headers first (where the containers keep their sizes), then anywhere.
            const std::string name =
                std::string(FixtureName(kind)) + "-flip-" + std::to_string(seed);
            ExpectProbeEndsWell(
                Damaged(name + "-head" + Ext(kind), BitsFlipped(bytes, seed, 8, 0, 512)));
            ExpectProbeEndsWell(
                Damaged(name + "-any" + Ext(kind), BitsFlipped(bytes, seed, 32, 0, bytes.size())));
        }
    }
}

TEST_F(CorruptInputs, ProbingEmptyMisnamedAndOverclaimingFiles) {
    for (const char* ext : {".avi", ".mp4", ".wav", ".mp3", ""})
        ExpectProbeEndsWell(Damaged(std::string("empty") + ext, {}), pwRefused);
    const std::string text = "This is a note, not a film.\n";
    ExpectProbeEndsWell(Damaged("note.mp4", TBytes(text.begin(), text.end())), pwRefused);
    // The content decides, not the name.
    ExpectProbeEndsWell(Damaged("mp4-named.avi", Sources.at(fkMp4H264Aac)), pwOpens);
    ExpectProbeEndsWell(Damaged("wav-named.mp3", Sources.at(fkWavPcm)), pwOpens);
    ExpectProbeEndsWell(Damaged("png-named.avi", Sources.at(fkPngImage)), pwOpens);
    ExpectProbeEndsWell(Damaged("ts-named.flac", Sources.at(fkMpegTs)), pwOpens);

    int damages = 0;
    for (const auto& set : {WavDamages(Sources.at(fkWavPcm)), AviDamages(Sources.at(fkAviMpeg4Mp3)),
                            Mp4Damages(Sources.at(fkMp4H264Aac))}) {
        for (const TDamage& damage : set) {
            ASSERT_FALSE(damage.Bytes.empty()) << damage.Name << ": the fixture lacks the field";
            const std::string ext = damage.Name.substr(0, damage.Name.find('-'));
            ExpectProbeEndsWell(Damaged(damage.Name + "." + ext, damage.Bytes));
            ++damages;
        }
    }
    EXPECT_EQ(damages, 9);
}

// What a conversion run reports, recorded.
class TRecordingHost : public IConversionView {
public:
    void Log(const std::string& line) override { Lines.push_back(line); }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        Finished = true;
    }
    std::vector<std::string> Lines;
    TRunSummary Summary;
    bool Finished = false;
};

class CorruptConversion : public CorruptInputs {
protected:
    void SetUp() override { Previous = SetMainThreadDispatcher(&Dispatcher); }
    void TearDown() override { SetMainThreadDispatcher(Previous); }

    // Converts the files in one run, two tasks at a time, and checks how it ended.
    void ExpectRunEndsWell(const std::vector<std::string>& inputs, int outputClass,
                           const char* format, const std::string& outName) {
        const fs::path out = Dir / outName;
        fs::create_directories(out);
        TFFEncoder encoder;
        TRecordingHost host;
        TConversionRun run(encoder, host);
        run.Selection = {outputClass, FindFormatByName(outputClass, format)->Index, 0};
        run.OutputFolder = out.string();
        run.MaxThreads = 2;
        std::vector<TRunInput> list;
        for (const std::string& path : inputs)
            list.push_back({path});
        run.Start(list);
        ASSERT_TRUE(WaitServing([&] { return host.Finished; }, 90s)) << "the run did not end";

        // Every file is either refused with a worded line or has its item.
        int refused = 0;
        for (const std::string& line : host.Lines) {
            for (const char* prefix :
                 {"File load error: ", "Adding file error: ", "Cannot do convert, error: "}) {
                if (line.rfind(prefix, 0) == 0) {
                    ++refused;
                    EXPECT_GT(line.size(), std::string(prefix).size() + 3) << line;
                }
            }
        }
        EXPECT_EQ(refused + int(run.Items().size()), int(inputs.size()));
        // A refused file counts as a failed one.
        EXPECT_EQ(host.Summary.TotalFiles, int(inputs.size()));

        // Every failure has its worded line; every success a playable output.
        int failed = 0;
        for (const TProgressItem& item : run.Items()) {
            SCOPED_TRACE(item.InputPath);
            if (item.Status == "Finish.") {
                EXPECT_TRUE(PlayableMedia(item.OutputPath)) << item.OutputPath;
            } else {
                EXPECT_EQ(item.Status, "Failed.");
                ++failed;
            }
        }
        EXPECT_EQ(host.Summary.FailedFiles(), failed + refused);
        ASSERT_EQ(int(host.Summary.ErrorList.size()), failed + refused);
        for (const std::string& line : host.Summary.ErrorList)
            EXPECT_GT(line.size(), std::string("File (0): ").size() + 3) << line;

        // Nothing empty or broken under any output name, and no stray files.
        for (const auto& entry : fs::directory_iterator(out))
            EXPECT_TRUE(PlayableMedia(entry.path().string())) << entry.path();
    }

    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
};

TEST_F(CorruptConversion, VideoFilesDamagedInEveryWayConvertOrFailCleanly) {
    std::vector<std::string> inputs;
    for (TFixtureKind kind : {fkAviMpeg4Mp3, fkMp4H264Aac, fkMkvTwoAudio, fkMpegTs}) {
        const TBytes& bytes = Sources.at(kind);
        const std::string name = FixtureName(kind);
        inputs.push_back(
            Damaged("run-" + name + "-half" + Ext(kind), Truncated(bytes, bytes.size() / 2)));
        inputs.push_back(Damaged("run-" + name + "-flipped" + Ext(kind),
                                 BitsFlipped(bytes, 7, 24, bytes.size() / 4, bytes.size())));
    }
    for (const auto& set :
         {AviDamages(Sources.at(fkAviMpeg4Mp3)), Mp4Damages(Sources.at(fkMp4H264Aac))})
        for (const TDamage& damage : set)
            inputs.push_back(
                Damaged("run-" + damage.Name + "." + damage.Name.substr(0, damage.Name.find('-')),
                        damage.Bytes));
    // Damage all through the media data: pictures and sounds that do not decode, timestamps
    // that jump.
    for (TFixtureKind kind : {fkAviMpeg4Mp3, fkMp4H264Aac, fkMkvTwoAudio, fkMpegTs})
        for (uint32_t seed : {20, 23, 24})
            inputs.push_back(HeavilyDamaged(kind, seed));
    inputs.push_back(Damaged("run-empty.avi", {}));
    inputs.push_back(Damaged("run-mp4-named.avi", Sources.at(fkMp4H264Aac)));
    ExpectRunEndsWell(inputs, ocVideo, "AVI", "out-video");
}

// A flipped bit in a transport stream's presentation time moves one picture hours ahead; the
// job must resynchronise there instead of filling the gap with copies of the picture (which
// made a second of input into 6.6 hours and 119 304 pictures of output).
TEST_F(CorruptConversion, TimestampJumpIsNotFilledWithHoursOfPictures) {
    const std::string input = HeavilyDamaged(fkMpegTs, 22);
    ExpectRunEndsWell({input}, ocVideo, "AVI", "out-jump");
    for (const auto& entry : fs::directory_iterator(Dir / "out-jump")) {
        TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(entry.path().string())) << decoder.LastErrMsg();
        EXPECT_LT(decoder.GetFileStreamInfo().Duration, 60'000'000) << entry.path();
    }
}

TEST_F(CorruptConversion, AudioFilesDamagedInEveryWayConvertOrFailCleanly) {
    std::vector<std::string> inputs;
    for (TFixtureKind kind : {fkWavPcm, fkFlac, fkMp3}) {
        const TBytes& bytes = Sources.at(kind);
        const std::string name = FixtureName(kind);
        inputs.push_back(
            Damaged("run-" + name + "-third" + Ext(kind), Truncated(bytes, bytes.size() / 3)));
        inputs.push_back(Damaged("run-" + name + "-flipped" + Ext(kind),
                                 BitsFlipped(bytes, 11, 24, 0, bytes.size())));
    }
    for (const TDamage& damage : WavDamages(Sources.at(fkWavPcm)))
        inputs.push_back(Damaged("run-" + damage.Name + ".wav", damage.Bytes));
    inputs.push_back(Damaged("run-empty.wav", {}));
    inputs.push_back(Damaged("run-wav-named.mp3", Sources.at(fkWavPcm)));
    ExpectRunEndsWell(inputs, ocAudio, "MP3", "out-audio");
}

} // namespace
} // namespace cw::test
