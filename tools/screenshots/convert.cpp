// Screenshots of the conversion pages with real work on them: Step1 with five generated files
// and their thumbnails, Step2 for each output class, Step3 while a file converts and Step4
// after a run in which one file failed. The media files are generated into a temporary folder
// and converted there. Run under a display (tools/screenshots.sh starts Xvfb):
//
//   clipwright-screenshots-convert EXE_FOLDER OUTPUT_FOLDER NAME_PREFIX
#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "convert/ProgressListModel.h"
#include "tests/fixtures/MediaFixtures.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/InputListPage.h"
#include "ui/OutputPage.h"
#include "ui/QtDesktop.h"
#include "ui/QtMainThread.h"

#include "Shots.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

using shots::Settle;
using shots::Shoot;
using shots::WaitFor;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shots::TSession session(argc, argv, "clipwright-screenshots-convert");
    if (!session.Valid)
        return 2;
    const std::string& exeFolder = session.ExeFolder;
    const QString& out = session.Out;
    const QString& prefix = session.Prefix;
    QTemporaryDir media;
    const std::string folder = media.path().toStdString() + "/";

    using namespace cw;
    using namespace cw::test;
    std::string error;
    if (!BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "clipwright-screenshots-convert: %s\n", error.c_str());
        return 1;
    }
    // Five files of different kinds, lengths and sizes, so the cards and thumbnails differ.
    TFixtureParams p;
    p.Width = 320;
    p.Height = 240;
    p.Seconds = 6;
    WriteFixture(fkAviMpeg4Mp3, folder + "Holiday at the lake.avi", p);
    p.Seconds = 2;
    WriteFixture(fkMp4H264Aac, folder + "Birthday.mp4", p);
    p.Seconds = 10;
    p.Width = 352;
    p.Height = 288;
    WriteFixture(fkMkvTwoAudio, folder + "Concert (two languages).mkv", p);
    p.Seconds = 4;
    WriteFixture(fkMpegTs, folder + "Recording.ts", p);
    WriteFixture(fkMp3, folder + "Interview.mp3", p);
    // For the run: a longer clip, and a file whose only stream cannot be decoded.
    TFixtureParams big;
    big.Seconds = 40;
    big.Width = 640;
    big.Height = 480;
    big.FrameRateNum = 25;
    WriteFixture(fkAviMpeg4Mp3, folder + "Long walk.avi", big);
    WriteFixture(fkMkvNoDecoder, folder + "Old camera.mkv", p);

    bool ok = true;
    {
        TFormLog log(GlobalVars());
        TFormMain form(exeFolder, log, GlobalVars());
        QApplication::setApplicationName(QString::fromStdString(form.Title()));
        GlobalVars().PlayASoundWhenFinished = false;
        GlobalVars().ShutDownWhenFinished = false;
        form.move(40, 40);
        form.show();
        Settle(600);

        form.ActivatePage(wpStep1);
        form.AddFiles({folder + "Holiday at the lake.avi", folder + "Birthday.mp4",
                       folder + "Concert (two languages).mkv", folder + "Recording.ts",
                       folder + "Interview.mp3"});
        form.InputList->SelectRow(0);
        ok = Shoot(form, QString("%1/%2-TabSheetStep1.png").arg(out, prefix)) && ok;

        form.ActionNext->trigger();
        form.EditOutputDir->setText(QString::fromStdString(folder + "converted"));
        const char* classNames[] = {"video", "device", "audio"};
        for (int c = 0; c < OutputClassCount; ++c) {
            form.SelectOutputClass(c);
            ok = Shoot(form, QString("%1/%2-TabSheetStep2-%3.png").arg(out, prefix, classNames[c])) &&
                 ok;
        }

        // A run of two files: the long clip to MP4, then the file that cannot be decoded.
        form.InputList->ActionClearExecute();
        form.ActivatePage(wpStep1);
        form.AddFiles({folder + "Long walk.avi", folder + "Old camera.mkv"});
        form.ActionNext->trigger();
        form.SelectOutputClass(ocVideo);
        form.EditOutputDir->setText(QString::fromStdString(folder + "converted"));
        form.ActionNext->trigger();
        const bool running = WaitFor([&] {
            const TProgressItem* item = form.ProgressList->Item(0);
            const QString progress = item ? QString::fromStdString(item->Progress) : QString();
            return item && progress.endsWith('%') && progress != "0%" && progress.size() >= 3;
        }, 60000);
        ok = running && Shoot(form, QString("%1/%2-TabSheetStep3-running.png").arg(out, prefix)) &&
             ok;
        ok = WaitFor([&] { return form.ActivePage() == wpStep4; }, 300000) && ok;
        ok = Shoot(form, QString("%1/%2-TabSheetStep4-failure.png").arg(out, prefix)) && ok;
        form.close();
    }
    return ok ? 0 : 1;
}
