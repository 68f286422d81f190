// What the window tests share: a recording desktop that answers questions from a list (no
// real box is ever shown, nothing is opened), the shared temporary home for the per-user
// folders, and a program folder with a branding file of the test's choosing and the built
// artwork.
#pragma once

#include "app/Branding.h"
#include "app/Platform.h"
#include "tests/support/TempDir.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cw::test {

struct TRecordedMessage {
    std::string Message;
    std::string Caption;
    TMsgDlgType Kind;
    std::vector<TMsgDlgButton> Buttons;
};

class TRecordingDesktop : public IDesktop {
public:
    int ShowCustomMessage(const std::string& message, const std::string& caption, TMsgDlgType kind,
                          const std::vector<TMsgDlgButton>& buttons,
                          const std::vector<std::string>&) override {
        Messages.push_back({message, caption, kind, buttons});
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected message: " << message;
            return mrNone;
        }
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool BrowseForFolder(std::string& folder, const std::string& title) override {
        FolderTitles.push_back(title);
        if (!FolderAnswer)
            return false;
        folder = *FolderAnswer;
        return true;
    }
    void SetBusyCursor(bool busy) override { BusyCalls.push_back(busy); }
    void OpenWithShell(const std::string& target) override { Opened.push_back(target); }

    std::deque<int> Answers; // answers to the next questions, in order
    std::vector<TRecordedMessage> Messages;
    std::vector<std::string> Opened;
    std::vector<std::string> FolderTitles;
    std::optional<std::string> FolderAnswer;
    std::vector<bool> BusyCalls;
};

// Installs a recording desktop for the lifetime of the object.
class TDesktopScope {
public:
    TDesktopScope() { Previous = SetDesktop(&Desktop); }
    ~TDesktopScope() { SetDesktop(Previous); }
    TRecordingDesktop Desktop;

private:
    IDesktop* Previous = nullptr;
};

// Installs itself as the power service for its lifetime: records power requests and the
// sleep locks taken ("take <why>") and given back ("release"), or refuses them.
class TRecordingPower : public IPowerService {
public:
    TRecordingPower() { Previous = SetPowerService(this); }
    ~TRecordingPower() override { SetPowerService(Previous); }
    bool AdjustPrivilege(const std::string&, bool) override { return true; }
    void Request(TPowerAction action) override { Requests.push_back(action); }
    int InhibitSleep(const std::string& why) override {
        SleepCalls.push_back("take " + why);
        if (RefuseSleep)
            return -1;
        ++HeldLocks;
        return 100 + int(SleepCalls.size());
    }
    void ReleaseSleep(int) override {
        SleepCalls.push_back("release");
        --HeldLocks;
    }
    std::vector<TPowerAction> Requests;
    std::vector<std::string> SleepCalls;
    int HeldLocks = 0;
    bool RefuseSleep = false;

private:
    IPowerService* Previous = nullptr;
};

// Installs itself as the notifier for its lifetime and records what it is asked to show.
class TRecordingNotifier : public INotifier {
public:
    TRecordingNotifier() { Previous = SetNotifier(this); }
    ~TRecordingNotifier() override { SetNotifier(Previous); }
    void Notify(const std::string& title, const std::string& text,
                const std::string& folder) override {
        Shown.push_back(title + " | " + text + " | " + folder);
    }
    std::vector<std::string> Shown;

private:
    INotifier* Previous = nullptr;
};

// Another window, shown and made the active one: the window under test is behind it, as
// when the user works elsewhere.
class TWindowInFront {
public:
    TWindowInFront() {
        // Activations still queued (the tested window's own) come first.
        QApplication::processEvents();
        Window.resize(80, 60);
        Window.show();
        Window.activateWindow();
        QApplication::setActiveWindow(&Window);
        Active = QTest::qWaitForWindowActive(&Window, 2000);
    }
    QWidget Window;
    bool Active = false;
};

// The branding text of a test edition: every format on unless formats says otherwise.
inline std::string BrandingText(const std::string& title, bool download, bool merge, int skin = 0,
                                const std::string& extra = "", const std::string& formats = "all") {
    std::string text = "[SYSTEM]\r\nName=" + title + "\r\nVersion=1.2\r\nCopyright=Test Makers\r\n";
    text += std::string("Download=") + (download ? "True" : "False") + "\r\n";
    text += std::string("Merge=") + (merge ? "Yes" : "No") + "\r\n";
    text += "Skin=" + std::to_string(skin) + "\r\nResFolder=default\r\n";
    text += "HelpContectLink=https://help.example/content\r\n"
            "HelpHowTosTutorialVideosLink=https://help.example/howto\r\n"
            "HelpHomePageLink=https://help.example/home\r\n"
            "HelpMoreFreeToolsLink=https://help.example/tools\r\n"
            "HelpCheckForUpdatesLink=https://help.example/updates\r\n"
            "HelpSupportLink=https://help.example/support\r\n";
    if (formats == "all") {
        for (int c = 0; c < OutputClassCount; ++c)
            for (const auto& key : FormatKeys(c))
                text += key + "=True\r\n";
    } else {
        text += formats;
    }
    return text + extra;
}

// A program folder: the scrambled branding file, and the built artwork, icon and help pages
// linked in from the build's bin folder.
class TProgramFolder {
public:
    explicit TProgramFolder(const std::string& branding) {
        std::ofstream(Folder.Path + BrandingFileName, std::ios::binary) << ScrambleText(branding);
        for (const char* item : {"sounds", "docs", "icon.ico"})
            if (std::filesystem::exists(std::string(CW_BIN_DIR) + "/" + item))
                std::filesystem::create_symlink(std::string(CW_BIN_DIR) + "/" + item,
                                                Folder.Path + item);
    }
    const std::string& Path() const { return Folder.Path; }
    TTempDir Folder;
};

// Runs the event loop until done() or the timeout; false on timeout.
inline bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline void ProcessPending() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

} // namespace cw::test
