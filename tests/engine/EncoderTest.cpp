// The encoder component against generated media files: task list limits and failures, the
// order and threads of its events, busy errors, stopping a run, running without threads.
#include "engine/FFDecoder.h"
#include "engine/FFEncoder.h"
#include "engine/FFLoader.h"

#include "EngineTestSupport.h"
#include "base/MainThread.h"
#include "tests/fixtures/MediaFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace cw::test {
namespace {

using namespace std::chrono_literals;

// Fixtures shared by every test of the program: a short WAV file (quick tasks) and a longer
// video file (a task that is still running when it is stopped).
struct TFiles {
    TTempDir Dir;
    std::string Short;
    std::string Long;
};
TFiles* Files = nullptr;

class EncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        BindEncoderLibraries();
        Files = new TFiles;
        TFixtureParams shortParams;
        shortParams.Seconds = 1;
        Files->Short = WriteFixture(fkWavPcm, Files->Dir.Folder() + "short.wav", shortParams).Path;
        TFixtureParams longParams;
        longParams.Seconds = 30;
        longParams.Width = 320;
        longParams.Height = 240;
        longParams.FrameRateNum = 25;
        Files->Long =
            WriteFixture(fkAviMpeg4Mp3, Files->Dir.Folder() + "long.avi", longParams).Path;
    }
    static void TearDownTestSuite() {
        delete Files;
        Files = nullptr;
    }
    void SetUp() override { Previous = SetMainThreadDispatcher(&Dispatcher); }
    void TearDown() override { SetMainThreadDispatcher(Previous); }

    // Records every termination with the thread it arrived on.
    void Record(TFFEncoder& encoder) {
        encoder.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) {
            std::lock_guard<std::mutex> guard(Lock);
            Terminations.push_back(info);
            TerminateOnMain.push_back(IsMainThread());
        };
    }
    bool RunOver() {
        std::lock_guard<std::mutex> guard(Lock);
        return !Terminations.empty() && Terminations.back().TaskIndex == -1;
    }
    void WaitRunOver() {
        ASSERT_TRUE(WaitServing([this] { return RunOver(); }, 60s));
    }
    std::string Out(const std::string& name) { return Temp.Folder() + name; }

    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    TTempDir Temp;
    std::mutex Lock;
    std::vector<TTerminateInfo> Terminations;
    std::vector<bool> TerminateOnMain;
};

TEST_F(EncoderTest, DefaultsAndProgressIntervalFloor) {
    TFFEncoder encoder;
    EXPECT_EQ(encoder.Version, "3.9");
    EXPECT_EQ(encoder.MaxFiles, 20);
    EXPECT_EQ(encoder.ProgressInterval(), 500);
    EXPECT_TRUE(encoder.TriggerEventInMainThread);
    encoder.SetProgressInterval(50);
    EXPECT_EQ(encoder.ProgressInterval(), 100);
    encoder.SetProgressInterval(1000);
    EXPECT_EQ(encoder.ProgressInterval(), 1000);
    EXPECT_TRUE(encoder.LibrariesLoaded());
}

TEST_F(EncoderTest, AddTaskOnUnreadableFileLeavesListAsItWas) {
    TFFEncoder encoder;
    ASSERT_EQ(encoder.AddTask(Files->Short), 0);
    EXPECT_EQ(encoder.AddTask(Temp.Folder() + "missing.avi"), -1);
    EXPECT_EQ(encoder.TasksCount(), 1);
    EXPECT_NE(encoder.LastErrMsg().find("missing.avi"), std::string::npos) << encoder.LastErrMsg();
    // A bad record option is an error text too, not an exception.
    TInputOptions options;
    options.FileFormat = "no-such-format";
    EXPECT_EQ(encoder.AddTask(Files->Short, &options), -1);
    EXPECT_FALSE(encoder.LastErrMsg().empty());
    EXPECT_EQ(encoder.TasksCount(), 1);
}

TEST_F(EncoderTest, InputAndOutputLimitsPerTask) {
    TFFEncoder encoder;
    const int task = encoder.AddTask(Files->Short);
    ASSERT_EQ(task, 0);
    for (int i = 1; i < 20; ++i)
        ASSERT_TRUE(encoder.AddInputFile(task, Files->Short)) << i << encoder.LastErrMsg();
    EXPECT_FALSE(encoder.AddInputFile(task, Files->Short));
    EXPECT_EQ(encoder.LastErrMsg(), "max input files 20 reached");
    EXPECT_EQ(encoder.Task(task)->InputCount(), 20);
    ASSERT_NE(encoder.Task(task)->InputDecoder(19), nullptr);
    EXPECT_EQ(encoder.Task(task)->InputDecoder(19)->AudioStreamCount(), 1);

    encoder.MaxFiles = 2;
    const int second = encoder.AddTask(Files->Short);
    ASSERT_EQ(second, 1);
    EXPECT_TRUE(encoder.SetOutputFile(second, Out("a.wav")));
    EXPECT_TRUE(encoder.SetOutputFile(second, Out("b.wav")));
    EXPECT_FALSE(encoder.SetOutputFile(second, Out("c.wav")));
    EXPECT_EQ(encoder.LastErrMsg(), "max output files 2 reached");
    EXPECT_THROW(encoder.AddInputFile(5, Files->Short), std::out_of_range);
}

TEST_F(EncoderTest, ThreadedRunEventOrderAndBusyErrors) {
    TFFEncoder encoder;
    encoder.CodecThreads = 0;
    Record(encoder);
    std::vector<int> progressTasks;
    bool progressOffMain = false;
    encoder.OnProgress = [&](TFFEncoder*, PProgressInfo info) {
        progressTasks.push_back(info->TaskIndex);
        progressOffMain |= !IsMainThread();
    };
    TOutputOptions options;
    options.AudioSampleRate = 8000;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(encoder.AddTask(Files->Short), i) << encoder.LastErrMsg();
        ASSERT_TRUE(encoder.SetOutputFile(i, Out("out" + std::to_string(i) + ".wav"), &options))
            << encoder.LastErrMsg();
    }
    EXPECT_EQ(encoder.Task(2)->Options.ThreadCount, 0);
    ASSERT_NE(encoder.Task(2)->OutputOptions(0), nullptr);
    EXPECT_EQ(encoder.Task(2)->OutputOptions(0)->FileName, Out("out2.wav"));

    encoder.StartTask(1);
    try {
        encoder.AddTask(Files->Short);
        ADD_FAILURE() << "AddTask during a run";
    } catch (const TEncoderBusyError& e) {
        EXPECT_STREQ(e.what(), "Cannot AddTask while working.");
    }
    // Still running: every task hands its last progress report to the main thread and waits
    // for it, and this thread serves nothing before WaitRunOver.
    EXPECT_FALSE(RunOver());
    try {
        encoder.ClearTasks();
        ADD_FAILURE() << "ClearTasks during a run";
    } catch (const TEncoderBusyError& e) {
        EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
    }
    WaitRunOver();
    ASSERT_EQ(Terminations.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Terminations[i].TaskIndex, i);
        EXPECT_TRUE(Terminations[i].Finished) << Terminations[i].ErrorMessage;
        EXPECT_FALSE(Terminations[i].Failed);
        EXPECT_FALSE(TerminateOnMain[i]);
    }
    EXPECT_EQ(Terminations[3].TaskIndex, -1);
    EXPECT_TRUE(Terminations[3].Finished);
    EXPECT_FALSE(progressOffMain);
    for (int index : progressTasks)
        EXPECT_TRUE(index >= 0 && index < 3) << index;

    // After the final notice and before ClearTasks, still busy.
    EXPECT_THROW(encoder.AddTask(Files->Short), TEncoderBusyError);
    EXPECT_THROW(encoder.StartTask(1), TEncoderBusyError);
    EXPECT_THROW(encoder.RemoveTask(0), TEncoderBusyError);
    encoder.ClearTasks();
    EXPECT_EQ(encoder.TasksCount(), 0);
    EXPECT_EQ(encoder.AddTask(Files->Short), 0);

    TFFDecoder check;
    ASSERT_TRUE(check.LoadFile(Out("out1.wav"))) << check.LastErrMsg();
    EXPECT_EQ(check.GetAudioStreamInfo(-1).SampleRate, 8000);
    EXPECT_NEAR(double(check.GetFileStreamInfo().Duration), 1e6, 1e5);
}

TEST_F(EncoderTest, RunWithoutThreadsRaisesEveryEventInsideStartTask) {
    TFFEncoder encoder;
    Record(encoder);
    int progressCount = 0;
    encoder.OnProgress = [&](TFFEncoder*, PProgressInfo) { ++progressCount; };
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(encoder.AddTask(Files->Short), i);
        ASSERT_TRUE(encoder.SetOutputFile(i, Out("plain" + std::to_string(i) + ".wav")));
    }
    encoder.StartTask(0);
    ASSERT_EQ(Terminations.size(), 3u);
    EXPECT_EQ(Terminations[0].TaskIndex, 0);
    EXPECT_EQ(Terminations[1].TaskIndex, 1);
    EXPECT_EQ(Terminations[2].TaskIndex, -1);
    for (bool onMain : TerminateOnMain)
        EXPECT_TRUE(onMain);
    EXPECT_TRUE(encoder.AllDone());
    EXPECT_GE(progressCount, 2); // at least the final report of each task
}

TEST_F(EncoderTest, TaskWithoutOutputFailsAndTheRunGoesOn) {
    TFFEncoder encoder;
    Record(encoder);
    ASSERT_EQ(encoder.AddTask(Files->Short), 0);
    ASSERT_EQ(encoder.AddTask(Files->Short), 1);
    ASSERT_TRUE(encoder.SetOutputFile(1, Out("second.wav")));
    encoder.StartTask(1);
    WaitRunOver();
    ASSERT_EQ(Terminations.size(), 3u);
    EXPECT_EQ(Terminations[0].TaskIndex, 0);
    EXPECT_TRUE(Terminations[0].Failed);
    EXPECT_FALSE(Terminations[0].Finished);
    EXPECT_EQ(Terminations[0].ErrorMessage, "At least one output file must be specified");
    EXPECT_EQ(Terminations[1].TaskIndex, 1);
    EXPECT_TRUE(Terminations[1].Finished);
    EXPECT_EQ(Terminations[2].TaskIndex, -1);
}

TEST_F(EncoderTest, StopWithWaitDuringThreeTasks) {
    TFFEncoder encoder;
    Record(encoder);
    encoder.SetProgressInterval(100);
    // The first report of task 0 holds its worker until the stop has been asked for, so the
    // stop always meets a running task.
    encoder.TriggerEventInMainThread = false;
    std::mutex reportLock;
    std::condition_variable reported;
    bool running = false;
    encoder.OnProgress = [&](TFFEncoder* sender, PProgressInfo info) {
        if (info->TaskIndex != 0 || info->FileIndex < 0)
            return;
        {
            std::lock_guard<std::mutex> guard(reportLock);
            running = true;
        }
        reported.notify_all();
        while (!sender->Task(0)->StopRequested)
            std::this_thread::sleep_for(1ms);
    };
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(encoder.AddTask(Files->Long), i);
        ASSERT_TRUE(encoder.SetOutputFile(i, Out("stop" + std::to_string(i) + ".avi")));
    }
    encoder.StartTask(1);
    {
        std::unique_lock<std::mutex> lock(reportLock);
        ASSERT_TRUE(reported.wait_for(lock, 60s, [&] { return running; }));
    }
    encoder.Stop(true);
    WaitRunOver();
    ASSERT_EQ(Terminations.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Terminations[i].TaskIndex, i);
        EXPECT_FALSE(Terminations[i].Finished) << i;
    }
    EXPECT_EQ(Terminations[3].TaskIndex, -1);
    // The stopped output is finished properly; the others were never written.
    TFFDecoder check;
    ASSERT_TRUE(check.LoadFile(Out("stop0.avi"))) << check.LastErrMsg();
    EXPECT_EQ(check.VideoStreamCount(), 1);
    encoder.ClearTasks();
    EXPECT_FALSE(encoder.Working());
}

// Stop with wait from inside the run's own handlers: on the main thread of a threaded run it
// returns once every task has ended; in a run without threads it cannot wait and says so. In
// both the run ends, with one notice per task in task order and the final one last.
TEST_F(EncoderTest, StopFromTheRunsOwnHandlersNeverHangs) {
    enum THandler { hProgress, hPreview, hHook };
    struct TCase {
        const char* Name;
        int Threads;
        THandler From;
        bool Wait;
    };
    // clang-format off
    const TCase cases[] = {
        {"threaded, progress", 1, hProgress, true},
        {"threaded, preview", 1, hPreview, true},
        {"no threads, progress", 0, hProgress, true},
        {"no threads, preview", 0, hPreview, true},
        {"threaded, progress, no wait", 1, hProgress, false},
        {"threaded, video hook on the task's thread", 1, hHook, true},
    };
    // clang-format on
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Terminations.clear();
        TerminateOnMain.clear();
        TFFEncoder encoder;
        Record(encoder);
        encoder.SetProgressInterval(100);
        encoder.SetPreviewBitmap(c.From == hPreview);
        bool called = false;
        bool allEndedOnReturn = false;
        std::string refusal;
        auto stopHere = [&](TFFEncoder* sender, int taskIndex) {
            if (called || taskIndex != 0)
                return;
            called = true;
            EXPECT_EQ(IsMainThread(), c.From != hHook);
            try {
                sender->Stop(c.Wait);
                allEndedOnReturn = true;
                for (int i = 0; i < sender->TasksCount(); ++i)
                    allEndedOnReturn = allEndedOnReturn && sender->Task(i)->Terminated;
            } catch (const TEncoderBusyError& e) {
                refusal = e.what();
            }
        };
        if (c.From == hHook)
            encoder.OnVideoInputHook = [&](TFFEncoder* sender, PHookInfo info) {
                stopHere(sender, info->TaskIndex);
            };
        else if (c.From == hPreview)
            encoder.OnPreviewBitmap = [&](TFFEncoder* sender, const TPreviewInfo& info) {
                stopHere(sender, info.TaskIndex);
                // The picture stays readable after the wait let the task go on.
                ASSERT_NE(info.Bitmap, nullptr);
                EXPECT_GT(info.Bitmap->Width(), 0);
                volatile uint8_t first = info.Bitmap->Data()[0];
                (void)first;
            };
        else
            encoder.OnProgress = [&](TFFEncoder* sender, PProgressInfo info) {
                if (info->FileIndex >= 0)
                    stopHere(sender, info->TaskIndex);
            };
        TOutputOptions output;
        output.VideoInputHook = c.From == hHook;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(encoder.AddTask(Files->Long), i) << encoder.LastErrMsg();
            ASSERT_TRUE(encoder.SetOutputFile(i, Out("self" + std::to_string(i) + ".avi"), &output))
                << encoder.LastErrMsg();
        }
        const auto start = std::chrono::steady_clock::now();
        encoder.StartTask(c.Threads);
        WaitRunOver();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
        EXPECT_TRUE(called);
        if (c.Threads > 0 && c.Wait && c.From != hHook) {
            EXPECT_EQ(refusal, "");
            EXPECT_TRUE(allEndedOnReturn);
        } else if (c.Wait) {
            EXPECT_EQ(refusal, "Cannot Stop with wait while working.");
        }
        {
            // Not held into ClearTasks: the terminate handler takes it under the encoder's lock.
            std::lock_guard<std::mutex> guard(Lock);
            ASSERT_EQ(Terminations.size(), 4u);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(Terminations[i].TaskIndex, i);
                EXPECT_FALSE(Terminations[i].Finished) << i;
                EXPECT_FALSE(Terminations[i].Failed) << i << ": " << Terminations[i].ErrorMessage;
            }
            EXPECT_EQ(Terminations[3].TaskIndex, -1);
        }
        encoder.ClearTasks();
    }
}

// A handler never runs on an owner that has gone: DetachEvents (and the component's end)
// waits for a handler running on another thread and drops the notices still queued.
TEST_F(EncoderTest, DetachingOrDestroyingDuringARunRunsNoHandlerAfterwards) {
    struct TOwner {
        std::atomic<int> Calls{0};
    };
    enum TKind { kDetachInTermination, kDestroyInTermination, kDetachInDirectProgress };
    for (TKind kind : {kDetachInTermination, kDestroyInTermination, kDetachInDirectProgress}) {
        SCOPED_TRACE(int(kind));
        auto owner = std::make_unique<TOwner>();
        TOwner* seen = owner.get();
        std::atomic<bool> entered{false};
        std::atomic<bool> detaching{false};
        std::atomic<bool> gone{false};
        std::atomic<int> callsAfterGone{0};
        // The first call holds its thread until the owner is being let go, then touches the
        // owner a while longer.
        auto touch = [&] {
            if (gone)
                ++callsAfterGone;
            ++seen->Calls;
            if (entered.exchange(true))
                return;
            while (!detaching)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(50ms);
            ++seen->Calls;
        };
        auto encoder = std::make_unique<TFFEncoder>();
        if (kind == kDetachInDirectProgress) {
            encoder->TriggerEventInMainThread = false;
            encoder->SetProgressInterval(100);
            encoder->OnProgress = [&](TFFEncoder*, PProgressInfo) { touch(); };
        } else {
            encoder->OnTerminate = [&](TFFEncoder*, const TTerminateInfo&) { touch(); };
        }
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(encoder->AddTask(Files->Short), i);
            ASSERT_TRUE(encoder->SetOutputFile(i, Out("detach" + std::to_string(i) + ".wav")));
        }
        encoder->StartTask(1);
        ASSERT_TRUE(WaitServing([&] { return entered.load(); }, 60s));
        detaching = true;
        if (kind == kDestroyInTermination) {
            encoder.reset();
        } else {
            encoder->DetachEvents();
        }
        owner.reset();
        gone = true;
        if (encoder) {
            encoder->Stop(true);
            WaitServing([&] { return encoder->AllDone(); }, 60s);
            encoder.reset();
        }
        // Anything still queued had its chance to run by now.
        WaitServing([] { return false; }, 100ms);
        EXPECT_EQ(callsAfterGone.load(), 0);
    }
}

TEST_F(EncoderTest, BindingChangesOnlyWhenIdle) {
    TFFEncoder encoder;
    Record(encoder);
    encoder.SetProgressInterval(100);
    encoder.TriggerEventInMainThread = false;
    std::atomic<bool> running{false};
    encoder.OnProgress = [&](TFFEncoder* sender, PProgressInfo info) {
        if (info->FileIndex < 0)
            return;
        running = true;
        while (!sender->Task(0)->StopRequested)
            std::this_thread::sleep_for(1ms);
    };
    ASSERT_EQ(encoder.AddTask(Files->Long), 0);
    ASSERT_TRUE(encoder.SetOutputFile(0, Out("bound.avi")));
    encoder.StartTask(1);
    ASSERT_TRUE(WaitServing([&] { return running.load(); }, 60s));

    EXPECT_FALSE(encoder.LoadLibraries(""));
    EXPECT_EQ(encoder.LastErrMsg(), "Cannot LoadLibraries while working.");
    TFFLoader& loader = FFLoader();
    loader.UnloadLibs(EncoderLibraries);
    EXPECT_EQ(loader.LastErrorMessage(), "Cannot UnloadLibraries while working.");
    EXPECT_TRUE(loader.LibsLoaded(EncoderLibraries));
    loader.UnloadLib(libAVCodec);
    EXPECT_TRUE(loader.LibLoaded(libAVCodec));
    // Asking for what is bound is harmless and binds nothing again.
    EXPECT_TRUE(loader.LoadLibs(EncoderLibraries));
    EXPECT_FALSE(loader.LoadLib(libAVDevice));
    EXPECT_EQ(loader.LastErrorMessage(), "Cannot LoadLibraries while working.");

    encoder.Stop(true);
    WaitRunOver();
    // The run is over but its tasks still hold library objects until they are cleared.
    loader.UnloadLib(libAVCodec);
    EXPECT_TRUE(loader.LibLoaded(libAVCodec));
    encoder.ClearTasks();
    EXPECT_TRUE(encoder.LoadLibraries("")) << encoder.LastErrMsg();
}

TEST_F(EncoderTest, EmptyRunEndsAtOnce) {
    TFFEncoder encoder;
    Record(encoder);
    encoder.StartTask(1);
    WaitRunOver();
    ASSERT_EQ(Terminations.size(), 1u);
    EXPECT_EQ(Terminations[0].TaskIndex, -1);
    encoder.ClearTasks();
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(EncoderTest, QueuedTasksHoldNoFileOpenUntilTheirTurnAndThenConvertAsQueued) {
    TFFEncoder encoder;
    encoder.CodecThreads = 0;
    Record(encoder);
    TOutputOptions options;
    options.AudioSampleRate = 8000;
    const int before = OpenDescriptors();
    const int count = 12;
    // Each task is queued with settings of its own; they hold when it is opened again.
    auto verbosityOf = [](int i) { return i % 3; };
    auto strictOf = [](int i) { return i % 2 == 0; };
    auto timeoutOf = [](int i) { return 2000 + i; };
    for (int i = 0; i < count; ++i) {
        encoder.Verbosity = verbosityOf(i);
        encoder.StrictOptions = strictOf(i);
        encoder.TimeoutMs = timeoutOf(i);
        ASSERT_EQ(encoder.AddTask(Files->Short), i) << encoder.LastErrMsg();
        ASSERT_TRUE(encoder.SetOutputFile(i, Out("queued" + std::to_string(i) + ".wav"), &options))
            << encoder.LastErrMsg();
    }
    // Only the newest task keeps its input and output open; every name is taken by an
    // empty file.
    EXPECT_LE(OpenDescriptors() - before, 3);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(encoder.Task(i)->Parked(), i < count - 1) << i;
        const std::string out = Out("queued" + std::to_string(i) + ".wav");
        ASSERT_TRUE(std::filesystem::exists(out)) << out;
        EXPECT_EQ(std::filesystem::file_size(out), 0u) << out;
    }
    // A waiting task takes a second output: it is opened again for that.
    ASSERT_TRUE(encoder.SetOutputFile(3, Out("second.wav"), &options)) << encoder.LastErrMsg();
    EXPECT_FALSE(encoder.Task(3)->Parked());
    EXPECT_EQ(encoder.Task(3)->OutputCount(), 2);

    encoder.Verbosity = 5;
    encoder.StrictOptions = false;
    encoder.TimeoutMs = 1;
    struct TSeen {
        int Verbose = -1;
        bool Strict = false;
        int TimeoutMs = -1;
    };
    std::vector<TSeen> seen(count);
    encoder.OnProgress = [&](TFFEncoder* sender, PProgressInfo info) {
        const TFFmpeg* task = sender->Task(info->TaskIndex);
        seen[info->TaskIndex] =
            TSeen{task->Options.Verbose, task->Options.StrictOptions, task->TimeoutMs};
    };
    encoder.StartTask(2);
    WaitRunOver();
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(seen[i].Verbose, verbosityOf(i)) << i;
        // Task 3 took its second output after the last task was queued.
        const int settingsOf = i == 3 ? count - 1 : i;
        EXPECT_EQ(seen[i].Strict, strictOf(settingsOf)) << i;
        EXPECT_EQ(seen[i].TimeoutMs, timeoutOf(settingsOf)) << i;
        // Its inputs are closed: no decoder looks at them any more.
        EXPECT_EQ(encoder.Task(i)->InputDecoder(0), nullptr) << i;
    }
    ASSERT_EQ(int(Terminations.size()), count + 1);
    for (const TTerminateInfo& info : Terminations)
        EXPECT_FALSE(info.Failed) << info.TaskIndex << ": " << info.ErrorMessage;
    std::vector<std::string> outputs{Out("second.wav")};
    for (int i = 0; i < count; ++i)
        outputs.push_back(Out("queued" + std::to_string(i) + ".wav"));
    for (const std::string& out : outputs) {
        TFFDecoder check;
        ASSERT_TRUE(check.LoadFile(out)) << out << ": " << check.LastErrMsg();
        EXPECT_EQ(check.AudioStreamCount(), 1) << out;
        EXPECT_EQ(check.GetAudioStreamInfo(check.FirstAudioStream()).SampleRate, 8000) << out;
        EXPECT_NEAR(double(check.GetFileStreamInfo().Duration) / 1e6, 1.0, 0.1) << out;
    }
    encoder.ClearTasks();
    EXPECT_LE(OpenDescriptors() - before, 0);
}

TEST_F(EncoderTest, AWaitingTaskWhoseFilesChangedFailsAtItsTurnAndNothingOfTheUsersIsLost) {
    TFFEncoder encoder;
    Record(encoder);
    const std::string vanishing = Out("vanishing.wav");
    std::filesystem::copy_file(Files->Short, vanishing);
    ASSERT_EQ(encoder.AddTask(vanishing), 0);
    ASSERT_TRUE(encoder.SetOutputFile(0, Out("fromvanished.wav")));
    ASSERT_EQ(encoder.AddTask(Files->Short), 1);
    ASSERT_TRUE(encoder.SetOutputFile(1, Out("taken.wav")));
    ASSERT_EQ(encoder.AddTask(Files->Short), 2);
    ASSERT_TRUE(encoder.SetOutputFile(2, Out("fine.wav")));
    // While they wait, the first task's input goes away and someone writes into the second
    // task's output.
    std::filesystem::remove(vanishing);
    {
        std::ofstream notes(Out("taken.wav"), std::ios::binary);
        notes << "the user's notes";
    }
    encoder.StartTask(1);
    WaitRunOver();
    ASSERT_EQ(Terminations.size(), 4u);
    EXPECT_TRUE(Terminations[0].Failed);
    EXPECT_NE(Terminations[0].ErrorMessage.find("vanishing.wav"), std::string::npos)
        << Terminations[0].ErrorMessage;
    EXPECT_FALSE(std::filesystem::exists(Out("fromvanished.wav")));
    EXPECT_TRUE(Terminations[1].Failed);
    EXPECT_EQ(Terminations[1].ErrorMessage,
              "The output file was changed while the task waited: " + Out("taken.wav"));
    EXPECT_EQ(ReadText(Out("taken.wav")), "the user's notes");
    EXPECT_TRUE(Terminations[2].Finished);
    EXPECT_FALSE(Terminations[2].Failed) << Terminations[2].ErrorMessage;
    EXPECT_GT(std::filesystem::file_size(Out("fine.wav")), 44u);
    encoder.ClearTasks();

    // Tasks freed without running leave none of the empty files that held their names.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(encoder.AddTask(Files->Short), i);
        ASSERT_TRUE(encoder.SetOutputFile(i, Out("unrun" + std::to_string(i) + ".wav")));
    }
    encoder.ClearTasks();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(std::filesystem::exists(Out("unrun" + std::to_string(i) + ".wav"))) << i;
}

} // namespace
} // namespace cw::test
