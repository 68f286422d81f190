#include "ui/QtDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace cw {

namespace {

struct TButtonRow {
    TMsgDlgButton Button;
    QMessageBox::StandardButton Standard;
    TModalResult Result;
};

const TButtonRow ButtonRows[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbAll, QMessageBox::YesToAll, mrAll},
};

QMessageBox::Icon IconOf(TMsgDlgType kind) {
    switch (kind) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    case mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& message,
                                             const std::string& caption, TMsgDlgType kind,
                                             const std::vector<TMsgDlgButton>& buttons,
                                             const std::vector<std::string>& captions) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(IconOf(kind));
    box->setWindowTitle(QString::fromStdString(caption));
    box->setText(QString::fromStdString(message));
    box->setTextFormat(Qt::PlainText);
    std::vector<QAbstractButton*> added;
    for (TMsgDlgButton b : buttons)
        for (const auto& row : ButtonRows)
            if (row.Button == b)
                added.push_back(box->addButton(row.Standard));
    // The captions go to the buttons in the order the user sees them, left to right: the
    // desktop's button order (Yes, No, Cancel or Cancel, No, Yes) decides, not the order of
    // the set.
    std::vector<QAbstractButton*> onScreen;
    if (auto* row = box->findChild<QDialogButtonBox*>(); row && row->layout()) {
        QLayout* layout = row->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (auto* button = qobject_cast<QAbstractButton*>(layout->itemAt(i)->widget()))
                if (std::find(added.begin(), added.end(), button) != added.end())
                    onScreen.push_back(button);
        if (row->layoutDirection() == Qt::RightToLeft)
            std::reverse(onScreen.begin(), onScreen.end());
    }
    if (onScreen.size() != added.size())
        onScreen = added;
    for (size_t i = 0; i < onScreen.size() && i < captions.size(); ++i)
        if (!captions[i].empty())
            onScreen[i]->setText(QString::fromStdString(captions[i]));
    return box;
}

int MessageBoxResult(const QMessageBox& box) {
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        return mrNone;
    const auto standard = box.standardButton(clicked);
    for (const auto& row : ButtonRows)
        if (row.Standard == standard)
            return row.Result;
    return mrNone;
}

int TQtDesktop::ShowCustomMessage(const std::string& message, const std::string& caption,
                                  TMsgDlgType kind, const std::vector<TMsgDlgButton>& buttons,
                                  const std::vector<std::string>& captions) {
    auto box =
        BuildMessageBox(QApplication::activeWindow(), message, caption, kind, buttons, captions);
    QApplication::beep();
    box->exec();
    return MessageBoxResult(*box);
}

bool TQtDesktop::BrowseForFolder(std::string& folder, const std::string& title) {
    const QString chosen = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), QString::fromStdString(title), QString::fromStdString(folder),
        QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    folder = chosen.toStdString();
    return true;
}

void TQtDesktop::SetBusyCursor(bool busy) {
    // Qt stacks override cursors; the nesting is counted by the caller, so only the first
    // request and the final release change the stack.
    if (busy == Busy)
        return;
    Busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QUrl UrlForTarget(const std::string& target) {
    const QString text = QString::fromStdString(target);
    if (text.isEmpty())
        return QUrl();
    if (text.contains(QLatin1String("://")) || text.startsWith(QLatin1String("mailto:")))
        return QUrl(text);
    const int hash = text.indexOf(QLatin1Char('#'));
    if (hash > 0 && !QFileInfo::exists(text) && QFileInfo::exists(text.left(hash))) {
        QUrl url = QUrl::fromLocalFile(text.left(hash));
        url.setFragment(text.mid(hash + 1));
        return url;
    }
    return QUrl::fromLocalFile(text);
}

void TQtDesktop::OpenWithShell(const std::string& target) {
    // The desktop's answer is not reported.
    QDesktopServices::openUrl(UrlForTarget(target));
}

} // namespace cw
