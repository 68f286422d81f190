// The conversion pages of the window on real generated media: the input list (probing,
// thumbnails, failed files, drops, list commands and row dragging) and the output page.
#include "convert/Catalogue.h"
#include "convert/InputList.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "ui/FormFailedAddFile.h"
#include "ui/InputListPage.h"
#include "ui/OutputPage.h"
#include "ui/PreviewWindow.h"
#include "ui/Widgets.h"

#include "convert/InputListModel.h"
#include "FormSupport.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>
#include <thread>

namespace cw::test {
namespace {

class ConversionPages : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
        Form = std::make_unique<TFormFixture>(BrandingText("Clipwright", false, false));
        ASSERT_TRUE(Form->Form->LibrariesLoaded());
    }
    TFormMain& Main() { return *Form->Form; }
    TInputListPage& List() { return *Main().InputList; }
    std::string Cell(int row, int cell) { return List().CellText(row, cell); }
    std::string Write(TFixtureKind kind, const std::string& name, TFixtureParams params = {}) {
        const std::string path = Media.Path + name;
        WriteFixture(kind, path, params);
        return path;
    }
    int LogLinesStartingWith(const QString& prefix) {
        int n = 0;
        for (const QString& line : Form->Log->Lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    TTempDir Media;
    std::unique_ptr<TFormFixture> Form;
};

TEST_F(ConversionPages, AnAudioAndAVideoFileInOneBatchShowTheirOwnFormsOfTheCardLines) {
    const std::string audio = Write(fkMp3, "tone.mp3");
    TFixtureParams params;
    params.Seconds = 4;
    const std::string video = Write(fkAviMpeg4Mp3, "clip.avi", params);
    TFailedDialogWatcher watcher;
    Main().AddFiles({audio, video});

    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_TRUE(watcher.Dialogs.empty());
    EXPECT_EQ(Cell(0, icFileFullName), audio);
    EXPECT_EQ(Cell(1, icFileFullName), video);
    EXPECT_EQ(Cell(0, icBitrate), "Audio Bit rate: 128 Kbps");
    EXPECT_EQ(Cell(0, icDimension).rfind("Audio Encoder: mp3", 0), 0u) << Cell(0, icDimension);
    EXPECT_EQ(Cell(1, icBitrate).rfind("Bit rate: ", 0), 0u) << Cell(1, icBitrate);
    EXPECT_EQ(Cell(1, icDimension), "Dimension: 160 x 120");
    EXPECT_EQ(Cell(1, icDuration).rfind("Duration: 00:00:0", 0), 0u) << Cell(1, icDuration);
    EXPECT_EQ(Cell(1, icWidth), "160");
    EXPECT_EQ(Cell(1, icHeight), "120");
    EXPECT_EQ(Cell(1, icFrameRate), "Frame rate: 10.000000");
    EXPECT_EQ(Cell(1, icAudioSampleRate), "Sample rate: 44100 Hz");
    // Cell 13 holds the duration in microseconds: about four seconds.
    const long long us = std::stoll(Cell(1, icRealDuration));
    EXPECT_GT(us, 3'500'000);
    EXPECT_LT(us, 4'500'000);

    // The video's thumbnail is its middle picture (second 2), scaled into 128 x 88 keeping
    // its 4:3 shape; the audio file shows the audio icon.
    ASSERT_EQ(Main().ThumbnailList.size(), 2u);
    const QImage thumb = Main().ThumbnailList[1].toImage();
    EXPECT_EQ(thumb.size(), QSize(117, 88));
    const QColor c = thumb.pixelColor(thumb.width() / 2, thumb.height() / 2);
    const TRgb expected = FixtureColour(2);
    EXPECT_TRUE(ColourNear({c.red(), c.green(), c.blue()}, expected))
        << c.red() << "," << c.green() << "," << c.blue();
    EXPECT_FALSE(Main().ThumbnailList[0].isNull());
    EXPECT_EQ(Main().ThumbnailList[0].toImage(),
              Main()
                  .ImageAudioIcon->pixmap()
                  .scaled(128, 88, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                  .toImage());
}

TEST_F(ConversionPages, AFileThatCannotBeOpenedIsLoggedAndListedOnceAfterTheBatch) {
    const std::string first = Write(fkWavPcm, "first.wav");
    const std::string broken = Media.Path + "broken.avi";
    std::ofstream(broken) << "this is not a media file at all";
    const std::string third = Write(fkFlac, "third.flac");
    TFailedDialogWatcher watcher;
    Main().AddFiles({first, broken, third});

    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(Cell(0, icFileFullName), first);
    EXPECT_EQ(Cell(1, icFileFullName), third);
    EXPECT_EQ(LogLinesStartingWith("File load error: " + QString::fromStdString(broken)), 1);
    ASSERT_EQ(watcher.Dialogs.size(), 1u);
    ASSERT_EQ(watcher.Dialogs[0].size(), 1u);
    EXPECT_EQ(watcher.Dialogs[0][0].rfind(broken, 0), 0u) << watcher.Dialogs[0][0];
    ASSERT_EQ(Form->Vars.FailedList.size(), 1u);

    // A file without duration: the duration line says so and cell 13 holds 0.
    Main().AddFiles({Write(fkFlacStreamed, "streamed.flac")});
    ASSERT_EQ(List().RowCount(), 3);
    EXPECT_EQ(Cell(2, icDuration), "Duration: Duration is not preseted");
    EXPECT_EQ(Cell(2, icRealDuration), "0");
    EXPECT_TRUE(Form->Vars.FailedList.empty());
    EXPECT_EQ(watcher.Dialogs.size(), 1u);
}

TEST_F(ConversionPages, DroppingAFolderATextAndAnUpperCaseMkvAddsOnlyTheMkv) {
    const std::string folder = Media.Path + "folder.avi";
    std::filesystem::create_directory(folder);
    const std::string text = Media.Path + "notes.txt";
    std::ofstream(text) << "notes";
    const std::string mkv = Write(fkMkvTwoAudio, "movie.MKV");
    // A path of any length is taken.
    const std::string deep = Media.Path + std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
    std::filesystem::create_directories(deep);
    const std::string longPath = deep + "a tone with a long name.wav";
    WriteFixture(fkWavPcm, longPath);
    ASSERT_GT(longPath.size(), 255u);
    Main().DropFiles({folder, text, mkv, longPath});
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(Cell(0, icFileFullName), mkv);
    EXPECT_EQ(Cell(1, icFileFullName), longPath);
    EXPECT_TRUE(Form->Desktop.Messages.empty());
    EXPECT_TRUE(Form->Vars.FailedList.empty());
}

TEST_F(ConversionPages, WhileABatchIsProbedNextWaitsAndNoRowArrivesAfterTheUserMovesOn) {
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i)
        files.push_back(Write(fkWavPcm, "tone" + std::to_string(i) + ".wav"));
    const std::string broken = Media.Path + "broken.avi";
    std::ofstream(broken) << "not media";
    files.push_back(broken);

    // Runs act once, as soon as the batch is being probed.
    auto duringBatch = [](TFormMain& form, std::function<void()> act) {
        auto* timer = new QTimer(&form);
        timer->setInterval(1);
        QObject::connect(timer, &QTimer::timeout, [timer, &form, act] {
            if (!form.InputList->Adding())
                return;
            timer->stop();
            timer->deleteLater();
            act();
        });
        timer->start();
    };
    // Next during the batch does nothing; once the batch is done it leads on.
    bool nextEnabledDuring = true;
    duringBatch(Main(), [&] {
        nextEnabledDuring = Main().ActionNext->isEnabled();
        Main().ActionNext->trigger();
    });
    TFailedDialogWatcher watcher;
    Main().AddFiles(files);
    EXPECT_FALSE(nextEnabledDuring);
    EXPECT_EQ(Main().ActivePage(), wpStep1);
    EXPECT_EQ(List().RowCount(), 4);
    EXPECT_EQ(watcher.Dialogs.size(), 1u); // told on Step1, where the files were added
    EXPECT_TRUE(Main().ActionNext->isEnabled());

    // Cancelled during the batch: the list stays empty and nothing is told afterwards.
    Form.reset();
    Form = std::make_unique<TFormFixture>(BrandingText("Clipwright", true, false));
    TFormMain& form = Main();
    form.ActivatePage(wpStep1);
    form.UpdatePageTexts();
    duringBatch(form, [&] {
        Form->Desktop.Answers.push_back(mrYes);
        form.ActionBack->trigger(); // "Are you sure to cancel and go back?"
    });
    form.AddFiles(files);
    ProcessPending();
    EXPECT_EQ(form.ActivePage(), wpMode);
    EXPECT_EQ(form.InputRows->rowCount(), 0);
    EXPECT_EQ(watcher.Dialogs.size(), 1u);
}

TEST_F(ConversionPages, TheListKeysActOnlyWhileStepOneIsShown) {
    const std::string tone = Write(fkWavPcm, "tone.wav");
    Main().AddFiles({tone, tone});
    TFormMain& form = Main();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    int dialogs = 0;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (form.OpenDialog->isVisible()) {
            ++dialogs;
            form.OpenDialog->reject();
        }
    });
    closer.start();
    auto keys = [&](QWidget* target) {
        List().SelectRow(0);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Delete);
        QTest::keyClick(target, Qt::Key_P, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_O, Qt::ControlModifier);
        ProcessUntil([&] { return false; }, 100);
    };
    // On Step2 the keys belong to the folder box: the list keeps its rows, nothing opens.
    form.ActionNext->trigger();
    ASSERT_EQ(form.ActivePage(), wpStep2);
    form.EditOutputDir->setText("/tmp/out");
    form.EditOutputDir->setCursorPosition(0);
    keys(form.EditOutputDir);
    EXPECT_EQ(List().RowCount(), 2);
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(Form->Desktop.Opened.empty());
    EXPECT_EQ(form.EditOutputDir->text(), "tmp/out");
    // On Step1 the same keys delete, play and add.
    form.ActionBack->trigger();
    keys(form.NextGrid);
    EXPECT_EQ(List().RowCount(), 1);
    EXPECT_EQ(Form->Desktop.Opened, std::vector<std::string>{tone});
    EXPECT_EQ(dialogs, 1);
}

TEST_F(ConversionPages, ListCommandsFollowTheSelectionAndRowsMoveByCommandAndByDragging) {
    const std::string a = Write(fkWavPcm, "a.wav");
    const std::string b = Write(fkMp3, "b.mp3");
    const std::string c = Write(fkFlac, "c.flac");
    Main().AddFiles({a, b, c});
    ASSERT_EQ(List().RowCount(), 3);
    auto paths = [&] {
        std::vector<std::string> p;
        for (int r = 0; r < List().RowCount(); ++r)
            p.push_back(Cell(r, icFileFullName));
        return p;
    };

    Main().NextGrid->clearSelection();
    Main().ActionListUpdate();
    EXPECT_FALSE(Main().ActionDelete->isEnabled());
    EXPECT_FALSE(Main().ActionPlay->isEnabled());
    EXPECT_TRUE(Main().ActionClear->isEnabled());

    List().SelectRow(0);
    Main().ActionListUpdate();
    EXPECT_FALSE(Main().ActionMoveUp->isEnabled());
    EXPECT_TRUE(Main().ActionMoveDown->isEnabled());
    List().ActionMoveUpExecute();
    EXPECT_EQ(paths(), (std::vector<std::string>{a, b, c}));

    List().SelectRow(2);
    Main().ActionListUpdate();
    EXPECT_FALSE(Main().ActionMoveDown->isEnabled());
    List().ActionMoveDownExecute();
    EXPECT_EQ(paths(), (std::vector<std::string>{a, b, c}));

    Main().ActionMoveUp->trigger();
    EXPECT_EQ(paths(), (std::vector<std::string>{a, c, b}));
    EXPECT_EQ(List().SelectedRow(), 1);
    Main().ActionMoveDown->trigger();
    EXPECT_EQ(paths(), (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(List().SelectedRow(), 2);

    // Dragging the first card onto the last moves it there with all its cells.
    Main().show();
    ProcessPending();
    QWidget* viewport = Main().NextGrid->viewport();
    const QPoint from(200, Main().NextGrid->rowViewportPosition(0) + 40);
    const QPoint to(200, Main().NextGrid->rowViewportPosition(2) + 40);
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    EXPECT_EQ(paths(), (std::vector<std::string>{b, c, a}));
    EXPECT_EQ(Cell(2, icAudioSampleRate), "Sample rate: 22050 Hz");
    EXPECT_EQ(List().SelectedRow(), 2);

    // Play and double-click open the selected file with the desktop's handler.
    Main().ActionPlay->trigger();
    ASSERT_EQ(Form->Desktop.Opened.size(), 1u);
    EXPECT_EQ(Form->Desktop.Opened[0], a);

    // Delete on the last row selects the new last row.
    List().ActionDeleteExecute();
    EXPECT_EQ(paths(), (std::vector<std::string>{b, c}));
    EXPECT_EQ(List().SelectedRow(), 1);
    List().SelectRow(0);
    List().ActionDeleteExecute();
    EXPECT_EQ(paths(), (std::vector<std::string>{c}));
    EXPECT_EQ(List().SelectedRow(), 0);

    Main().ActionClear->setEnabled(true);
    List().ActionClearExecute();
    EXPECT_EQ(List().RowCount(), 0);
    Main().ActionListUpdate();
    EXPECT_FALSE(Main().ActionClear->isEnabled());
}

TEST(OutputPageTest, ListsShowTheStoredPresetsAndTheChosenFormatsListIsInFront) {
    TFormFixture f(BrandingText("Clipwright", false, false));
    TFormMain& form = *f.Form;
    TOutputPage& page = *form.OutputPage;
    form.PrepareOutputPage();
    auto shown = [&](int c) {
        return qobject_cast<QComboBox*>(page.PresetLists[size_t(c)]->currentWidget());
    };
    EXPECT_EQ(form.RzPageControlToFormat->currentIndex(), 0);
    EXPECT_EQ(shown(0)->objectName(), "ComboBoxPresetAVI");
    EXPECT_EQ(shown(0)->currentText(),
              "Video: MPEG4 (DivX, XviD), 1500 kbps, Original; Audio: MP3, 192 kbps");
    EXPECT_EQ(shown(1)->objectName(), "ComboBoxPresetiPod");
    EXPECT_EQ(shown(1)->currentIndex(), 5);
    EXPECT_EQ(shown(2)->currentText(), "HiFi Quality - PCM: 48000Hz, Stereo, 32 bits");
    EXPECT_EQ(page.ComboBoxPreset[0][6]->currentText(), "Windows Media Video 9 Standard Quality");
    EXPECT_EQ(page.ComboBoxPreset[2][6]->currentText(), "Compression Level 5 (Default)");
    EXPECT_EQ(page.ComboBoxPreset[0][0]->count(), 29);
    EXPECT_EQ(page.ComboBoxPreset[0][0]->maxVisibleItems(), 10);

    // MP3 on the audio panel leaves the video class active until its class button is used.
    form.ButtonFormat[2][1]->click();
    EXPECT_EQ(shown(2)->objectName(), "ComboBoxPresetMP3");
    EXPECT_EQ(OutputExtension(f.Vars), ".avi");
    form.ButtonToFormat[2]->click();
    EXPECT_EQ(OutputExtension(f.Vars), ".mp3");
    EXPECT_EQ(form.RzPageControlToFormat->currentIndex(), 2);

    // A preset changed and left backwards is shown as stored; left forward it is taken.
    shown(2)->setCurrentIndex(0);
    form.ReadOutputPage();
    EXPECT_EQ(f.Vars.OutputMP3Preset, 0);
    shown(2)->setCurrentIndex(3);
    form.PrepareOutputPage();
    EXPECT_EQ(shown(2)->currentIndex(), 0);

    // A stored number outside its list leaves the list without an entry and is taken as -1.
    f.Vars.OutputAVIPreset = 99;
    form.PrepareOutputPage();
    EXPECT_EQ(page.ComboBoxPreset[0][0]->currentIndex(), -1);
    form.ReadOutputPage();
    EXPECT_EQ(f.Vars.OutputAVIPreset, -1);
}

TEST(OutputPageTest, TheForwardButtonReadsJoinNowInTheJoinEditionElseConvert) {
    for (bool merge : {true, false}) {
        TFormFixture f(BrandingText("Clipwright", false, merge));
        f.Form->ActivatePage(wpStep2);
        f.Form->UpdatePageTexts();
        EXPECT_EQ(f.Form->ActionNext->text(), merge ? "Join Now" : "Convert");
    }
}

TEST(PreviewWindowTest, ShowsFramesOnTopCaptionedWithTheirTimeUntilTheUserClosesIt) {
    TQtMainThreadDispatcher dispatcher;
    IMainThreadDispatcher* previous = SetMainThreadDispatcher(&dispatcher);
    {
        TBitmap bitmap;
        bitmap.SetBitsPixel(24);
        bitmap.SetSize(64, 48);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                uint8_t* px = bitmap.ScanLine(y) + 3 * x;
                px[0] = 200, px[1] = 10, px[2] = 20; // B, G, R
            }
        TQtPreviewer previewer;
        // From a worker thread, as a transcoding job calls it.
        bool shown = false;
        std::thread job([&] { shown = previewer.ShowFrame(bitmap, 1, 3'723'004'567); });
        ASSERT_TRUE(ProcessUntil([&] { return previewer.Window() != nullptr; }));
        job.join();
        EXPECT_TRUE(shown);
        TPreviewWindow* window = previewer.Window();
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(window->windowFlags() & Qt::Tool);
        EXPECT_EQ(window->size(), QSize(64, 48));
        EXPECT_EQ(window->windowTitle(), "01:02:03.004");
        EXPECT_EQ(window->Frame().pixelColor(5, 5), QColor(20, 10, 200));

        EXPECT_TRUE(previewer.ShowFrame(bitmap, 2, 0));
        EXPECT_EQ(window->windowTitle(), "00:00:00.000");
        window->close();
        EXPECT_FALSE(previewer.ShowFrame(bitmap, 3, 100'000));
        EXPECT_EQ(window->windowTitle(), "00:00:00.000");
    }
    SetMainThreadDispatcher(previous);
}

TEST(InputListTexts, BitRatesDurationsAndShortenedPaths) {
    EXPECT_EQ(InputBitRateText(1'500'000), "1500 Kbps");
    EXPECT_EQ(InputBitRateText(999), "0 Kbps");
    EXPECT_EQ(InputBitRateText(0), "Bit rate is not preseted");
    EXPECT_EQ(InputDurationText(-1), "Duration is not preseted");
    EXPECT_EQ(InputDurationText(205'120'000), "00:03:25.120");

    // A video stream of 0 bit/s: the prefix with the missing-rate text.
    TFileStreamInfo file;
    file.Duration = 2'400'000'000;
    TVideoStreamInfo video;
    video.BitRate = 0;
    video.Width = 640;
    video.Height = 480;
    video.FrameRateNum = 30000;
    video.FrameRateDen = 1001;
    TAudioStreamInfo audio;
    const TInputRow row = MakeInputRow("/v/a.mp4", 3 * 1048576 + 5, false, file, video, audio);
    EXPECT_EQ(row.Cells[icBitrate], "Bit rate: Bit rate is not preseted");
    EXPECT_EQ(row.Cells[icRealDuration], "2400000000");
    EXPECT_EQ(row.Cells[icFileSize], "File size: 3 M");
    EXPECT_EQ(row.Cells[icFrameRate], "Frame rate: 29.970030");

    // One pixel per character: folders give way to "..." from the front.
    auto width = [](const std::string& s) { return int(s.size()); };
    EXPECT_EQ(ShortenPath("/home/user/clip.mp4", 40, width), "/home/user/clip.mp4");
    EXPECT_EQ(ShortenPath("/home/user/videos/clip.mp4", 20, width), ".../videos/clip.mp4");
    EXPECT_EQ(ShortenPath("/home/user/videos/clip.mp4", 5, width), ".../clip.mp4");
    EXPECT_EQ(ShortenPath("clip.mp4", 3, width), "clip.mp4");
}

} // namespace
} // namespace cw::test
