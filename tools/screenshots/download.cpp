// Screenshots of the downloader's pages with something on them: Step5 with pasted links,
// Step6 while a video comes in, Step7 with the summary. The videos come from the fake video
// service on 127.0.0.1; nothing leaves the machine. Run under a display (tools/screenshots.sh
// starts Xvfb):
//
//   clipwright-screenshots-download EXE_FOLDER OUTPUT_FOLDER NAME_PREFIX
//
// EXE_FOLDER holds the branding file and the artwork, as beside the program; the branding
// file's VideoSiteDomain is replaced by the fake service's for this run only.
#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "app/Platform.h"
#include "download/QueueModel.h"
#include "tests/support/FakeVideoService.h"
#include "ui/DownloadPages.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/QtDesktop.h"
#include "ui/QtMainThread.h"

#include "Shots.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using shots::Settle;
using shots::Shoot;
using shots::WaitFor;

cw::test::TFakeVideo Video(const std::string& id, const std::string& title, int itag, uint64_t size,
                           cw::test::TStreamFault fault = cw::test::sfNone) {
    cw::test::TFakeVideo v;
    v.Id = id;
    v.Title = title;
    cw::test::TFakeStream s;
    s.Itag = itag;
    s.GeneratedSize = size;
    s.Fault = fault;
    v.Streams = {s};
    return v;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shots::TSession session(argc, argv, "clipwright-screenshots-download");
    if (!session.Valid)
        return 2;
    using namespace cw;
    namespace fs = std::filesystem;
    const std::string& source = session.ExeFolder;
    const QString& out = session.Out;
    const QString& prefix = session.Prefix;
    const QTemporaryDir& temp = session.Home;

    test::TFakeVideoService service;
    service.AddVideo(Video("Jx8s2Qk", "Sunset over the harbour", 18, 6 << 20));
    service.AddVideo(Video("Mq3r9Lp", "Cooking pasta: the basics", 22, 2 << 20, test::sfSlow));
    service.AddVideo(Video("Tb7n1Wd", "Trail running &amp; hiking", 18, 3 << 20));
    test::TFakeVideo gone = Video("Zz0Removed", "This video has been removed", 18, 0);
    gone.StreamMap = false;
    service.AddVideo(gone);

    // The program folder: the given one's files, with the fake service as the video site.
    const std::string exeFolder = temp.path().toStdString() + "/program/";
    fs::create_directories(exeFolder);
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.path().filename() != BrandingFileName)
            fs::create_symlink(fs::absolute(entry.path()),
                               exeFolder + entry.path().filename().string());
    TIniFile branding = LoadBrandingFile(source + "/" + BrandingFileName);
    branding.WriteString(BrandingSection, "VideoSiteDomain", service.Domain());
    std::ofstream(exeFolder + BrandingFileName, std::ios::binary) << ScrambleText(branding.Text());

    bool ok = true;
    {
        TFormLog log(GlobalVars());
        TFormMain form(exeFolder, log, GlobalVars());
        QApplication::setApplicationName(QString::fromStdString(form.Title()));
        form.move(40, 40);
        form.show();
        Settle(600);
        form.RadioButtonDownloadVideo->setChecked(true);
        form.ActionNext->trigger();
        form.EditURLOutput->setText(temp.path() + "/Videos/");
        form.CheckBoxYouTubeQuality->setChecked(true);
        for (const char* id : {"Jx8s2Qk", "Mq3r9Lp", "Tb7n1Wd", "Zz0Removed"})
            form.Downloader->AddLink(service.WatchUrl(id));
        form.ListViewInputURL->setCurrentItem(form.ListViewInputURL->topLevelItem(1));
        QGuiApplication::clipboard()->setText(QString::fromStdString(service.WatchUrl("Jx8s2Qk")));
        ok = Shoot(form, QString("%1/%2-TabSheetStep5.png").arg(out, prefix)) && ok;

        // The second video trickles in; the picture is taken while it does.
        form.ActionNext->trigger();
        const bool downloading = WaitFor([&] {
            const TDownloadItem* row = form.QueueList->Item(1);
            return row && row->Status == "Downloading..." && row->Progress != "0%";
        });
        if (!downloading)
            std::fprintf(stderr, "clipwright-screenshots-download: the download did not start\n");
        Settle(1200);
        ok = downloading && Shoot(form, QString("%1/%2-TabSheetStep6.png").arg(out, prefix)) && ok;

        // The rest of the run: the slow video, the third one, and one that offers no stream.
        ok = WaitFor([&] { return form.ActivePage() == wpStep7; }, 120000) && ok;
        ok = Shoot(form, QString("%1/%2-TabSheetStep7.png").arg(out, prefix)) && ok;
        form.hide();
    }
    return ok ? 0 : 1;
}
