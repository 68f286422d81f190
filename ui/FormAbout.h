// The about box: title, version, copyright, web and support links, and the update page.
#pragma once

#include <QDialog>

#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace cw {

class TImage;
class TLinkLabel;
struct TGlobalVars;

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    // resFolder: the artwork folder with trailing separator; year: the current year.
    TFormAbout(const std::string& title, const TGlobalVars& vars, const std::string& resFolder,
               int year, QWidget* parent = nullptr);

    void LabelWebClick();
    void LabelSupportEmailClick();
    void ButtonUpdatesClick();
    void ImageLeftClick();

    QTabWidget* PageControl = nullptr;
    QLabel* LabalTitle = nullptr;
    QLabel* LabelCopyright = nullptr;
    TLinkLabel* LabelWeb = nullptr;
    TLinkLabel* LabelSupportEmail = nullptr;
    QPushButton* ButtonUpdates = nullptr;
    QGroupBox* GroupProductInfo = nullptr;
    QLabel* LabelVersion = nullptr;
    QWidget* PanelmageLeft = nullptr;
    TImage* ImageLeft = nullptr;
    QPushButton* ButtonOK = nullptr;

private:
    void FormCreate(const std::string& title, const std::string& resFolder, int year);
    const TGlobalVars& Vars;
};

} // namespace cw
