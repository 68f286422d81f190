// The desktop as Qt offers it: message boxes, the folder picker, the busy cursor and opening
// a file, folder or web address with its default handler.
#pragma once

#include "app/Platform.h"

#include <QUrl>

#include <memory>

class QMessageBox;
class QWidget;

namespace cw {

class TQtDesktop : public IDesktop {
public:
    int ShowCustomMessage(const std::string& message, const std::string& caption, TMsgDlgType kind,
                          const std::vector<TMsgDlgButton>& buttons,
                          const std::vector<std::string>& captions) override;
    bool BrowseForFolder(std::string& folder, const std::string& title) override;
    void SetBusyCursor(bool busy) override;
    void OpenWithShell(const std::string& target) override;

private:
    bool Busy = false;
};

// The message box ShowCustomMessage shows: the buttons in the order of the set (the i-th
// caption, when given and not empty, replaces the i-th button's text), the icon of the kind.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& message,
                                             const std::string& caption, TMsgDlgType kind,
                                             const std::vector<TMsgDlgButton>& buttons,
                                             const std::vector<std::string>& captions);
// The result code of the button the user pressed in a box made by BuildMessageBox;
// mrNone when the box was closed without a button.
int MessageBoxResult(const QMessageBox& box);

// What OpenWithShell hands to the desktop: web addresses as they are, anything else as a
// local path (a "#fragment" after an existing file stays a fragment).
QUrl UrlForTarget(const std::string& target);

} // namespace cw
