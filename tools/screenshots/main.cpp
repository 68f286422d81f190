// Takes a screenshot of every wizard page and of the dialogs, as the X server shows them.
// Run under a display (tools/screenshots.sh starts Xvfb):
//
//   clipwright-screenshots EXE_FOLDER OUTPUT_FOLDER NAME_PREFIX [step2]
//
// step2: only the output page, once for each output class (PREFIX-TabSheetStep2-video.png...).
//
// EXE_FOLDER holds the branding file and the artwork, as beside the program. The settings
// go to a temporary folder, so a user's own settings are never touched.
#include "app/Formats.h"
#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "ui/FormAbout.h"
#include "ui/FormFailedAddFile.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/FormShutdown.h"
#include "ui/QtDesktop.h"
#include "ui/QtMainThread.h"

#include "Shots.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using shots::Settle;
using shots::Shoot;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shots::TSession session(argc, argv, "clipwright-screenshots");
    if (!session.Valid)
        return 2;
    const std::string& exeFolder = session.ExeFolder;
    const QString& out = session.Out;
    const QString& prefix = session.Prefix;
    using namespace cw;

    bool ok = true;
    {
        TFormLog log(GlobalVars());
        TFormMain form(exeFolder, log, GlobalVars());
        QApplication::setApplicationName(QString::fromStdString(form.Title()));
        form.move(40, 40);
        form.show();
        Settle(600);
        if (session.Step2Only) {
            form.ActivatePage(wpStep2);
            form.PrepareOutputPage();
            const char* classNames[] = {"video", "device", "audio"};
            for (int c = 0; c < OutputClassCount; ++c) {
                form.SelectOutputClass(c);
                ok = Shoot(form, session.File(QString("TabSheetStep2-%1").arg(classNames[c]))) &&
                     ok;
            }
            return ok ? 0 : 1;
        }
        for (int p = 0; p < WizardPageCount; ++p) {
            const auto page = TWizardPage(p);
            if (!GlobalVars().Download && (page == wpMode || page >= wpStep5))
                continue;
            form.ActivatePage(page);
            if (page == wpStep2)
                form.PrepareOutputPage();
            if (page == wpStep5)
                form.PrepareDownloadPage();
            ok = Shoot(form, QString("%1/%2-%3.png").arg(out, prefix, WizardPageName(page))) && ok;
        }

        log.AppendLine("Clipwright log: one line per event");
        log.move(80, 80);
        log.show();
        ok = Shoot(log, QString("%1/%2-log.png").arg(out, prefix)) && ok;
        log.hide();

        TFormAbout about(form.Title(), GlobalVars(), form.ResourceFolder(),
                         QDate::currentDate().year(), &form);
        about.move(120, 100);
        about.show();
        ok = Shoot(about, QString("%1/%2-about.png").arg(out, prefix)) && ok;
        about.hide();

        TFormShutdown shutdown(form.Title(), &form);
        shutdown.move(200, 160);
        shutdown.show();
        ok = Shoot(shutdown, QString("%1/%2-shutdown.png").arg(out, prefix)) && ok;
        shutdown.reject();

        TFormFailedAddFile failed({"/home/user/Videos/broken.avi: Invalid data found when "
                                   "processing input"},
                                  GlobalVars().HelpSupportLink, &form);
        failed.move(140, 120);
        failed.show();
        ok = Shoot(failed, QString("%1/%2-failed.png").arg(out, prefix)) && ok;
        failed.hide();
    }
    return ok ? 0 : 1;
}
