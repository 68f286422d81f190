// The downloader's pages on the real window: pasting links with the not-a-link and duplicate
// boxes, removing, the folder picker, the quality dialog, and whole runs against the fake
// video service from Step5 to the summary on Step7, with cancel and the hand-over.
#include "ui/DownloadPages.h"
#include "download/Quality.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/FakeVideoService.h"
#include "ui/FormYouTubeHQ.h"
#include "download/QueueModel.h"
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include "convert/InputListModel.h"
#include "FormSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <set>

using namespace cw;
using namespace cw::test;

namespace {

class DownloadPagesTest : public ::testing::Test {
protected:
    DownloadPagesTest() {
        F = std::make_unique<TFormFixture>(
            BrandingText("Ed", true, false, 0, "VideoSiteDomain=" + Service.Domain() + "\r\n"));
        Pages().Queue().ScriptPause = std::chrono::milliseconds(0);
        // The built-in route alone, unless a test asks for the external resolver.
        Pages().Queue().ResolverMode = TResolverMode::rmBuiltin;
        Form().ActionNext->trigger(); // mode page, download chosen: Step5
    }
    TFormMain& Form() { return *F->Form; }
    TDownloadPages& Pages() { return *Form().Downloader; }
    TRecordingDesktop& Desktop() { return F->Desktop; }
    std::vector<std::string> Links() {
        std::vector<std::string> links;
        for (int i = 0; i < Form().ListViewInputURL->topLevelItemCount(); ++i)
            links.push_back(Form().ListViewInputURL->topLevelItem(i)->text(0).toStdString());
        return links;
    }
    std::vector<std::string> Messages() {
        std::vector<std::string> texts;
        for (const auto& m : Desktop().Messages)
            texts.push_back(m.Message);
        return texts;
    }
    std::string Link(const std::string& id) { return Service.WatchUrl(id); }
    std::string Label(QLabel* label) { return label->text().toStdString(); }
    void AddVideo(const std::string& id, const std::string& title, std::vector<int> itags,
                  TStreamFault fault = sfNone) {
        TFakeVideo v;
        v.Id = id;
        v.Title = title;
        for (int itag : itags) {
            TFakeStream s;
            s.Itag = itag;
            s.Body = title + "/" + std::to_string(itag);
            s.Fault = fault;
            if (fault == sfSlow) {
                s.Body.clear();
                s.GeneratedSize = 50 << 20;
            }
            v.Streams.push_back(s);
        }
        Service.AddVideo(v);
    }
    // Next on Step5 with the folder box set, then the run until Step7.
    bool Download(const std::string& folder) {
        Form().EditURLOutput->setText(QString::fromStdString(folder));
        Form().ActionNext->trigger();
        return ProcessUntil([&] { return Form().ActivePage() == wpStep7; }, 20000);
    }

    TFakeVideoService Service;
    std::unique_ptr<TFormFixture> F;
};

} // namespace

TEST_F(DownloadPagesTest, PastingReportsEachRefusedLineAndCancelStopsTheRest) {
    const std::string text = Link("a") + "\r\nnot a link\r\n" + Link("b") + "\r\n";
    Desktop().Answers = {mrOk};
    Pages().PasteText(text);
    EXPECT_EQ(Links(), (std::vector<std::string>{Link("a"), Link("b")}));
    ASSERT_EQ(Desktop().Messages.size(), 1u);
    EXPECT_EQ(Desktop().Messages[0].Message, "not a link\n\r\n\rThis is not a YouTube video link.");
    EXPECT_EQ(Desktop().Messages[0].Caption, "Ed");
    EXPECT_EQ(Desktop().Messages[0].Buttons, (std::vector<TMsgDlgButton>{mbOK, mbCancel}));

    // The same again: the first is now a duplicate; Cancel there stops the paste.
    Desktop().Answers = {mrCancel};
    Pages().PasteText(Link("a") + "\n" + Link("c"));
    EXPECT_EQ(Messages().back(), Link("a") + "\n\r\n\rThis video is already in the download list.");
    EXPECT_EQ(Links().size(), 2u);

    // The same link in other letters is a new one.
    std::string upper = Link("a");
    upper.replace(upper.find("watch"), 5, "WATCH");
    Pages().PasteText(upper);
    EXPECT_EQ(Links().back(), upper);
}

TEST_F(DownloadPagesTest, PasteTakesTheClipboardText) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(Link("x") + "\n" + Link("y")));
    ASSERT_TRUE(ProcessUntil([&] { return Form().ActionURLPaste->isEnabled(); }));
    Form().ButtonURLPaste->click();
    EXPECT_EQ(Links(), (std::vector<std::string>{Link("x"), Link("y")}));
    EXPECT_TRUE(Form().ActionURLEmpty->isEnabled());
    Form().ButtonURLEmpty->click();
    EXPECT_TRUE(Links().empty());

    // Ctrl+V on the page does the same; in the folder box it is the box's own paste.
    Form().show();
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    QTest::keyClick(Form().ListViewInputURL, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Links(), (std::vector<std::string>{Link("x"), Link("y")}));
    QGuiApplication::clipboard()->setText("folder");
    Form().EditURLOutput->clear();
    Form().EditURLOutput->setFocus();
    QTest::keyClick(Form().EditURLOutput, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Form().EditURLOutput->text().toStdString(), "folder");
    EXPECT_EQ(Links().size(), 2u);
}

TEST_F(DownloadPagesTest, RemoveSelectsTheItemThatTookThePlace) {
    for (const char* id : {"1", "2", "3", "4", "5"})
        Pages().AddLink(Link(id));
    QTreeWidget* list = Form().ListViewInputURL;
    list->setCurrentItem(list->topLevelItem(4));
    Form().ActionURLRemove->trigger();
    ASSERT_EQ(Links().size(), 4u);
    EXPECT_EQ(list->currentItem()->text(0).toStdString(), Link("4"));
    EXPECT_TRUE(list->currentItem()->isSelected());

    list->setCurrentItem(list->topLevelItem(1));
    Form().ActionURLRemove->trigger();
    EXPECT_EQ(Links(), (std::vector<std::string>{Link("1"), Link("3"), Link("4")}));
    EXPECT_EQ(list->currentItem()->text(0).toStdString(), Link("3"));

    list->clearSelection();
    Form().ActionListURLUpdate();
    EXPECT_FALSE(Form().ActionURLRemove->isEnabled());
}

TEST_F(DownloadPagesTest, DoubleClickOpensTheLinkAndSelectPicksTheFolder) {
    Pages().AddLink(Link("a"));
    emit Form().ListViewInputURL->itemDoubleClicked(Form().ListViewInputURL->topLevelItem(0), 0);
    EXPECT_EQ(Desktop().Opened, std::vector<std::string>{Link("a")});

    Desktop().FolderAnswer = "/media/videos";
    Form().ButtonURLSelect->click();
    EXPECT_EQ(Desktop().FolderTitles, std::vector<std::string>{"Please select a folder"});
    EXPECT_EQ(Form().EditURLOutput->text(), "/media/videos/");
    EXPECT_EQ(F->Vars.OutputURLDir, "/media/videos/");
}

TEST_F(DownloadPagesTest, TheQualityBoxAndTheDialogKeepThePreference) {
    Form().CheckBoxYouTubeQuality->setChecked(false);
    EXPECT_FALSE(Form().ButtonYouTubeQualityConfig->isEnabled());
    EXPECT_EQ(Label(Form().LabelYouTubeQuality), DefaultQualityDescription);
    Form().CheckBoxYouTubeQuality->setChecked(true);
    EXPECT_TRUE(Form().ButtonYouTubeQualityConfig->isEnabled());
    const std::string defaultSummary =
        "Prefer: [HQ18] > [HQ35] > [HQ22] > [HQ6] > [HQ13] > [HQ17] > [HQ34] > [HQ37]";
    EXPECT_EQ(Label(Form().LabelYouTubeQuality), defaultSummary);

    // Up on the first row and Down on the last change nothing; Down on the first moves it.
    std::vector<std::string> rows;
    QPoint placed;
    QTimer::singleShot(0, [&] {
        auto* dialog = Form().findChild<TFormYouTubeHQ*>();
        ASSERT_TRUE(dialog);
        placed = dialog->pos() - Form().pos();
        QTreeWidget* list = dialog->ListViewYouTubeHQ;
        list->setCurrentItem(list->topLevelItem(0));
        dialog->ButtonUp->click();
        list->setCurrentItem(list->topLevelItem(7));
        dialog->ButtonDown->click();
        list->setCurrentItem(list->topLevelItem(0));
        dialog->ButtonDown->click();
        EXPECT_EQ(list->currentItem()->text(0), "[HQ18]");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows.push_back(list->topLevelItem(i)->text(0).toStdString());
        EXPECT_EQ(list->topLevelItem(3)->text(2), "480 x 36");
        dialog->ButtonOK->click();
    });
    Form().ButtonYouTubeQualityConfig->click();
    EXPECT_EQ(rows, (std::vector<std::string>{"[HQ35]", "[HQ18]", "[HQ22]", "[HQ6]", "[HQ13]",
                                              "[HQ17]", "[HQ34]", "[HQ37]"}));
    EXPECT_EQ(PreferenceOrder(F->Vars), (TPreferenceOrder{2, 1, 3, 0, 4, 5, 6, 7}));
    EXPECT_EQ(Label(Form().LabelYouTubeQuality),
              "Prefer: [HQ35] > [HQ18] > [HQ22] > [HQ6] > [HQ13] > [HQ17] > [HQ34] > [HQ37]");
    EXPECT_EQ(placed, QPoint((Form().width() - 560) / 2, (Form().height() - 256) / 2));

    // Best Available, then Cancel: the order is changed all the same, the label is not.
    QTimer::singleShot(0, [&] {
        auto* dialog = Form().findChild<TFormYouTubeHQ*>();
        ASSERT_TRUE(dialog);
        dialog->ButtonBestAvailable->click();
        dialog->ButtonCancel->click();
    });
    Form().ButtonYouTubeQualityConfig->click();
    EXPECT_EQ(PreferenceOrder(F->Vars), BestAvailablePreferenceOrder);
    EXPECT_EQ(Label(Form().LabelYouTubeQuality),
              "Prefer: [HQ35] > [HQ18] > [HQ22] > [HQ6] > [HQ13] > [HQ17] > [HQ34] > [HQ37]");
    Form().PrepareDownloadPage(); // the next refresh shows it
    EXPECT_EQ(Label(Form().LabelYouTubeQuality),
              "Prefer: [HQ37] > [HQ22] > [HQ35] > [HQ18] > [HQ6] > [HQ34] > [HQ13] > [HQ17]");
}

TEST_F(DownloadPagesTest, ARunGoesFromTheLinksToTheSummary) {
    AddVideo("a", "Clip: one?", {5, 18});
    AddVideo("b", "Nothing", {});
    AddVideo("c", "Clip: one?", {5, 18});
    for (const char* id : {"a", "b", "c"})
        Pages().AddLink(Link(id));
    Form().CheckBoxYouTubeQuality->setChecked(true);
    const std::string folder = F->Home.Folder.Path + "videos";
    TRecordingPower power;
    TWindowInFront elsewhere;
    ASSERT_TRUE(elsewhere.Active);
    // The queue table shows the controller's rows, in the columns the window laid out.
    ASSERT_EQ(Form().ListViewURLDownload->model(), Form().QueueList);
    EXPECT_EQ(Form().ListViewURLDownload->columnWidth(0), 160);
    EXPECT_EQ(Form().ListViewURLDownload->columnWidth(4), 60);
    int rowsSeen = 0;
    QObject::connect(Form().QueueList, &QAbstractItemModel::rowsInserted,
                     [&] { rowsSeen = std::max(rowsSeen, Form().QueueList->rowCount()); });
    ASSERT_TRUE(Download(folder));

    EXPECT_EQ(rowsSeen, 3); // the queue showed one row per link
    EXPECT_EQ(power.SleepCalls,
              (std::vector<std::string>{"take Downloading videos", "release"}));
    // The user works in another window: the desktop is told.
    EXPECT_EQ(F->Notifier.Shown,
              std::vector<std::string>{"Ed | 2 videos downloaded, 1 failed | " + folder + "/"});
    EXPECT_EQ(Label(Form().LabelURLTotalFiles), "3");
    EXPECT_EQ(Label(Form().LabelURLSucedded), "2");
    EXPECT_EQ(Label(Form().LabelURLFailed), "1");
    EXPECT_EQ(F->Vars.DownloadedFiles, (std::vector<std::string>{folder + "/Clip_ one_.mp4",
                                                                 folder + "/Clip_ one_(1).mp4"}));
    EXPECT_EQ(Form().LabelTitle->text(), "The downloading is finished.");
    EXPECT_EQ(Form().ListViewInputURL->topLevelItemCount(), 0);
    EXPECT_EQ(Form().QueueList->rowCount(), 0);
    for (QLabel* label : {Form().LabelURLCurrentFile, Form().LabelURLStatus, Form().LabelSpeed,
                          Form().LabelQuality})
        EXPECT_EQ(Label(label), "...");
    EXPECT_EQ(Label(Form().LabelProgressBarDownload), "0%");
    EXPECT_TRUE(Desktop().Messages.empty());
    const auto handled = [&](int m) { return std::count(F->Handled.begin(), F->Handled.end(), m); };
    EXPECT_EQ(handled(WM_FETCHVIDEOINFO), 3);
    EXPECT_EQ(handled(WM_TRYNEXTQUALITY), 8); // the second video's eight qualities

    Form().LabelURLOpenFolder->Clicked();
    EXPECT_EQ(Desktop().Opened, std::vector<std::string>{folder + "/"});
    Form().ActionNext->trigger(); // Finish
    EXPECT_EQ(Form().ActivePage(), wpMode);
}

TEST_F(DownloadPagesTest, CancelDuringTheSecondDownloadShowsTheSummary) {
    AddVideo("a", "First", {5});
    AddVideo("b", "Slow", {5}, sfSlow);
    AddVideo("c", "Third", {5});
    for (const char* id : {"a", "b", "c"})
        Pages().AddLink(Link(id));
    Form().CheckBoxYouTubeQuality->setChecked(false);
    Form().EditURLOutput->setText(QString::fromStdString(F->Home.Folder.Path + "v"));
    TRecordingPower power;
    Form().ActionNext->trigger();
    ASSERT_EQ(Form().ActivePage(), wpStep6);
    EXPECT_EQ(power.HeldLocks, 1);
    // The second video is coming in: the table and the status group show it.
    ASSERT_TRUE(ProcessUntil([&] {
        const TDownloadItem* row = Form().QueueList->Item(1);
        return row && row->Status == "Downloading...";
    }));
    const auto cell = [&](int row, int column) {
        return Form().QueueList->index(row, column).data().toString();
    };
    EXPECT_EQ(cell(0, TQueueModel::qcStatus), "Finish.");
    EXPECT_EQ(cell(1, TQueueModel::qcName), "Slow");
    EXPECT_EQ(Label(Form().LabelURLCurrentFile), "Slow");
    EXPECT_EQ(Label(Form().LabelQuality), DefaultQualityDescription);
    EXPECT_EQ(cell(1, TQueueModel::qcSize), "50.00MB");

    Desktop().Answers = {mrYes};
    Form().ActionExit->trigger();
    EXPECT_EQ(Messages().back(), "Do you really want to cancel the downloading?");
    ASSERT_TRUE(ProcessUntil([&] { return Form().ActivePage() == wpStep7; }));
    EXPECT_EQ(Label(Form().LabelURLTotalFiles), "3");
    EXPECT_EQ(Label(Form().LabelURLSucedded), "1");
    EXPECT_EQ(Label(Form().LabelURLFailed), "2");
    EXPECT_EQ(power.SleepCalls,
              (std::vector<std::string>{"take Downloading videos", "release"}));
    EXPECT_EQ(Service.StreamRequests("c", 5), 0);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(F->Home.Folder.Path + "v"))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"First.flv"});
}

TEST_F(DownloadPagesTest, InFrontTheWindowShowsTheEndItselfAndARefusedSleepLockIsOnlyLogged) {
    AddVideo("a", "One", {5});
    Pages().AddLink(Link("a"));
    Form().CheckBoxYouTubeQuality->setChecked(false);
    Form().show();
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    TRecordingPower power;
    power.RefuseSleep = true;
    ASSERT_TRUE(Download(F->Home.Folder.Path + "v"));

    EXPECT_EQ(Label(Form().LabelURLSucedded), "1");
    EXPECT_EQ(power.SleepCalls, std::vector<std::string>{"take Downloading videos"});
    EXPECT_TRUE(F->Notifier.Shown.empty());
    int lines = 0;
    for (const QString& line : F->Log->Lines())
        lines += line.contains("gave no sleep lock") ? 1 : 0;
    EXPECT_EQ(lines, 1);
}

TEST_F(DownloadPagesTest, ConvertWithoutDownloadedFilesExplainsAndStays) {
    Form().ActivatePage(wpStep7);
    Desktop().Answers = {mrOk};
    Form().ButtonConvertDownloaded->click();
    EXPECT_EQ(Messages(), std::vector<std::string>{"No file downloaded! Please try again."});
    EXPECT_EQ(Desktop().Messages[0].Kind, mtInformation);
    EXPECT_EQ(Desktop().Messages[0].Caption, "Ed");
    EXPECT_EQ(Form().ActivePage(), wpStep7);
}

TEST_F(DownloadPagesTest, DownloadedVideosGoToTheFileListProbed) {
    // Real media as the streams: two short clips made by the media libraries.
    std::string error;
    ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    TFixtureParams params;
    params.Seconds = 2;
    const std::string media = F->Home.Folder.Path + "media/";
    std::filesystem::create_directories(media);
    for (const char* id : {"m1", "m2"}) {
        WriteFixture(fkMp4H264Aac, media + id + ".mp4", params);
        std::ifstream in(media + id + ".mp4", std::ios::binary);
        TFakeVideo v;
        v.Id = id;
        v.Title = std::string("Real ") + id;
        TFakeStream s;
        s.Itag = 18;
        s.Body.assign(std::istreambuf_iterator<char>(in), {});
        v.Streams = {s};
        Service.AddVideo(v);
        Pages().AddLink(Link(id));
    }
    Form().CheckBoxYouTubeQuality->setChecked(true);
    const std::string folder = F->Home.Folder.Path + "downloads";
    ASSERT_TRUE(Download(folder));
    ASSERT_EQ(F->Vars.DownloadedFiles,
              (std::vector<std::string>{folder + "/Real m1.mp4", folder + "/Real m2.mp4"}));

    Form().ButtonConvertDownloaded->click();
    EXPECT_EQ(Form().ActivePage(), wpStep1);
    EXPECT_EQ(Form().LabelTitle->text().toStdString().rfind("Select the file(s)", 0), 0u);
    ASSERT_TRUE(ProcessUntil([&] { return Form().InputRows->rowCount() == 2; }, 20000));
    EXPECT_TRUE(Desktop().Messages.empty()) << Messages().front();
}

TEST_F(DownloadPagesTest, AScriptErrorIsShownWithItsLine) {
    TFakeVideo odd;
    odd.Id = "n";
    odd.Title = "Odd";
    odd.Answer = "url_encoded_fmt_stream_map=" +
                 TFakeVideoService::Escape("itag=x&url=http%3A%2F%2Fh%2Fv&sig=s");
    Service.AddVideo(odd);
    Pages().AddLink(Link("n"));
    Form().CheckBoxYouTubeQuality->setChecked(false);
    Desktop().Answers = {mrOk};
    ASSERT_TRUE(Download(F->Home.Folder.Path + "v"));
    ASSERT_EQ(Desktop().Messages.size(), 1u);
    EXPECT_EQ(Desktop().Messages[0].Message.rfind("Error: Line number 49, ", 0), 0u);
    EXPECT_EQ(Desktop().Messages[0].Kind, mtError);
    EXPECT_EQ(Label(Form().LabelURLFailed), "1");
}

TEST_F(DownloadPagesTest, AResolverFailureIsTheRowsToolTipAndOtherSitesNeedTheEdition) {
    // Links of other sites only where the edition takes them (and the resolver may run).
    Desktop().Answers = {mrOk};
    EXPECT_TRUE(Pages().AddLink("https://video.example/clip/1"));
    EXPECT_EQ(Links(), std::vector<std::string>{});
    Pages().Queue().AnySite = true;
    Pages().Queue().ResolverMode = TResolverMode::rmAuto;
    EXPECT_TRUE(Pages().AddLink("https://video.example/clip/1"));
    EXPECT_EQ(Links(), std::vector<std::string>{"https://video.example/clip/1"});
    Form().ActionURLEmpty->trigger();
    Pages().Queue().AnySite = false;

    // The service of today: no streams in its answer; the resolver says why it fails.
    AddVideo("b", "Nothing", {});
    const std::string script = F->Home.Folder.Path + "stand-in";
    std::ofstream(script)
        << "#!/bin/sh\n[ \"$1\" = --version ] && echo 2023.03.04 && exit 0\n"
           "echo \"ERROR: [youtube] b: Sign in to confirm you're not a bot\" >&2\n"
           "exit 1\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    Pages().Queue().ResolverMode = TResolverMode::rmAuto;
    Pages().Queue().Resolver.Program = script;
    Pages().AddLink(Link("b"));
    std::string tip;
    QObject::connect(Form().QueueList, &QAbstractItemModel::dataChanged, [&] {
        if (Form().QueueList->rowCount() > 0) {
            const QString text =
                Form().QueueList->index(0, TQueueModel::qcStatus).data(Qt::ToolTipRole).toString();
            if (!text.isEmpty())
                tip = text.toStdString();
        }
    });
    ASSERT_TRUE(Download(F->Home.Folder.Path + "v"));
    EXPECT_EQ(tip, "yt-dlp 2023.03.04: ERROR: [youtube] b: Sign in to confirm you're not a bot");
    EXPECT_EQ(Label(Form().LabelURLTotalFiles), "1");
    EXPECT_EQ(Label(Form().LabelURLFailed), "1");
}

TEST_F(DownloadPagesTest, AResolvedLinkIsFetchedAsPictureAndSoundJoinedAndSummed) {
    // Today's service: no streams in the info answer; the resolver names a picture-only and a
    // sound-only format, which the window's run fetches, joins and counts as one video.
    std::string error;
    ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    const std::string media = F->Home.Folder.Path + "media/";
    std::filesystem::create_directories(media);
    TFixtureParams params;
    params.Seconds = 2;
    const TFixture clip = WriteFixture(fkMp4H264Aac, media + "clip.mp4", params);
    SplitFixture(clip, media + "v.mp4", media + "a.m4a");
    TFakeVideo video;
    video.Id = "r";
    video.Title = "Resolved";
    video.StreamMap = false;
    for (const auto& [itag, file] : {std::pair{137, "v.mp4"}, std::pair{140, "a.m4a"}}) {
        TFakeStream s;
        s.Itag = itag;
        std::ifstream in(media + file, std::ios::binary);
        s.Body.assign(std::istreambuf_iterator<char>(in), {});
        video.Streams.push_back(s);
    }
    Service.AddVideo(video);
    const auto format = [&](int itag, const std::string& codecs) {
        return R"({"format_id": ")" + std::to_string(itag) + R"(", "url": ")" +
               Service.StreamUrl("r", itag) + R"(&signature=S1G", "protocol": "https", )" +
               codecs + "}";
    };
    std::ofstream(media + "answer.json")
        << R"({"id": "r", "title": "Joined: clip", "duration": 2, "formats": [)"
        << format(137, R"("ext": "mp4", "vcodec": "avc1.64000c", "acodec": "none", "height":
               120, "width": 160)")
        << "," << format(140, R"("ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2")")
        << "]}";
    const std::string script = media + "stand-in";
    std::ofstream(script) << "#!/bin/sh\n[ \"$1\" = --version ] && echo 2023.03.04 && exit 0\n"
                          << "cat '" << media << "answer.json'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    Pages().Queue().ResolverMode = TResolverMode::rmAuto;
    Pages().Queue().Resolver.Program = script;
    Pages().AddLink(Link("r"));

    const std::string folder = F->Home.Folder.Path + "resolved";
    Form().EditURLOutput->setText(QString::fromStdString(folder));
    Form().ActionNext->trigger();
    // The row's last column says what was saved once it is saved.
    std::set<std::string> saved;
    QObject::connect(Form().QueueList, &QAbstractItemModel::dataChanged, [&] {
        if (Form().QueueList->rowCount() > 0)
            saved.insert(Form()
                             .QueueList->index(0, TQueueModel::qcSpare)
                             .data(Qt::DisplayRole)
                             .toString()
                             .toStdString());
    });
    ASSERT_TRUE(ProcessUntil([&] { return Form().ActivePage() == wpStep7; }, 20000));
    EXPECT_TRUE(saved.count("120p MP4 (H.264 + AAC)")) << ::testing::PrintToString(saved);
    EXPECT_EQ(Label(Form().LabelURLTotalFiles), "1");
    EXPECT_EQ(Label(Form().LabelURLSucedded), "1");
    EXPECT_EQ(Label(Form().LabelURLFailed), "0");
    ASSERT_EQ(F->Vars.DownloadedFiles, std::vector<std::string>{folder + "/Joined_ clip.mp4"});
    // One file of both streams, the parts gone.
    TFFDecoder joined;
    ASSERT_TRUE(joined.LoadFile(folder + "/Joined_ clip.mp4"));
    EXPECT_EQ(joined.VideoStreamCount(), 1);
    EXPECT_EQ(joined.AudioStreamCount(), 1);
    EXPECT_NEAR(joined.GetFileStreamInfo().Duration / 1e6, clip.Seconds, 0.1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Joined_ clip.mp4"});
}
