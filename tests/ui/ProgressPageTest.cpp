// Whole conversions through the window on real generated media: Step1 to Step4 in per-file
// and in join editions, a file that fails in the run, cancelling during the second file, the
// end sound (recorded, never heard) and the shutdown countdown with a recording power service.
#include "ui/PreviewWindow.h"
#include "ui/Widgets.h"

#include "RunSupport.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>

namespace cw::test {
namespace {

class ProgressPageTest : public TRunFixture {};

TEST_F(ProgressPageTest, TwoFilesRunFromTheListToTheSummaryWithItemsTimesSoundAndOutputs) {
    Make(false);
    TFixtureParams params;
    params.Seconds = 2;
    const std::string clip = Write(fkAviMpeg4Mp3, "clip.avi", params);
    const std::string tone = Write(fkWavPcm, "tone.wav", params);
    // An output of the first file's name exists already: the run takes the next free name.
    fs::create_directories(Out);
    std::ofstream(Out + "clip.mp3") << "kept";
    F->Vars.PlayASoundWhenFinished = true;
    TRecordingPower power;

    StartRun({clip, tone}, ocAudio, "MP3", 1);
    TWindowInFront elsewhere;
    ASSERT_TRUE(elsewhere.Active);
    EXPECT_TRUE(Main().CheckBoxPlayASound->isChecked());
    // The Preview box is the encoder's property.
    Main().CheckBoxPreview->setChecked(true);
    EXPECT_TRUE(Main().Encoder()->Preview());
    Main().CheckBoxPreview->setChecked(false);
    EXPECT_FALSE(Main().Encoder()->Preview());
    ASSERT_TRUE(WaitForSummary());

    EXPECT_EQ(Summary(), "2/2/0");
    EXPECT_EQ(power.SleepCalls,
              (std::vector<std::string>{"take Converting files", "release"}));
    EXPECT_EQ(power.HeldLocks, 0);
    // The user works in another window: the desktop tells how the run ended.
    EXPECT_EQ(F->Notifier.Shown,
              std::vector<std::string>{"Clipwright | 2 files converted | " + Out});
    EXPECT_TRUE(Main().MemoErrorLog->isHidden());
    EXPECT_EQ(Sound.Played, (std::vector<std::string>{Main().ProgramFolder() + "sounds/done.wav"}));
    EXPECT_EQ(LogLines("File has been added to convert list."), 2);
    EXPECT_EQ(Main().Encoder()->CodecThreads, 0);
    EXPECT_FALSE(Main().Encoder()->Working());
    EXPECT_EQ(Main().Encoder()->TasksCount(), 0);

    // The progress list: per-file columns, both items finished.
    EXPECT_EQ(Header(2), "Status");
    EXPECT_EQ(Header(3), "Progress");
    EXPECT_EQ(Main().LabelCurrentFileTitle->text(), "Current file:");
    ASSERT_EQ(Main().ProgressList->rowCount(), 2);
    EXPECT_EQ(Cell(0, 0), "clip.avi");
    EXPECT_EQ(Cell(1, 0), "tone.wav");
    EXPECT_TRUE(Cell(0, 1).startsWith("00:00:02.")) << Cell(0, 1).toStdString();
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 2), "Finish.");
        EXPECT_EQ(Cell(row, 3), "100%");
        EXPECT_EQ(Cell(row, 4).toStdString(), fs::path(clip).parent_path().string());
    }
    // After the run the status group is back at rest.
    EXPECT_EQ(Main().LabelCurrentFile->text(), "...");
    EXPECT_EQ(Main().ProgressBar->value(), 0);
    EXPECT_EQ(Main().LabelProgress->text(), "0%");
    EXPECT_TRUE(Main().LabelElapsed->text().contains(QRegularExpression("^\\d+:\\d\\d:\\d\\d$")));

    // The outputs: a new name beside the existing file, which is untouched.
    EXPECT_EQ(OutputDuration(Out + "clip.mp3"), -1);
    EXPECT_GT(OutputDuration(Out + "clip(1).mp3"), 1'800'000);
    EXPECT_GT(OutputDuration(Out + "tone.mp3"), 1'800'000);

    // Open folder shows the output folder; Finish empties both lists and starts again.
    Main().LabelOpenFolder->Clicked();
    EXPECT_EQ(F->Desktop.Opened, (std::vector<std::string>{Out}));
    Main().ActionNext->trigger();
    EXPECT_EQ(Main().ActivePage(), FirstPage(false));
    EXPECT_EQ(Main().ProgressList->rowCount(), 0);
    EXPECT_EQ(Main().InputList->RowCount(), 0);
}

TEST_F(ProgressPageTest, AFileThatFailsInTheRunIsListedCountedAndSoundsTheFailure) {
    Make(false);
    TFixtureParams params;
    params.Seconds = 1;
    const std::string clip = Write(fkAviMpeg4Mp3, "clip.avi", params);
    // Its only stream is of a codec the libraries cannot decode: no MP3 can come of it.
    const std::string odd = Write(fkMkvNoDecoder, "odd.mkv", params);
    const std::string gone = Write(fkWavPcm, "gone.wav", params);
    F->Vars.PlayASoundWhenFinished = true;
    TFailedDialogWatcher watcher;
    Main().ActivatePage(wpStep1);
    Main().AddFiles({clip, odd, gone});
    ASSERT_EQ(Main().InputList->RowCount(), 3);
    // A listed file that disappears before the run is logged and counted as failed.
    fs::remove(gone);
    Main().ActionNext->trigger();
    const int mp3 = FindFormatByName(ocAudio, "MP3")->Index;
    Main().SelectOutputClass(ocAudio);
    Main().SelectOutputFormat(ocAudio, mp3);
    Main().EditOutputDir->setText(QString::fromStdString(Out));
    Main().ActionNext->trigger();
    ASSERT_TRUE(WaitForSummary());

    EXPECT_EQ(LogLines("File load error: "), 1);
    const int added = LogLines("File has been added to convert list.");
    EXPECT_EQ(Sound.Played, (std::vector<std::string>{Main().ProgramFolder() + "sounds/fail.wav"}));
    EXPECT_FALSE(fs::exists(Out + "odd.mp3")) << "no output without media is left behind";
    EXPECT_TRUE(fs::exists(Out + "clip.mp3"));
    // The undecodable file is taken into the run and refused only when it runs: the item
    // says so and the error line names task 1.
    ASSERT_EQ(added, 2);
    EXPECT_EQ(Summary(), "3/1/2");
    EXPECT_EQ(Cell(0, 2), "Finish.");
    EXPECT_EQ(Cell(1, 2), "Failed.");
    EXPECT_FALSE(Main().MemoErrorLog->isHidden());
    const QString memo = Main().MemoErrorLog->toPlainText();
    EXPECT_TRUE(memo.startsWith("File (gone.wav): File load error: ")) << memo.toStdString();
    EXPECT_TRUE(memo.contains("\nFile (1): ")) << memo.toStdString();
    EXPECT_TRUE(watcher.Dialogs.empty());
}

TEST_F(ProgressPageTest, AnOutputFolderWhereNothingCanBeWrittenShowsTheFileAsFailed) {
    Make(false);
    const std::string tone = Write(fkWavPcm, "tone.wav");
    F->Vars.PlayASoundWhenFinished = true;
    Out = "/proc/";
    StartRun({tone}, ocAudio, "MP3", 0);
    ASSERT_TRUE(WaitForSummary());
    EXPECT_EQ(Summary(), "1/0/1");
    EXPECT_EQ(LogLines("Cannot do convert, error: "), 1);
    EXPECT_TRUE(Main().MemoErrorLog->toPlainText().startsWith(
        "File (tone.wav): Cannot do convert, error: "))
        << Main().MemoErrorLog->toPlainText().toStdString();
    EXPECT_EQ(Sound.Played, (std::vector<std::string>{Main().ProgramFolder() + "sounds/fail.wav"}));
}

TEST_F(ProgressPageTest, TheJoinEditionJoinsEveryFileIntoOneOutputAndMayPowerOffAfterwards) {
    Make(true);
    TFixtureParams small;
    small.Seconds = 2;
    TFixtureParams large = small;
    large.Seconds = 1;
    large.Width = 320;
    large.Height = 240;
    const std::string a = Write(fkAviMpeg4Mp3, "a.avi", small);
    const std::string b = Write(fkAviMpeg4Mp3, "b.avi", large);
    const std::string c = Write(fkAviMpeg4Mp3, "c.avi", small);
    fs::create_directories(Out);
    std::ofstream(Out + "Output_Merge.avi") << "kept";
    F->Vars.PlayASoundWhenFinished = true;
    F->Vars.ShutDownWhenFinished = true;
    TRecordingPower power;
    // The countdown runs out (its OK) as soon as it shows.
    int countdowns = 0;
    QTimer countdown;
    countdown.setInterval(5);
    QObject::connect(&countdown, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<TFormShutdown*>(QApplication::activeModalWidget())) {
            ++countdowns;
            dialog->accept();
        }
    });
    countdown.start();

    StartRun({a, b, c}, ocVideo, "AVI", 0);
    EXPECT_TRUE(Main().CheckBoxShutdown->isChecked());
    ASSERT_TRUE(WaitForSummary());

    EXPECT_EQ(Summary(), "1/1/0");
    EXPECT_EQ(Header(2), "Width x Height");
    EXPECT_EQ(Header(3), "Aspect Ratio");
    EXPECT_EQ(Main().LabelCurrentFileTitle->text(), "Output file:");
    ASSERT_EQ(Main().ProgressList->rowCount(), 3);
    const std::string merged = Out + "Output_Merge(1).avi";
    EXPECT_EQ(Cell(0, 0), "a.avi");
    EXPECT_EQ(Cell(1, 0), "b.avi");
    EXPECT_TRUE(Cell(1, 1).startsWith("00:00:01.")) << Cell(1, 1).toStdString();
    // The first file's cells carry the task's end; the others keep their size and shape.
    EXPECT_EQ(Cell(0, 2), "Finish.");
    EXPECT_EQ(Cell(0, 3), "100%");
    EXPECT_EQ(Cell(1, 2), "320x240");
    EXPECT_EQ(Cell(1, 3), "1.33333");
    EXPECT_EQ(Cell(2, 4).toStdString(), merged);
    // One output holding all five seconds, in list order; the older file is kept.
    const int64_t duration = OutputDuration(merged);
    EXPECT_GT(duration, 4'500'000);
    EXPECT_LT(duration, 5'500'000);
    EXPECT_FALSE(fs::exists(Out + "Output_Merge(2).avi"));
    EXPECT_EQ(OutputDuration(Out + "Output_Merge.avi"), -1);
    // End sound first, then the countdown, then the power-off.
    EXPECT_EQ(Sound.Played, (std::vector<std::string>{Main().ProgramFolder() + "sounds/done.wav"}));
    EXPECT_EQ(countdowns, 1);
    EXPECT_EQ(power.Requests, (std::vector<TPowerAction>{TPowerAction::ShutdownPowerOff}));
}

TEST_F(ProgressPageTest, CancelDuringTheSecondFileCountsItAsFailedAndShowsTheSummary) {
    Make(false);
    TFixtureParams shortClip;
    shortClip.Seconds = 1;
    TFixtureParams longClip;
    longClip.Seconds = 20;
    longClip.Width = 320;
    longClip.Height = 240;
    longClip.FrameRateNum = 25;
    const std::string first = Write(fkAviMpeg4Mp3, "first.avi", shortClip);
    const std::string second = Write(fkAviMpeg4Mp3, "second.avi", longClip);
    F->Vars.PlayASoundWhenFinished = true;
    // Cancelling means the user is there: no countdown, no power-off.
    F->Vars.ShutDownWhenFinished = true;
    TRecordingPower power;
    int countdowns = 0;
    QTimer countdown;
    countdown.setInterval(5);
    QObject::connect(&countdown, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<TFormShutdown*>(QApplication::activeModalWidget())) {
            ++countdowns;
            dialog->reject();
        }
    });
    countdown.start();

    InstallQtPreviewer();
    StartRun({first, second}, ocVideo, "MP4", 3);
    ASSERT_TRUE(ProcessUntil([&] { return Cell(0, 2) == "Finish."; }, 60000));
    ASSERT_EQ(Main().ActivePage(), wpStep3) << "the second file finished before the cancel";
    // Preview switched on during the run: the running task shows the pictures it encodes
    // (640 x 420 for this preset) in a window captioned with the frame time.
    Main().CheckBoxPreview->setChecked(true);
    TPreviewWindow* preview = nullptr;
    EXPECT_TRUE(ProcessUntil(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* p = qobject_cast<TPreviewWindow*>(w); p && p->isVisible())
                    preview = p;
            return preview != nullptr;
        },
        20000));
    if (preview) {
        EXPECT_EQ(preview->Frame().size(), QSize(640, 420));
        EXPECT_FALSE(preview->windowTitle().isEmpty());
    }
    ASSERT_EQ(Main().ActivePage(), wpStep3) << "the second file finished before the cancel";
    EXPECT_EQ(power.HeldLocks, 1);
    TWindowInFront elsewhere;
    F->Desktop.Answers.push_back(mrYes);
    Main().ActionExit->trigger();
    EXPECT_EQ(F->Desktop.Messages.back().Message, "Do you really want to cancel the conversion?");
    ASSERT_TRUE(WaitForSummary(30000));

    EXPECT_EQ(Summary(), "2/1/1");
    EXPECT_EQ(Cell(0, 2), "Finish.");
    EXPECT_EQ(Cell(1, 2), "Failed.");
    EXPECT_EQ(Sound.Played, (std::vector<std::string>{Main().ProgramFolder() + "sounds/fail.wav"}));
    EXPECT_EQ(countdowns, 0);
    EXPECT_TRUE(power.Requests.empty());
    // The cancelled run gave its sleep lock back, and still tells the desktop how it ended.
    EXPECT_EQ(power.SleepCalls,
              (std::vector<std::string>{"take Converting files", "release"}));
    EXPECT_EQ(F->Notifier.Shown,
              std::vector<std::string>{"Clipwright | 1 file converted, 1 failed | " + Out});
    EXPECT_FALSE(Main().Encoder()->Working());
    EXPECT_EQ(Main().Encoder()->TasksCount(), 0);
    SetPreviewerFactory(nullptr);
    EXPECT_GT(OutputDuration(Out + "first.mp4"), 800'000);
    // The stopped output is either finished and playable or gone: never an empty shell.
    if (fs::exists(Out + "second.mp4")) {
        const int64_t partial = OutputDuration(Out + "second.mp4");
        EXPECT_GT(partial, 0);
        EXPECT_LT(partial, 19'000'000);
    }
}

} // namespace
} // namespace cw::test
