// The window while a real conversion runs: the event loop keeps turning (no freeze of the main
// thread a person would notice, a second; the aim of a turn every 50 ms is measured by
// bench/ui, which reads the figure this test prints), and closing the window in the middle of
// the run asks nothing, stops the run and still saves the settings and both placements. The
// program runs on its own (not beside other tests of the suite).
#include "app/IniFile.h"
#include "app/Settings.h"
#include "ui/Widgets.h"

#include "RunSupport.h"

#include <QElapsedTimer>
#include <QTimer>

namespace cw::test {
namespace {

class ResponsivenessTest : public TRunFixture {};

TEST_F(ResponsivenessTest, TheEventLoopKeepsTurningDuringARunAndClosingStopsItQuietly) {
    Make(false);
    TFixtureParams clip;
    clip.Seconds = 30;
    clip.Width = 320;
    clip.Height = 240;
    clip.FrameRateNum = 25;
    const std::string first = Write(fkAviMpeg4Mp3, "long1.avi", clip);
    // Four copies: one 30 s clip converts in about a second and a half on a quiet machine,
    // which is as long as the measurement; four keep the run going well past it.
    std::vector<std::string> inputs{first};
    for (int i = 2; i <= 4; ++i) {
        inputs.push_back(Media.Path + "long" + std::to_string(i) + ".avi");
        fs::copy_file(first, inputs.back());
    }
    StartRun(inputs, ocVideo, "MP4", 3);
    ASSERT_TRUE(ProcessUntil([&] { return Cell(0, 2) == "Converting..."; }, 60000));

    // A 5 ms timer: the longest gap between two of its ticks is the longest time the main
    // thread was kept from its events.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 longest = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    timer.start();
    // Measure over 1.5 s of the run, through several progress events.
    ProcessUntil([&] { return clock.elapsed() > 1500 || !Main().Encoder()->Working(); }, 5000);
    timer.stop();
    ASSERT_TRUE(Main().Encoder()->Working()) << "the run ended before the measurement did";
    // The timer ran through the measurement, so the longest gap is one between its ticks.
    EXPECT_GT(ticks, 1);
    EXPECT_LT(longest, 1000) << "the event loop stood still for " << longest << " ms";
    std::printf("event loop: %d ticks, longest gap %lld ms\n", ticks, (long long)longest);

    // Closing now: no question, the run stops, the settings and placements are written.
    Main().move(123, 45);
    F->Vars.OutputMP3Preset = 2;
    Main().ButtonClose->click();
    EXPECT_TRUE(F->Desktop.Messages.empty()) << F->Desktop.Messages[0].Message;
    EXPECT_EQ(F->ClosedCount, 1);
    // Every task has ended (the encoder stays marked busy until the detached run would have
    // cleared it), and the stopped output is finished and playable or not there at all.
    EXPECT_TRUE(Main().Encoder()->AllDone());
    for (int i = 1; i <= 4; ++i) {
        const std::string output = Out + "long" + std::to_string(i) + ".mp4";
        if (fs::exists(output)) {
            EXPECT_GT(OutputDuration(output), 0) << output;
        }
    }
    TIniFile saved;
    ASSERT_TRUE(saved.Load(SettingsFilePath(F->Vars)));
    EXPECT_EQ(saved.ReadInteger("System", "OutputMP3Preset", -1), 2);
    EXPECT_EQ(saved.ReadInteger("Form", "x", -1), 123);
    EXPECT_EQ(saved.ReadInteger("Form", "y", -1), 45);
    EXPECT_GE(saved.ReadInteger("FormLog", "x", -1), 0);
    // No summary comes to a closing window.
    ProcessPending();
    EXPECT_EQ(Main().ActivePage(), wpStep3);
}

} // namespace
} // namespace cw::test
