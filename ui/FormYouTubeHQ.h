// The dialog "Prefer YouTube high quality": the eight HQ qualities in the order they are tried,
// which the user rearranges with Up and Down or resets to one of two built-in orders.
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace cw {

struct TGlobalVars;

class TFormYouTubeHQ : public QDialog {
    Q_OBJECT
public:
    explicit TFormYouTubeHQ(TGlobalVars& vars, QWidget* parent = nullptr);

    // Fills the list from the order in the settings (a damaged order is shown repaired).
    void Load();
    // Stores the list's order into the settings; called on OK only.
    void Store();
    void ButtonUpClick();
    void ButtonDownClick();
    // Both change the settings' order at once and reload; Cancel does not undo them.
    void ButtonDefaultClick();
    void ButtonBestAvailableClick();

    QTreeWidget* ListViewYouTubeHQ = nullptr;
    QPushButton* ButtonUp = nullptr;
    QPushButton* ButtonDown = nullptr;
    QPushButton* ButtonDefault = nullptr;
    QPushButton* ButtonBestAvailable = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCancel = nullptr;

private:
    // Moves the selected row by step (-1 up, +1 down) as a copy that takes its new place.
    void MoveSelected(int step);
    TGlobalVars& Vars;
};

} // namespace cw
