// The engine logger with real library messages: lines cut from fragments, per-thread pending
// text, folded repeats, long messages, prefixes of library contexts, and delivery on the main
// thread without holding the log lock.
#include "EngineTestSupport.h"

#include "base/MainThread.h"
#include "engine/CodecLock.h"
#include "engine/FFLogger.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

using namespace cw;
using namespace std::chrono_literals;

namespace {

struct TLine {
    uint32_t ThreadId;
    TLogLevel Level;
    std::string Text;
    bool OnMainThread;
    bool operator==(const TLine&) const = default;
};

std::string Hex(const void* p) {
    return FormatText("%0*" PRIXPTR, int(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(p));
}

// A log context of our own, as the libraries' objects are: an AVClass pointer first.
const char* ParentName(void*) {
    return "Parent";
}
const AVClass ParentClass = [] {
    AVClass c{};
    c.class_name = "Parent";
    c.item_name = &ParentName;
    c.version = LIBAVUTIL_VERSION_INT;
    return c;
}();
struct TParent {
    const AVClass* Class = &ParentClass;
};

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::BindEncoderLibraries();
        Logger = std::make_unique<TFFLogger>();
        Logger->TriggerEventInMainThread = false;
        Logger->SetLogLevel(llInfo);
        Logger->OnLog = [this](TFFLogger* sender, uint32_t threadId, TLogLevel level,
                               const std::string& text) {
            EXPECT_EQ(sender, Logger.get());
            std::lock_guard lock(Lock);
            Lines.push_back({threadId, level, text, IsMainThread()});
        };
    }
    void TearDown() override { Logger.reset(); }

    std::vector<std::string> Texts() {
        std::lock_guard lock(Lock);
        std::vector<std::string> texts;
        for (const auto& line : Lines)
            texts.push_back(line.Text);
        return texts;
    }

    std::unique_ptr<TFFLogger> Logger;
    std::mutex Lock;
    std::vector<TLine> Lines;
};

TEST_F(LoggerTest, EngineMessagesPassByLevelAndVerboseUnlessQuiet) {
    Logger->SetLogLevel(llError);
    Logger->Log(llWarning, "warning line");
    Logger->Log(llError, "error line");
    Logger->LogF(llVerbose, "Stream mapping: %d", 1);
    Logger->SetLogLevel(llQuiet);
    Logger->Log(llPanic, "panic line");
    Logger->Log(llError, "error while quiet");
    Logger->Log(llVerbose, "verbose while quiet");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"error line", "Stream mapping: 1"}));
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0].ThreadId, CurrentThreadId());
    EXPECT_EQ(Lines[1].Level, llVerbose);
}

TEST_F(LoggerTest, LevelsByNameAndNumber) {
    Logger->SetLogLevelByName("Verbose");
    EXPECT_EQ(Logger->LogLevel(), llVerbose);
    EXPECT_EQ(ff::av_log_get_level(), 40);
    Logger->SetLogLevelByName("20");
    EXPECT_EQ(Logger->LogLevel(), llError);
    EXPECT_EQ(ff::av_log_get_level(), 16);
    Logger->SetLogLevelByName("-100");
    EXPECT_EQ(Logger->LogLevel(), llQuiet);
    Logger->SetLogLevelByName("DEBUG");
    EXPECT_EQ(Logger->LogLevel(), llDebug);
    EXPECT_THROW(Logger->SetLogLevelByName("loud"), std::invalid_argument);
    EXPECT_THROW(Logger->SetLogLevelByName(""), std::invalid_argument);
    EXPECT_EQ(Logger->LogLevel(), llDebug);

    EXPECT_EQ(LogLevelFromLibrary(-8), llQuiet);
    EXPECT_EQ(LogLevelFromLibrary(-1), llPanic);
    EXPECT_EQ(LogLevelFromLibrary(20), llError);
    EXPECT_EQ(LogLevelFromLibrary(100), llDebug);
}

TEST_F(LoggerTest, LibraryMessageCarriesParentAndContextPrefixes) {
    TParent parent;
    EXPECT_LT(ff::av_image_check_size(0, 0, 0, &parent), 0);
    ASSERT_EQ(Lines.size(), 1u);
    std::regex expected("\\[Parent @ " + Hex(&parent) +
                        "\\] \\[IMGUTILS @ [0-9A-F]{16}\\]Picture size 0x0 is invalid");
    EXPECT_TRUE(std::regex_match(Lines[0].Text, expected)) << Lines[0].Text;
    EXPECT_EQ(Lines[0].Level, llError);
    EXPECT_EQ(Lines[0].ThreadId, CurrentThreadId());
}

TEST_F(LoggerTest, RepeatedLibraryLinesAreFolded) {
    for (int i = 0; i < 3; ++i)
        ff::av_image_check_size(0, 0, 0, nullptr);
    ff::av_image_check_size(7, 0, 0, nullptr);
    auto texts = Texts();
    ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
    std::regex first("\\[IMGUTILS @ [0-9A-F]+\\]Picture size 0x0 is invalid");
    EXPECT_TRUE(std::regex_match(texts[0], first)) << texts[0];
    EXPECT_EQ(texts[1], "    Last message repeated 2 times");
    EXPECT_NE(texts[2].find("Picture size 7x0 is invalid"), std::string::npos) << texts[2];
}

TEST_F(LoggerTest, FragmentsBecomeOneLineWithOnePrefix) {
    TParent context;
    ff::av_log(&context, AV_LOG_ERROR, "first %s, ", "fragment");
    EXPECT_TRUE(Texts().empty()) << "a line without its line feed was delivered";
    ff::av_log(&context, AV_LOG_ERROR, "second fragment\nand a rest ");
    ff::av_log(&context, AV_LOG_ERROR, "that ends here\n");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"[Parent @ " + Hex(&context) +
                                                     "]first fragment, second fragment",
                                                 "and a rest that ends here"}));
}

TEST_F(LoggerTest, LibraryDumpOfARealFileArrivesInWholeLines) {
    test::TTempDir dir;
    std::string path = dir.Folder() + "tone.wav";
    ASSERT_EQ(test::WriteWav(path, std::vector<int16_t>(800, 1000), 8000), 0);
    AVFormatContext* input = nullptr;
    ASSERT_EQ(OpenInputFile(&input, path, nullptr, nullptr), 0);
    ASSERT_GE(ff::avformat_find_stream_info(input, nullptr), 0);
    ff::av_dump_format(input, 0, path.c_str(), 0);
    CloseInputFile(&input);

    // The library writes each of these lines in many pieces.
    auto texts = Texts();
    auto lineStarting = [&](const std::string& start) {
        for (const auto& text : texts)
            if (text.rfind(start, 0) == 0)
                return text;
        return std::string();
    };
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "Input #0, wav, from '" + path + "':");
    EXPECT_EQ(lineStarting("  Duration: ").rfind("  Duration: 00:00:00.10, bitrate: ", 0), 0u)
        << ::testing::PrintToString(texts);
    std::string stream = lineStarting("  Stream #0:0");
    EXPECT_NE(stream.find("Audio: pcm_s16le"), std::string::npos) << stream;
    EXPECT_NE(stream.find("8000 Hz"), std::string::npos) << stream;
    for (const auto& text : texts)
        EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST_F(LoggerTest, TwoThreadsInterleavingFragmentsKeepTheirOwnLines) {
    // The two threads take turns: A1, B1, A2, B2.
    std::mutex turnLock;
    std::condition_variable turnChanged;
    int turn = 0;
    auto step = [&](int mine, const char* text) {
        std::unique_lock lock(turnLock);
        turnChanged.wait(lock, [&] { return turn == mine; });
        ff::av_log(nullptr, AV_LOG_ERROR, "%s", text);
        ++turn;
        turnChanged.notify_all();
    };
    std::atomic<uint32_t> idA{0}, idB{0};
    std::thread a([&] {
        idA = CurrentThreadId();
        step(0, "A1 ");
        step(2, "A2\n");
    });
    std::thread b([&] {
        idB = CurrentThreadId();
        step(1, "B1 ");
        step(3, "B2\n");
    });
    a.join();
    b.join();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0].Text, "A1 A2");
    EXPECT_EQ(Lines[0].ThreadId, idA.load());
    EXPECT_EQ(Lines[1].Text, "B1 B2");
    EXPECT_EQ(Lines[1].ThreadId, idB.load());
}

TEST_F(LoggerTest, MessageOf5000CharactersArrivesWhole) {
    std::string text;
    for (int i = 0; text.size() < 5000; ++i)
        text += std::to_string(i % 10);
    ff::av_log(nullptr, AV_LOG_WARNING, "%s\n", text.c_str());
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, text);
    EXPECT_EQ(Lines[0].Level, llWarning);
}

TEST_F(LoggerTest, WorkerLinesAreQueuedForTheMainThreadWithoutTheWorkerWaiting) {
    TQueueDispatcher dispatcher;
    IMainThreadDispatcher* previous = SetMainThreadDispatcher(&dispatcher);
    Logger->TriggerEventInMainThread = true;
    bool answered = false;
    TLogEvent collect = Logger->OnLog;
    Logger->OnLog = [&](TFFLogger* sender, uint32_t threadId, TLogLevel level,
                        const std::string& text) {
        collect(sender, threadId, level, text);
        // A library message from the main thread inside a delivery is queued behind it.
        if (!answered) {
            answered = true;
            ff::av_log(nullptr, AV_LOG_ERROR, "main answers\n");
        }
    };
    std::atomic<uint32_t> workerId{0};
    std::atomic<bool> done{false};
    // The worker logs while holding the codec lock; the main thread, not serving, waits for
    // it. A worker that waited for its line's delivery would never get there.
    std::thread worker([&] {
        workerId = CurrentThreadId();
        TCodecLock codec;
        ff::av_log(nullptr, AV_LOG_ERROR, "from the worker\n");
        done = true;
    });
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!done && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    const bool finished = done;
    worker.join();
    EXPECT_TRUE(Lines.empty());
    WaitServing([&] { return Texts().size() >= 2; }, 20s);
    SetMainThreadDispatcher(previous);
    ASSERT_TRUE(finished);
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0], (TLine{workerId.load(), llError, "from the worker", true}));
    EXPECT_EQ(Lines[1], (TLine{CurrentThreadId(), llError, "main answers", true}));
}

TEST_F(LoggerTest, AThreadsUnfinishedLineIsFlushedAndNeverGluedToAnotherThreads) {
    // Flushed when its work ends: the text arrives as a line of its own.
    std::thread([] {
        ff::av_log(nullptr, AV_LOG_ERROR, "task ended mid-line ");
        TFFLogger::FlushThread();
        TFFLogger::FlushThread(); // nothing left the second time
    }).join();
    // Not flushed: the thread's text stays its own, whatever id the next thread gets.
    std::thread([] { ff::av_log(nullptr, AV_LOG_ERROR, "left over "); }).join();
    std::thread([] { ff::av_log(nullptr, AV_LOG_ERROR, "fresh line\n"); }).join();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"task ended mid-line ", "fresh line"}));
}

TEST(LoggerInstanceTest, ExplicitLoggerReplacesTheAutoCreatedOneAndStaysSingle) {
    TFFLogger& automatic = TFFLogger::Instance();
    EXPECT_TRUE(automatic.AutoCreated());
    EXPECT_EQ(automatic.About, "");
    {
        TFFLogger mine;
        EXPECT_FALSE(mine.AutoCreated());
        EXPECT_EQ(&TFFLogger::Instance(), &mine);
        try {
            TFFLogger second;
            ADD_FAILURE() << "a second logger was created";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
        }
        EXPECT_EQ(&TFFLogger::Instance(), &mine);
    }
    EXPECT_TRUE(TFFLogger::Instance().AutoCreated());
}

} // namespace
