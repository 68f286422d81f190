// What a page of the main window may ask of the window around it. A page holds its own
// controls and talks to the application controller; for anything outside its own controls it
// comes here, so that no page reaches into another page's widgets.
#pragma once

#include "control/WizardTexts.h"

#include <string>
#include <vector>

class QWidget;

namespace cw {

class IPageHost {
public:
    virtual ~IPageHost() = default;
    // The title of the message boxes and notices.
    virtual const std::string& Title() const = 0;
    // The window itself, as the parent and the centre of the page's dialogs.
    virtual QWidget* Window() = 0;
    // The user is looking at the window (else a finished run is told to the desktop).
    virtual bool WindowActive() const = 0;
    virtual TWizardPage ActivePage() const = 0;
    // Brings the page to the front and shows its title line and command texts.
    virtual void ShowPage(TWizardPage page) = 0;
    // The command texts again (after a change of what the page allows).
    virtual void UpdatePageTexts() = 0;
    // A line for the log window.
    virtual void Log(const std::string& line) = 0;
    // Window messages: posted ones run later on the main thread in posting order; a sent one
    // runs at once.
    virtual void PostMessage(int message) = 0;
    virtual void SendMessage(int message) = 0;
    // Files handed to the input list (the downloader's "convert them" command).
    virtual void AddFiles(const std::vector<std::string>& paths) = 0;
};

} // namespace cw
