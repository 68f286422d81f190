// The download run against the fake video service, with the real transfer components and
// script host: the road of a video, the quality rule, naming, failures, cancel, and the
// faults of a stream (cut off, missing, unwritable).
#include "DownloadTestSupport.h"

#include "app/Utils.h"
#include "download/SaveFiles.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

using namespace cw;
using namespace cw::test;

namespace {

TFakeStream Stream(int itag, const std::string& body, TStreamFault fault = sfNone) {
    TFakeStream s;
    s.Itag = itag;
    s.Body = body;
    s.Fault = fault;
    s.Sig = "SIG" + std::to_string(itag);
    return s;
}

TFakeVideo Video(const std::string& id, const std::string& title,
                 std::vector<TFakeStream> streams) {
    TFakeVideo v;
    v.Id = id;
    v.Title = title;
    v.Streams = std::move(streams);
    return v;
}

std::string Body(const std::string& tag, size_t size = 3000) {
    std::string body;
    while (body.size() < size)
        body += tag + ":" + std::to_string(body.size()) + ";";
    body.resize(size);
    return body;
}

class DownloadQueueTest : public ::testing::Test {
protected:
    TQueueRig Rig;
    TGlobalVars& Vars() { return Rig.Vars; }
    std::vector<std::string> Paths(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const auto& n : names)
            paths.push_back(Rig.Folder.Path + n);
        return paths;
    }
};

} // namespace

TEST_F(DownloadQueueTest, ThreeVideosWhereTheSecondOffersNoStream) {
    Rig.Service.AddVideo(Video("one", "First", {Stream(5, Body("1/5")), Stream(18, Body("1/18"))}));
    TFakeVideo none = Video("two", "Second", {Stream(18, Body("2/18"))});
    none.StreamMap = false;
    Rig.Service.AddVideo(none);
    Rig.Service.AddVideo(Video("three", "Third", {Stream(18, Body("3/18", 3 * 1048576))}));
    Vars().PreferYouTubeQuality = true;

    ASSERT_TRUE(Rig.Run(Rig.Links({"one", "two", "three"})));
    EXPECT_EQ(Vars().URLTotal, 3);
    EXPECT_EQ(Vars().URLSucceeded, 2);
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"First.mp4", "Third.mp4"}));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "First.mp4"), Body("1/18"));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Third.mp4"), Body("3/18", 3 * 1048576));
    EXPECT_EQ(Rig.Folder.Names(), (std::vector<std::string>{"First.mp4", "Third.mp4"}));
    EXPECT_EQ(Rig.Host.Ended, 1);
    EXPECT_TRUE(Rig.Host.Errors.empty());

    // Each video's road, and the table as the run left it.
    EXPECT_EQ(Rig.Host.Statuses[0],
              (std::vector<std::string>{"Getting YouTube URLs, please wait...",
                                        "Analyzing finished, ready to download...",
                                        "Downloading...", "Finish."}));
    EXPECT_EQ(Rig.Host.Statuses[1].back(), "Failed.");
    EXPECT_EQ(Rig.Host.Last[1].Caption, "Second");
    EXPECT_EQ(Rig.Host.Last[1].URL,
              "http://" + Rig.Service.Domain() + "/get_video_info?video_id=two");
    EXPECT_EQ(Rig.Host.Last[2].Size, "3.00MB"); // the announced size, not bytes so far
    EXPECT_EQ(Rig.Host.Last[2].Progress, "100%");
    EXPECT_NE(Rig.Host.Last[2].Speed.find(" KB/s"), std::string::npos);
    EXPECT_TRUE(Rig.Queue->Items().empty());
    EXPECT_EQ(Rig.Queue->Labels().Status, "...");
    EXPECT_EQ(Rig.Queue->Labels().ProgressText, "0%");
    for (const auto& slot : Rig.Queue->StreamURLs())
        EXPECT_EQ(slot, "");

    // What the service was sent.
    const auto info = Rig.Service.Server().LastRequest("/get_video_info");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Target, "/get_video_info?video_id=three");
    EXPECT_EQ(info->Header("User-Agent"), "[Halvex]");
    EXPECT_EQ(info->Header("Accept"), "*/*");
    EXPECT_EQ(Rig.Service.StreamRequestOrder("two"), std::vector<int>{}); // nothing to fetch
    EXPECT_EQ(Rig.Service.StreamRequestOrder("one"), std::vector<int>{18});
}

TEST_F(DownloadQueueTest, NamesAreMadeSafeAndUnique) {
    Rig.Service.AddVideo(Video("a", "Clip", {Stream(5, Body("a"))}));
    Rig.Service.AddVideo(Video("b", "Clip", {Stream(5, Body("b"))}));
    Rig.Service.AddVideo(Video("c", "AC/DC: Live? &amp; &quot;Loud&quot; caf\xC3\xA9 &#233;",
                               {Stream(5, Body("c"))}));
    TFakeVideo untitled = Video("d", "", {Stream(5, Body("d"))});
    untitled.TitleTag = false;
    Rig.Service.AddVideo(untitled);
    Rig.Service.AddVideo(Video("q", "It&#8217;s &#x1F600;", {Stream(5, Body("q"))}));
    Rig.Service.AddVideo(Video("h", "...hidden", {Stream(5, Body("h"))}));

    ASSERT_TRUE(Rig.Run(Rig.Links({"a", "b", "c", "d", "q", "h"})));
    const std::string odd = "AC_DC_ Live_ & _Loud_ caf\xC3\xA9 \xC3\xA9.flv";
    // A video without a title goes by its id; no name starts with a dot.
    EXPECT_EQ(Vars().DownloadedFiles,
              Paths({"Clip.flv", "Clip(1).flv", odd, "d.flv",
                     "It\xE2\x80\x99s \xF0\x9F\x98\x80.flv", "___hidden.flv"}));
    EXPECT_EQ(Rig.Host.Last[3].Caption, "d");
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Clip(1).flv"), Body("b"));
    EXPECT_EQ(Rig.Host.Last[2].Caption, "AC/DC: Live? & \"Loud\" caf\xC3\xA9 \xC3\xA9");

    // Line breaks and other control characters never reach a file name; long titles are cut.
    EXPECT_EQ(TDownloadQueue::DownloadFileName("a\nb\tc\x01", ".mp4"), "a_b_c_.mp4");
    std::string longTitle = "x";
    for (int i = 0; i < 300; ++i)
        longTitle += "\xC3\xA9";
    const std::string longName = TDownloadQueue::DownloadFileName(longTitle, ".mp4");
    EXPECT_EQ(longName.size(), 203u); // 199 bytes of whole characters, then the extension
    EXPECT_EQ(longName.substr(197), "\xC3\xA9.mp4");
}

TEST_F(DownloadQueueTest, PreferenceTakesTheFirstOfferedQualityInOrder) {
    Rig.Service.AddVideo(
        Video("v", "Song", {Stream(5, Body("5")), Stream(34, Body("34")), Stream(18, Body("18"))}));
    Vars().PreferYouTubeQuality = true;
    ASSERT_TRUE(Rig.Run(Rig.Links({"v"})));
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Song.mp4"}));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Song.mp4"), Body("18"));
    EXPECT_EQ(Rig.Service.StreamRequestOrder("v"), std::vector<int>{18});
    EXPECT_EQ(Rig.Host.QualityLabels.front(), "[HQ18] - (MP4(H.264), 640 x 360, Stereo 44KHz AAC)");
}

TEST_F(DownloadQueueTest, PreferenceTriesAllEightQualitiesButNeverTheDefaultStream) {
    Rig.Service.AddVideo(Video("v", "Only Five", {Stream(5, Body("5"))}));
    Vars().PreferYouTubeQuality = true;
    ASSERT_TRUE(Rig.Run(Rig.Links({"v"})));
    EXPECT_EQ(Vars().URLSucceeded, 0);
    EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
    EXPECT_EQ(Rig.Service.StreamRequests("v", 5), 0);
    EXPECT_EQ(std::count(Rig.Host.Steps.begin(), Rig.Host.Steps.end(), dsTryNextQuality), 8);
    EXPECT_EQ(Rig.Host.QualityLabels, (std::vector<std::string>{
                          "[HQ18] - (MP4(H.264), 640 x 360, Stereo 44KHz AAC)",
                          "[HQ18] failed, try next: [HQ35]", "[HQ35] failed, try next: [HQ22]",
                          "[HQ22] failed, try next: [HQ6]", "[HQ6] failed, try next: [HQ13]",
                          "[HQ13] failed, try next: [HQ17]", "[HQ17] failed, try next: [HQ34]",
                          "[HQ34] failed, try next: [HQ37]"}));
    EXPECT_EQ(Rig.Queue->Labels().Quality, "..."); // the end of the run
    EXPECT_TRUE(Rig.Folder.Names().empty());
}

TEST_F(DownloadQueueTest, WithoutPreferenceOnlyTheDefaultStreamIsUsed) {
    Rig.Service.AddVideo(Video("v", "No Five", {Stream(18, Body("18")), Stream(22, Body("22"))}));
    Rig.Service.AddVideo(Video("w", "Five", {Stream(18, Body("18")), Stream(5, Body("5"))}));
    ASSERT_TRUE(Rig.Run(Rig.Links({"v", "w"})));
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Five.flv"}));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Five.flv"), Body("5"));
    EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
    EXPECT_EQ(std::count(Rig.Host.Steps.begin(), Rig.Host.Steps.end(), dsTryNextQuality), 0);
    EXPECT_EQ(Rig.Service.StreamRequestOrder("v"), std::vector<int>{});
    EXPECT_EQ(Rig.Host.QualityLabels.front(), DefaultQualityDescription);
}

TEST_F(DownloadQueueTest, CutOffAndMissingStreamsFallThroughAndLeaveNothingBehind) {
    Rig.Service.AddVideo(Video("v", "Faulty",
                               {Stream(18, Body("18", 200000), sfCut),
                                Stream(35, Body("35"), sfNotFound), Stream(22, Body("22"))}));
    Vars().PreferYouTubeQuality = true;
    ASSERT_TRUE(Rig.Run(Rig.Links({"v"})));
    EXPECT_EQ(Rig.Service.StreamRequestOrder("v"), (std::vector<int>{18, 35, 22}));
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Faulty.mp4"}));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Faulty.mp4"), Body("22"));
    EXPECT_EQ(Rig.Folder.Names(), std::vector<std::string>{"Faulty.mp4"});
}

TEST_F(DownloadQueueTest, AStreamThatCannotBeWrittenIsAFailedAttempt) {
    // Files of this process may not grow past 64 KB: the big stream fails while it is
    // written, the small one of the next quality fits.
    Rig.Service.AddVideo(
        Video("v", "Big", {Stream(18, Body("18", 1 << 20)), Stream(35, Body("35"))}));
    Rig.Service.AddVideo(Video("w", "Small", {Stream(18, Body("w18"))}));
    Vars().PreferYouTubeQuality = true;
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ended = Rig.Run(Rig.Links({"v", "w"}));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(ended);
    EXPECT_EQ(Rig.Service.StreamRequestOrder("v"), (std::vector<int>{18, 35}));
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Big.flv", "Small.mp4"}));
    EXPECT_EQ(Rig.Folder.Names(), (std::vector<std::string>{"Big.flv", "Small.mp4"}));

    // A cancel right after the failed write, as the next quality is about to start: the
    // run ends and that quality is never asked for.
    Rig.Host.Ended = 0;
    size_t stepsAtCancel = 0;
    Rig.Host.OnLabels = [&] {
        if (Rig.Queue->Labels().Quality.find(" failed, try next: ") != std::string::npos) {
            Rig.Queue->Cancel();
            stepsAtCancel = Rig.Host.Steps.size();
        }
    };
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    const bool again = Rig.Run(Rig.Links({"v"}));
    // The failed transfer finishes its delivery; nothing may start after it: once a call
    // posted now has run, every step the queue had handed to the main thread has run too,
    // and any transfer one of them started would be busy.
    EXPECT_TRUE(
        WaitServing([&] { return !Rig.Queue->WinHTTPDownload.Busy(); }, std::chrono::seconds(5)));
    bool served = false;
    PostToMainThread([&] { served = true; });
    EXPECT_TRUE(WaitServing([&] { return served; }, std::chrono::seconds(10)));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(again);
    EXPECT_EQ(Rig.Host.Ended, 1);
    EXPECT_EQ(Rig.Service.StreamRequestOrder("v"), (std::vector<int>{18, 35, 18}));
    EXPECT_FALSE(Rig.Queue->WinHTTPDownload.Busy());
    EXPECT_FALSE(Rig.Queue->Running());
    EXPECT_EQ(Rig.Host.Steps.size(), stepsAtCancel); // no transfer failed after the cancel
    EXPECT_EQ(Vars().URLSucceeded, 0);
}

TEST_F(DownloadQueueTest, AMisbehavingServiceFailsAttemptsWithoutHangingReadingFilesOrGrowing) {
    // A receive limit of 2 s stands in for the default 30 s: the stall reaches it, a healthy
    // stream on a busy machine does not.
    Rig.Queue->WinHTTPDownload.Timeouts.ReceiveTimeout = 2000;
    Vars().PreferYouTubeQuality = true;
    TFakeStream stall = Stream(18, "", sfStall);
    stall.GeneratedSize = 1 << 20;
    Rig.Service.AddVideo(Video("s", "Stalls", {stall, Stream(35, Body("35"))}));
    TFakeStream local = Stream(18, "");
    local.Address = "file:///etc/hostname";
    TFakeStream redirected = Stream(35, "");
    redirected.Address = Rig.Service.Server().Url("/redirect?to=file:///etc/hostname");
    Rig.Service.AddVideo(Video("f", "Local", {local, redirected}));
    TFakeVideo endless = Video("e", "Endless", {Stream(18, Body("e"))});
    endless.EndlessPage = true;
    Rig.Service.AddVideo(endless);
    TFakeStream open = Stream(18, "", sfNoLength);
    open.GeneratedSize = 3 << 20;
    Rig.Service.AddVideo(Video("n", "No length", {open}));
    std::vector<std::string> timeLeft;
    Rig.Host.OnItem = [&](int index, const TDownloadItem& item) {
        if (index == 3 && item.Status == "Downloading...")
            timeLeft.push_back(Rig.Queue->Labels().TimeLeft);
    };

    ASSERT_TRUE(Rig.Run(Rig.Links({"s", "f", "e", "n"})));
    // The stalled stream is given up and the next quality saved.
    EXPECT_EQ(Rig.Service.StreamRequestOrder("s"), (std::vector<int>{18, 35}));
    EXPECT_EQ(ReadFile(Rig.Folder.Path + "Stalls.flv"), Body("35"));
    ASSERT_FALSE(Rig.Host.Reasons[0].empty());
    EXPECT_NE(Rig.Host.Reasons[0][0].find("No data arrived for 2 s"), std::string::npos);
    // Addresses of other schemes are never read, directly or through a redirect.
    EXPECT_EQ(Rig.Host.Statuses[1].back(), "Failed.");
    const auto& statuses = Rig.Host.Statuses[1];
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Refused: not an http or https address."),
              statuses.end());
    ASSERT_GE(Rig.Host.Reasons[1].size(), 2u);
    EXPECT_EQ(Rig.Host.Reasons[1][0].rfind(
                  "The stream address is not an http or https address: file:///etc/hostname", 0),
              0u);
    EXPECT_NE(Rig.Host.Reasons[1][1].find("was refused"), std::string::npos);
    EXPECT_EQ(Rig.Service.Server().RequestCount("/redirect"), 1);
    // A page without end fails its video at the text limit.
    EXPECT_EQ(Rig.Host.Statuses[2].back(), "Failed.");
    ASSERT_FALSE(Rig.Host.Reasons[2].empty());
    EXPECT_NE(Rig.Host.Reasons[2][0].find("larger than 8.00 MiB"), std::string::npos);
    EXPECT_EQ(Rig.Service.Server().RequestCount("/get_video_info"), 3);
    // A stream without a length: its own size, no time left.
    EXPECT_EQ(Rig.Host.Last[3].Size, "3.00MB");
    EXPECT_EQ(Rig.Host.Last[3].Status, "Finish.");
    ASSERT_FALSE(timeLeft.empty());
    EXPECT_EQ(std::count(timeLeft.begin(), timeLeft.end(), "..."), long(timeLeft.size()));

    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Stalls.flv", "No length.mp4"}));
    EXPECT_EQ(Rig.Folder.Names(), (std::vector<std::string>{"No length.mp4", "Stalls.flv"}));
}

TEST_F(DownloadQueueTest, AGoneDownloadFolderFailsEveryVideoAndTheRunStillEnds) {
    Rig.Service.AddVideo(Video("v", "Lost", {Stream(5, Body("5"))}));
    Rig.Service.AddVideo(Video("w", "Lost too", {Stream(5, Body("5"))}));
    Vars().OutputURLDir = Rig.Folder.Path + "gone/";
    ASSERT_TRUE(Rig.Run(Rig.Links({"v", "w"})));
    EXPECT_EQ(Vars().URLSucceeded, 0);
    EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
    EXPECT_EQ(Rig.Host.Statuses[1].back(), "Failed.");
    EXPECT_TRUE(Rig.Folder.Names().empty());
}

TEST_F(DownloadQueueTest, CancelDuringTheSecondDownloadEndsTheRunAtOnce) {
    Rig.Service.AddVideo(Video("a", "Quick", {Stream(5, Body("a"))}));
    TFakeStream slow = Stream(5, "");
    slow.GeneratedSize = 50 << 20; // far more than arrives before the cancel
    slow.Fault = sfSlow;
    Rig.Service.AddVideo(Video("b", "Slow", {slow}));
    Rig.Service.AddVideo(Video("c", "Never", {Stream(5, Body("c"))}));
    Rig.Host.OnItem = [&](int index, const TDownloadItem& item) {
        if (index == 1 && item.Status == "Downloading...")
            PostToMainThread([&] { Rig.Queue->Cancel(); });
    };
    ASSERT_TRUE(Rig.Run(Rig.Links({"a", "b", "c"})));
    EXPECT_EQ(Vars().URLTotal, 3);
    EXPECT_EQ(Vars().URLSucceeded, 1);
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Quick.flv"}));
    EXPECT_EQ(Rig.Folder.Names(), std::vector<std::string>{"Quick.flv"}); // no partial file
    EXPECT_EQ(Rig.Host.Statuses.count(2), 0u);
    EXPECT_FALSE(Rig.Queue->Running());
}

TEST_F(DownloadQueueTest, ThePauseAfterTheScriptKeepsTheLoopRunningAndCanBeCancelled) {
    Rig.Service.AddVideo(Video("v", "Paused", {Stream(5, Body("5"))}));
    Rig.Queue->ScriptPause = std::chrono::minutes(10);
    Rig.Queue->BuildQueue(Rig.Links({"v"}));
    Rig.Queue->StartRun();
    // The script has filled the slots; the pause is on and calls are still served.
    ASSERT_TRUE(
        WaitServing([&] { return !Rig.Queue->StreamURLs()[0].empty(); }, std::chrono::seconds(20)));
    bool served = false;
    PostToMainThread([&] { served = true; });
    ASSERT_TRUE(WaitServing([&] { return served; }, std::chrono::seconds(20)));
    EXPECT_EQ(Rig.Host.Ended, 0);
    Rig.Queue->Cancel();
    EXPECT_EQ(Rig.Host.Ended, 1);
    EXPECT_EQ(Vars().URLSucceeded, 0);
    EXPECT_EQ(Rig.Service.StreamRequests("v", 5), 0);
}

// The queue's pause on its own: the call runs once, on the main thread, after its delay, and
// never after a cancel, a replacement or the end of its owner, even when the timer thread has
// handed it to the main thread already.
TEST(DelayedCall, RunsOnceOnTheMainThreadAndNeverAfterACancel) {
    using namespace std::chrono_literals;
    struct TCountingDispatcher : TQueueDispatcher {
        std::atomic<int> Posted{0};
        void CallQueued() override { ++Posted; }
    };
    struct TRig {
        TCountingDispatcher Dispatcher;
        std::unique_ptr<TDelayedCall> Call = std::make_unique<TDelayedCall>();
        std::vector<std::string> Ran;
        std::function<void()> Note(const std::string& name) {
            return [this, name] { Ran.push_back(name + (IsMainThread() ? "" : " off main")); };
        }
    };
    struct TCase {
        const char* Name;
        std::function<void(TRig&)> Act;
        std::vector<std::string> Ran; // the last call, "end", is started after Act
    };
    const TCase cases[] = {
        {"after its pause",
         [](TRig& r) {
             r.Call->Start(1ms, r.Note("a"));
             EXPECT_TRUE(r.Call->Pending());
             ASSERT_TRUE(WaitServing([&] { return !r.Ran.empty(); }, 10s));
             EXPECT_FALSE(r.Call->Pending());
         },
         {"a", "end"}},
        {"cancelled while it waits",
         [](TRig& r) {
             r.Call->Start(10min, r.Note("a"));
             r.Call->Cancel();
             EXPECT_FALSE(r.Call->Pending());
         },
         {"end"}},
        {"cancelled once handed over",
         [](TRig& r) {
             r.Call->Start(1ms, r.Note("a"));
             for (int i = 0; i < 10000 && r.Dispatcher.Posted == 0; ++i)
                 std::this_thread::sleep_for(1ms);
             ASSERT_EQ(r.Dispatcher.Posted, 1);
             r.Call->Cancel();
         },
         {"end"}},
        {"replaced by a new start",
         [](TRig& r) {
             r.Call->Start(10min, r.Note("a"));
             r.Call->Start(1ms, r.Note("b"));
             ASSERT_TRUE(WaitServing([&] { return !r.Ran.empty(); }, 10s));
         },
         {"b", "end"}},
        {"its owner gone while it waits",
         [](TRig& r) {
             r.Call->Start(10min, r.Note("a"));
             r.Call.reset();
             r.Call = std::make_unique<TDelayedCall>();
         },
         {"end"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        IMainThreadDispatcher* previous = nullptr;
        {
            TRig r;
            previous = SetMainThreadDispatcher(&r.Dispatcher);
            c.Act(r);
            r.Call->Start(1ms, r.Note("end"));
            EXPECT_TRUE(WaitServing(
                [&] { return !r.Ran.empty() && r.Ran.back().rfind("end", 0) == 0; }, 10s));
            r.Dispatcher.ServePendingCalls();
            EXPECT_EQ(r.Ran, c.Ran);
        }
        SetMainThreadDispatcher(previous);
    }
}

TEST_F(DownloadQueueTest, AHostileInfoAnswerIsOnlyText) {
    // The answer tries to hand the script a stream address of its author's choosing.
    TFakeVideo evil = Video("e", "Evil", {});
    evil.Answer =
        "status=ok';Host.Echo('<5>[" + Rig.Service.StreamUrl("bait", 5) + "&signature=S]');//";
    Rig.Service.AddVideo(evil);
    Rig.Service.AddVideo(Video("bait", "Bait", {Stream(5, Body("bait"))}));
    ASSERT_TRUE(Rig.Run(Rig.Links({"e"})));
    EXPECT_EQ(Vars().URLSucceeded, 0);
    EXPECT_EQ(Rig.Service.StreamRequests("bait", 5), 0);
    EXPECT_TRUE(Rig.Host.Errors.empty());
}

TEST_F(DownloadQueueTest, ScriptErrorsAreWordedWithTheirLineAndTheVideoFails) {
    TFakeVideo odd = Video("n", "NaN", {});
    // An itag the script cannot read as a number: the echo carries "NaN".
    odd.Answer = "url_encoded_fmt_stream_map=" +
                 TFakeVideoService::Escape("itag=x&url=http%3A%2F%2Fh%2Fv&sig=s");
    Rig.Service.AddVideo(odd);
    ASSERT_TRUE(Rig.Run(Rig.Links({"n"})));
    ASSERT_EQ(Rig.Host.Errors.size(), 1u);
    EXPECT_EQ(Rig.Host.Errors[0].rfind("Error: Line number 49, ", 0), 0u) << Rig.Host.Errors[0];
    EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
}

TEST_F(DownloadQueueTest, UnreachablePagesFailTheirVideoOnly) {
    Rig.Service.AddVideo(Video("ok", "Fine", {Stream(5, Body("ok"))}));
    ASSERT_TRUE(Rig.Run({TTestHttpServer::ClosedPortUrl("/watch?v=x"),
                         Rig.Service.WatchUrl("missing"), Rig.Service.WatchUrl("ok")}));
    EXPECT_EQ(Vars().URLSucceeded, 1);
    EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
    EXPECT_EQ(Rig.Host.Statuses[1].back(), "Failed.");
    EXPECT_EQ(Vars().DownloadedFiles, Paths({"Fine.flv"}));
}

namespace {

// A fresh folder on a file system other than the one of `near`, or none: in the shared-memory
// tmpfs or the user's runtime folder.
std::unique_ptr<TTempDir> FolderOnAnotherFileSystem(const std::string& near) {
    struct stat here {};
    if (::stat(near.c_str(), &here) != 0)
        return nullptr;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const std::string& parent :
         {std::string("/dev/shm"), std::string("/run/shm"), std::string(runtime ? runtime : "")}) {
        struct stat there {};
        if (parent.empty() || ::stat(parent.c_str(), &there) != 0 || there.st_dev == here.st_dev ||
            ::access(parent.c_str(), W_OK) != 0)
            continue;
        return std::make_unique<TTempDir>("cwdl-other", parent);
    }
    return nullptr;
}

// A folder whose path is `length` bytes long (with its trailing '/'), below `base`.
std::string DeepFolder(const std::string& base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const size_t segment = std::min<size_t>(200, length - path.size() - 1);
        path += std::string(std::max<size_t>(segment, 1), 'd') + "/";
    }
    std::filesystem::create_directories(path);
    return path;
}

} // namespace

TEST_F(DownloadQueueTest, FinishingADownloadKeepsEveryFileAndWordsWhyNothingWasSaved) {
    const std::unique_ptr<TTempDir> otherFolder = FolderOnAnotherFileSystem(Rig.Folder.Path);
    const std::string other = otherFolder ? otherFolder->Path : std::string();
    // A title whose name no longer fits the path limit below a folder that takes the part file.
    const std::string longTitle(150, 'L');
    const std::string deep = DeepFolder(Rig.Folder.Path + "deep/", 3990);
    struct TCase {
        const char* Name;
        mode_t Umask;
        std::string Folder;           // the download folder at the start
        std::function<void()> During; // once, while the stream arrives
        std::string Title;
        std::string SavedAs;                       // the saved file's path; empty: nothing saved
        int Mode;                                  // its permissions
        std::string Reason;                        // why the video failed; empty: it did not
        std::map<std::string, std::string> Others; // files that were there, as they must stay
    };
    const std::string taken = Rig.Folder.Path + "taken/";
    // clang-format off
    const std::vector<TCase> cases{
        {"a name taken meanwhile", 022, taken,
         [&] { std::ofstream(taken + "Clip.flv", std::ios::binary) << "theirs"; },
         "Clip", taken + "Clip(1).flv", 0644, "", {{taken + "Clip.flv", "theirs"}}},
        {"umask 077", 077, Rig.Folder.Path + "private/", nullptr,
         "Clip", Rig.Folder.Path + "private/Clip.flv", 0600, "", {}},
        {"a folder that cannot be written", 022, "/proc/", nullptr,
         "Clip", "", 0, "No file can be made in the download folder: No such file or directory", {}},
        {"a name beyond the path limit", 022, deep, nullptr,
         longTitle, "", 0, "The file cannot be saved as " + deep + longTitle + ".flv: File name too long", {}},
        // The folder changes to another file system while the stream arrives: the finished
        // file is moved across.
        {"a move to another file system", 022, Rig.Folder.Path + "moved/",
         [&] { Vars().OutputURLDir = other; },
         "Clip", other + "Clip.flv", 0644, "", {}},
    };
    // clang-format on
    // The move never replaces a file that takes the name between the choice of the name and
    // the move, on the same file system or across.
    for (const std::string& folder : {Rig.Folder.Path, other}) {
        if (folder.empty())
            continue;
        SCOPED_TRACE(folder);
        const std::string part = CreateTempFile(Rig.Folder.Path);
        ASSERT_FALSE(part.empty());
        std::ofstream(part, std::ios::binary) << "ours";
        std::ofstream(folder + "Taken.mp4", std::ios::binary) << "theirs";
        EXPECT_EQ(MoveNoReplace(part, folder + "Taken.mp4"), EEXIST);
        EXPECT_EQ(ReadFile(folder + "Taken.mp4"), "theirs");
        EXPECT_EQ(ReadFile(part), "ours");
        ::unlink(part.c_str());
        ::unlink((folder + "Taken.mp4").c_str());
    }

    const std::string body = Body("finish", 100000);
    // The row of the other file system comes last: where there is none, it is skipped.
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Name == std::string("a move to another file system") && other.empty())
            GTEST_SKIP() << "no file system apart from the one of " << Rig.Folder.Path
                         << " to move a finished download to (no /dev/shm, /run/shm or "
                            "XDG_RUNTIME_DIR on another one)";
        if (c.Folder != "/proc/")
            std::filesystem::create_directories(c.Folder);
        const std::string id = "v" + std::to_string(&c - cases.data());
        Rig.Service.AddVideo(Video(id, c.Title, {Stream(5, body)}));
        Vars().OutputURLDir = c.Folder;
        Rig.Host.Ended = 0;
        Rig.Host.Statuses.clear();
        Rig.Host.Reasons.clear();
        bool during = false;
        Rig.Host.OnItem = [&](int, const TDownloadItem& item) {
            if (item.Status == "Downloading..." && !during && c.During) {
                during = true;
                c.During();
            }
        };
        const mode_t previous = ::umask(c.Umask);
        const bool ended = Rig.Run(Rig.Links({id}));
        ::umask(previous);
        Rig.Host.OnItem = nullptr;
        ASSERT_TRUE(ended);
        EXPECT_EQ(during, bool(c.During));

        if (c.SavedAs.empty()) {
            EXPECT_EQ(Vars().URLSucceeded, 0);
            EXPECT_TRUE(Vars().DownloadedFiles.empty());
            EXPECT_EQ(Rig.Host.Statuses[0].back(), "Failed.");
        } else {
            EXPECT_EQ(Vars().URLSucceeded, 1);
            EXPECT_EQ(Vars().DownloadedFiles, std::vector<std::string>{c.SavedAs});
            EXPECT_EQ(Rig.Host.Statuses[0].back(), "Finish.");
            EXPECT_TRUE(ReadFile(c.SavedAs) == body);
            struct stat st {};
            ASSERT_EQ(::stat(c.SavedAs.c_str(), &st), 0);
            EXPECT_EQ(int(st.st_mode & 07777), c.Mode) << std::oct << (st.st_mode & 07777);
        }
        EXPECT_EQ(Rig.Host.Reasons[0], c.Reason.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{c.Reason});
        for (const auto& [path, content] : c.Others)
            EXPECT_EQ(ReadFile(path), content) << path;
        // Nothing but the saved file and the files that were there: no part file is left.
        for (const std::string& folder : {c.Folder, Vars().OutputURLDir}) {
            if (folder == "/proc/")
                continue;
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                const std::string path = entry.path().string();
                if (entry.is_directory())
                    continue;
                EXPECT_TRUE(path == c.SavedAs || c.Others.count(path)) << path;
            }
        }
    }
}
