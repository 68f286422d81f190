// The log window: every diagnostic line of the running application, kept until it ends.
#pragma once

#include <QWidget>

#include <string>

class QFileDialog;
class QPlainTextEdit;
class QPushButton;

namespace cw {

struct TGlobalVars;

class TFormLog : public QWidget {
    Q_OBJECT
public:
    explicit TFormLog(const TGlobalVars& vars, QWidget* parent = nullptr);

    // Appends one line; lines are never edited.
    void AppendLine(const std::string& line);
    QStringList Lines() const;

    // True once the window has been shown in this session.
    bool WasShown() const { return Shown; }
    void FormShow();
    void FormClose();
    void PanelBottomResize();
    void ButtonOKClick();
    void ButtonDeleteClick();
    void ButtonSaveClick();
    // Writes the lines as text; false when the file cannot be written.
    bool SaveLogTo(const QString& path) const;

    QPlainTextEdit* MemoLog = nullptr;
    QWidget* PanelBottom = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonDelete = nullptr;
    QPushButton* ButtonSave = nullptr;
    QFileDialog* SaveDialog = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const TGlobalVars& Vars;
    bool Shown = false;
};

} // namespace cw
