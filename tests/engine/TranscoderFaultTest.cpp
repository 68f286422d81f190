// The job when things go wrong or are cut short: the start checks, stopping (before, during a
// run, during the open of an input that never answers), bad and damaged inputs, outputs that
// cannot be written, encoders that refuse their parameters, a full disk. Every case ends with
// a worded error, one termination notice, no empty file left behind and no hang.
#include "TranscoderTestSupport.h"

#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace cw;
using namespace cw::test;

namespace {

// A TCP server on 127.0.0.1 that accepts connections and never sends a byte.
class TSilentServer {
public:
    TSilentServer() {
        Socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(Socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(Socket_, 8);
        socklen_t length = sizeof address;
        ::getsockname(Socket_, reinterpret_cast<sockaddr*>(&address), &length);
        Port = ntohs(address.sin_port);
    }
    ~TSilentServer() { ::close(Socket_); }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
    int Socket() const { return Socket_; }

private:
    int Socket_ = -1;
    int Port = 0;
};

// A TCP server on 127.0.0.1 that sends the first bytes of a file to its first client and
// then stays silent with the connection open.
class TStallingServer {
public:
    explicit TStallingServer(std::string payload) : Payload(std::move(payload)) {
        Thread = std::thread([this] {
            const int client = ::accept(Listener.Socket(), nullptr, nullptr);
            if (client < 0)
                return;
            ::send(client, Payload.data(), Payload.size(), MSG_NOSIGNAL);
            std::unique_lock<std::mutex> guard(Lock);
            Closing.wait(guard, [this] { return Done; });
            ::close(client);
        });
    }
    ~TStallingServer() {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Done = true;
        }
        Closing.notify_all();
        ::shutdown(Listener.Socket(), SHUT_RDWR);
        Thread.join();
    }
    std::string Url() const { return Listener.Url(); }

private:
    TSilentServer Listener;
    std::string Payload;
    std::mutex Lock;
    std::condition_variable Closing;
    bool Done = false;
    std::thread Thread;
};

using FaultTest = TranscoderTest;

TEST_F(FaultTest, StartWithoutFilesFailsAndStopBeforeStartStillGivesOneNotice) {
    TRecordedJob noOutput;
    ASSERT_TRUE(noOutput.Job->OpenInput(Source(fkWavPcm).Path));
    EXPECT_EQ(noOutput.Job->Start(true), nullptr);
    EXPECT_TRUE(noOutput.Job->Failed);
    EXPECT_FALSE(noOutput.Job->Finished);
    EXPECT_EQ(noOutput.Job->ErrorMessage, "At least one output file must be specified");
    EXPECT_EQ(noOutput.Terminations, 1);
    EXPECT_EQ(noOutput.Job->Start(false), nullptr); // terminated: does nothing
    noOutput.Job->Stop(true);
    EXPECT_EQ(noOutput.Terminations, 1);

    TRecordedJob noInput;
    const std::string out = Out("no-input.wav");
    ASSERT_EQ(noInput.Job->OpenOutput(out, false), 1);
    noInput.Run();
    EXPECT_TRUE(noInput.Job->Failed);
    EXPECT_EQ(noInput.Job->ErrorMessage, "At least one input file must be specified");
    EXPECT_EQ(noInput.Terminations, 1);
    EXPECT_FALSE(std::filesystem::exists(out)) << "the empty output is deleted";

    TRecordedJob never;
    ASSERT_TRUE(never.Job->OpenInput(Source(fkWavPcm).Path));
    ASSERT_EQ(never.Job->OpenOutput(Out("never.wav"), false), 1);
    never.Job->Stop(true);
    never.Job->Stop(true);
    EXPECT_EQ(never.Terminations, 1);
    EXPECT_FALSE(never.Job->Finished);
    EXPECT_FALSE(never.Job->Failed);
    EXPECT_TRUE(never.Job->Terminated);
}

TEST_F(FaultTest, StopDuringARunFinishesAPlayablePartialFile) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(4));
    TRecordedJob run;
    run.Job->ProgressIntervalUs = 100000;
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    run.Job->Options.SetOption("re",
                               "1"); // read at the pace of the clip, so the stop comes mid-run
    const std::string out = Out("stopped.avi");
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    TConvertThread* worker = run.Job->Start(true);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(worker->Suspended());
    worker->Resume();
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> guard(run.Lock);
            if (!run.Reports.empty() && run.Reports.back().CurrentDuration >= 1000000)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.Job->Stop(true);
    EXPECT_FALSE(run.Job->Running);
    EXPECT_FALSE(run.Job->Finished);
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_EQ(run.Terminations, 1);
    run.Job->Stop(true);
    EXPECT_EQ(run.Terminations, 1);

    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
    const TScan scan = ScanMedia(out);
    const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(video);
    EXPECT_GE(video->Frames, 20);
    EXPECT_LT(video->Frames, source.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames - 10);
    EXPECT_GT(decoder.GetFileStreamInfo().Duration, 0);
    EXPECT_LT(decoder.GetFileStreamInfo().Duration, int64_t(source.Seconds * 1e6) - 500000);
}

TEST_F(FaultTest, AStopFromTheJobsOwnProgressHandlerEndsTheRun) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(4));
    TRecordedJob run;
    run.Job->ProgressIntervalUs = 0;
    run.Job->OnProgress = [&](TCustomFFmpeg* job, const TJobProgress&) { job->Stop(true); };
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    ASSERT_EQ(run.Job->OpenOutput(Out("self-stop.avi"), false), 1);
    TConvertThread* worker = run.Job->Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    run.Job->DoneEvent.Wait(-1);
    EXPECT_FALSE(run.Job->Finished);
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_EQ(run.Terminations, 1);
    const TScan scan = ScanMedia(Out("self-stop.avi"));
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_LT(scan.First(AVMEDIA_TYPE_VIDEO)->Frames, 10);
}

TEST_F(FaultTest, AStopBreaksOffAReadThatWaitsForData) {
    // The input arrives over the network and stops arriving after 60 % of the file (more
    // than the probing of the input reads).
    TFixtureParams params;
    params.Seconds = 12;
    const TFixture& source = Source(fkWavPcm, params);
    std::ifstream in(source.Path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes.resize(bytes.size() * 6 / 10);
    TStallingServer server(bytes);

    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(server.Url())) << run.Job->OpenError;
    const std::string out = Out("stalled.wav");
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    TConvertThread* worker = run.Job->Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    // Until the worker waits for data that does not come.
    EXPECT_FALSE(run.Job->DoneEvent.Wait(500));
    run.Job->Stop(true);
    EXPECT_TRUE(run.Job->DoneEvent.IsSet());
    EXPECT_FALSE(run.Job->Finished);
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_EQ(run.Terminations, 1);
    const TScan scan = ScanMedia(out);
    ASSERT_TRUE(scan.First(AVMEDIA_TYPE_AUDIO)) << scan.Error;
    EXPECT_NEAR(scan.First(AVMEDIA_TYPE_AUDIO)->AudioSeconds(), 0.6 * source.Seconds, 0.2);
}

TEST_F(FaultTest, OpeningAnInputThatNeverAnswersTimesOutOrIsCancelled) {
    TSilentServer server;
    {
        TRecordedJob run;
        run.Job->TimeoutMs = 300;
        EXPECT_FALSE(run.Job->OpenInput(server.Url()));
        EXPECT_EQ(run.Job->OpenError.rfind(server.Url() + ": ", 0), 0u) << run.Job->OpenError;
        EXPECT_TRUE(Logged("connecting/reading/writing timeout"));
        EXPECT_EQ(run.Job->InputCount(), 0);
    }
    {
        TRecordedJob run;
        run.Job->TimeoutMs = 0; // no limit: only the stop request ends the wait
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            run.Job->RequestStop(false);
        });
        EXPECT_FALSE(run.Job->OpenInput(server.Url()));
        stopper.join();
        EXPECT_TRUE(Logged("connecting/reading/writing canceled"));
        EXPECT_EQ(run.Job->InputCount(), 0);
    }
}

TEST_F(FaultTest, BadInputsGiveWordedOpenErrors) {
    TRecordedJob run;
    const std::string missing = Out("missing.avi");
    EXPECT_FALSE(run.Job->OpenInput(missing));
    EXPECT_EQ(run.Job->OpenError, missing + ": No such file or directory");

    run.Job->Options.SetOption("f", "no_such_demuxer");
    try {
        run.Job->OpenInput(Source(fkWavPcm).Path);
        ADD_FAILURE() << "no error";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: \"no_such_demuxer\"");
    }
    run.Job->Options.FileFormat.clear();

    const std::string text = Out("text.avi");
    std::ofstream(text) << "this is no media file at all, just a few words of text\n";
    EXPECT_FALSE(run.Job->OpenInput(text));
    EXPECT_FALSE(run.Job->OpenError.empty());

    run.Job->Options.SetOption("acodec", "no_such_codec");
    EXPECT_FALSE(run.Job->OpenInput(Source(fkWavPcm).Path));
    EXPECT_EQ(run.Job->OpenError, "Unknown decoder 'no_such_codec'");
    run.Job->Options.SetOption("vcodec", "mp3");
    EXPECT_FALSE(run.Job->OpenInput(Source(fkWavPcm).Path));
    EXPECT_EQ(run.Job->OpenError, "Invalid decoder type 'mp3'");

    // A handler before the probe that throws: the error goes on, and neither the file nor
    // the thread's interrupt entry is left behind.
    const size_t entries = InterruptRegistry()->Count();
    run.Job->OnBeforeFindStreamInfo = [](TCustomFFmpeg*, AVFormatContext*) {
        throw std::runtime_error("refused by the handler");
    };
    EXPECT_THROW(run.Job->OpenInput(Source(fkWavPcm).Path), std::runtime_error);
    EXPECT_EQ(InterruptRegistry()->Count(), entries);
    run.Job->OnBeforeFindStreamInfo = nullptr;
    EXPECT_EQ(run.Job->InputCount(), 0);
    EXPECT_TRUE(run.Job->OpenInput(Source(fkWavPcm).Path)) << run.Job->OpenError;
}

TEST_F(FaultTest, OutputsThatCannotBeMadeGiveWordedErrorsAndLeaveNoFile) {
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(Source(fkWavPcm).Path));

    EXPECT_EQ(run.Job->OpenOutput(Out("clip.nosuchext"), false), -1);
    EXPECT_EQ(run.Job->OpenError,
              "Unable to find a suitable output format for '" + Out("clip.nosuchext") + "'");
    run.Job->Options.SetOption("f", "no_such_muxer");
    EXPECT_EQ(run.Job->OpenOutput(Out("clip.wav"), false), -1);
    EXPECT_EQ(run.Job->OpenError,
              "Requested output format 'no_such_muxer' is not a suitable output format");
    run.Job->Options.FileFormat.clear();

    const std::string inMissingFolder = Out("no/such/folder/clip.wav");
    EXPECT_EQ(run.Job->OpenOutput(inMissingFolder, false), -1);
    EXPECT_EQ(run.Job->OpenError, inMissingFolder + ": No such file or directory");
    const std::string inProc = "/proc/clip.wav"; // not writable, not even for root
    EXPECT_EQ(run.Job->OpenOutput(inProc, false), -1);
    EXPECT_EQ(run.Job->OpenError.rfind(inProc + ": ", 0), 0u) << run.Job->OpenError;
    EXPECT_FALSE(std::filesystem::exists(inProc));
    if (::geteuid() != 0) {
        const std::filesystem::path locked = Temp.Path + "locked";
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
        const std::string name = (locked / "clip.wav").string();
        EXPECT_EQ(run.Job->OpenOutput(name, false), -1);
        EXPECT_EQ(run.Job->OpenError, name + ": Permission denied");
    }
    EXPECT_EQ(run.Job->OutputCount(), 0);

    // One job, one output to join into.
    ASSERT_EQ(run.Job->OpenOutput(Out("first.wav"), false), 1);
    TRecordedJob joined;
    ASSERT_TRUE(joined.Job->OpenInput(Source(fkWavPcm).Path));
    ASSERT_TRUE(joined.Job->OpenInput(Source(fkWavPcm).Path));
    ASSERT_EQ(joined.Job->OpenOutput(Out("joined.wav"), true), 1);
    EXPECT_EQ(joined.Job->OpenOutput(Out("second.wav"), false), -1);
    EXPECT_EQ(joined.Job->OpenError, "Cannot join more than one output file.");
}

TEST_F(FaultTest, RunFailuresEndTheJobWithTheirTextAndDeleteTheEmptyOutput) {
    struct TCase {
        const char* Name;
        TFixtureKind Kind;
        std::vector<std::pair<std::string, std::string>> Options;
        const char* Error;
    };
    const TCase cases[] = {
        {"no-decoder.avi",
         fkMkvNoDecoder,
         {},
         " cannot be used: no decoder is installed for its video (avs2"},
        // Odd sizes are brought to what an encoder takes; a size outside H.263's few is not.
        {"h263-size.mp4",
         fkAviMpeg4Mp3,
         {{"vcodec", "h263"}, {"s", "320x240"}},
         "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect "
         "parameters such as bit_rate, rate, width or height. Please check error log message to "
         "find out more detail information."},
        {"no-encoder.avi",
         fkAviMpeg4Mp3,
         {{"acodec", "pcm_s16le"}, {"vcodec", "h264"}},
         "new_video_stream fail: Unknown encoder 'h264'"},
        {"copy-vol.avi",
         fkAviMpeg4Mp3,
         {{"acodec", "copy"}, {"vol", "300"}},
         "-acodec copy and -vol are incompatible (frames are not decoded)"},
        // A value libx264 checks only when it opens, one its option table refuses, and one
        // the generic codec options refuse when it is set.
        {"x264-preset.mp4",
         fkAviMpeg4Mp3,
         {{"vcodec", "libx264"}, {"preset", "fastest"}},
         "Invalid value \"fastest\" for option \"preset\""},
        {"x264-crf.mp4",
         fkAviMpeg4Mp3,
         {{"vcodec", "libx264"}, {"crf", "high"}},
         "Invalid value \"high\" for option \"crf\""},
        {"x264-profile.mp4",
         fkAviMpeg4Mp3,
         {{"vcodec", "libx264"}, {"profile", "foo"}},
         "Invalid value \"foo\" for option \"profile\""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordedJob run;
        ASSERT_TRUE(run.Job->OpenInput(Source(c.Kind, Clip(1)).Path)) << run.Job->OpenError;
        std::string refused;
        for (const auto& [name, value] : c.Options) {
            try {
                run.Job->Options.SetOption(name, value);
            } catch (const FFmpegException& e) {
                refused = e.what();
            }
        }
        const std::string out = Out(c.Name);
        if (!refused.empty()) {
            EXPECT_NE(refused.find(c.Error), std::string::npos) << refused;
            continue;
        }
        if (run.Job->OpenOutput(out, false) < 0) {
            EXPECT_EQ(run.Job->OpenError, c.Error);
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        run.Run();
        EXPECT_TRUE(run.Job->Failed);
        EXPECT_FALSE(run.Job->Finished);
        EXPECT_NE(run.Job->ErrorMessage.find(c.Error), std::string::npos) << run.Job->ErrorMessage;
        EXPECT_EQ(run.Terminations, 1);
        EXPECT_FALSE(std::filesystem::exists(out)) << "nothing was written";
    }
}

TEST_F(FaultTest, AFullDiskEndsTheJobWithTheSystemText) {
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(Source(fkAviMpeg4Mp3, Clip(2)).Path));
    run.Job->Options.SetOption("f", "avi");
    ASSERT_EQ(run.Job->OpenOutput("/dev/full", false), 1) << run.Job->OpenError;
    run.Run();
    EXPECT_TRUE(run.Job->Failed);
    EXPECT_NE(run.Job->ErrorMessage.find("No space left on device"), std::string::npos)
        << run.Job->ErrorMessage;
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST_F(FaultTest, DamagedInputsConvertWhatCanBeDecoded) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(3));
    const auto size = std::filesystem::file_size(source.Path);
    std::vector<char> bytes(size);
    std::ifstream(source.Path, std::ios::binary).read(bytes.data(), std::streamsize(size));

    // Cut after 60 %, and the same with a run of garbage in the middle of the data.
    const std::string truncated = Out("truncated.avi");
    std::ofstream(truncated, std::ios::binary).write(bytes.data(), std::streamsize(size * 6 / 10));
    std::vector<char> damaged = bytes;
    for (size_t i = size * 4 / 10; i < size * 5 / 10; i += 7)
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
    const std::string garbled = Out("garbled.avi");
    std::ofstream(garbled, std::ios::binary).write(damaged.data(), std::streamsize(size));

    for (const std::string& input : {truncated, garbled}) {
        SCOPED_TRACE(input);
        TRecordedJob run;
        ASSERT_TRUE(run.Job->OpenInput(input)) << run.Job->OpenError;
        const std::string out = input + ".out.mp4";
        ASSERT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        run.Run();
        EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        EXPECT_TRUE(run.Job->Finished);
        const TScan scan = ScanMedia(out);
        const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(video);
        EXPECT_GE(video->Frames, 25);
    }

    // With "xerror" a decoding error ends the run.
    TRecordedJob strict;
    ASSERT_TRUE(strict.Job->OpenInput(garbled));
    strict.Job->Options.SetOption("xerror", "1");
    ASSERT_EQ(strict.Job->OpenOutput(Out("strict.mp4"), false), 1);
    strict.Run();
    EXPECT_TRUE(strict.Job->Failed);
    EXPECT_EQ(strict.Job->ErrorMessage.rfind("Error while decoding stream #0.", 0), 0u)
        << strict.Job->ErrorMessage;
}

} // namespace
