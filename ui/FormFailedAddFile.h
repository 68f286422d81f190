// Lists the files that could not be added to the input list.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace cw {

class TFormFailedAddFile : public QDialog {
    Q_OBJECT
public:
    TFormFailedAddFile(const std::vector<std::string>& failed, std::string supportLink,
                       QWidget* parent = nullptr);

    void ButtonMoreInfoClick();

    QLabel* ImageIcon = nullptr;
    QLabel* LabelTitle = nullptr;
    QTreeWidget* ListViewFiles = nullptr;
    QPushButton* ButtonClose = nullptr;
    QPushButton* ButtonMoreInfo = nullptr;

private:
    std::string SupportLink;
};

} // namespace cw
