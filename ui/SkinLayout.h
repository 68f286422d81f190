// The four layouts of the main window's chrome, chosen by the branding value Skin. Positions
// are left, top in client pixels of the 772 x 547 window.
#pragma once

#include <QColor>
#include <QPoint>

namespace cw {

constexpr int MainWindowWidth = 772;
constexpr int MainWindowHeight = 547;

struct TSkinLayout {
    bool ChromeButtonsVisible = true; // minimise and close
    QPoint ButtonMin;
    QPoint ButtonClose;
    QPoint ButtonHelp;
    int HelpMenuOffset = 0; // added to the x at which the help menu pops up
    QPoint ButtonLog;
    QPoint ButtonBack;
    QPoint ButtonNext;
    QPoint ButtonExit;
    QPoint PageControlMain;
    QPoint LabelTitle;
    bool TitleBold = true;
    QColor InfoLabelColor; // LabelVersion, LabelMoreTools
    // Layout 3 only: the two labels move down and come to the front, the bottom buttons
    // lose their pictures and show white captions.
    int LabelVersionTop = -1;
    int LabelMoreToolsTop = -1;
    bool TransparentBottomButtons = false;
};

// The layout of a Skin value; null for any other value (the form's own positions stay).
const TSkinLayout* SkinLayout(int skin);

} // namespace cw
