#include "ui/FormFailedAddFile.h"

#include "app/Platform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

namespace cw {

TFormFailedAddFile::TFormFailedAddFile(const std::vector<std::string>& failed,
                                       std::string supportLink, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      SupportLink(std::move(supportLink)) {
    setObjectName("FormFailedAddFile");
    setWindowTitle("Failed to Add Files");
    setModal(true);

    ImageIcon = new QLabel(this);
    ImageIcon->setObjectName("ImageIcon");
    ImageIcon->setFixedSize(48, 48);
    ImageIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    ImageIcon->setAccessibleName("Warning");

    LabelTitle = new QLabel(
        "Failed to add the following files. The converter might not support the file type or "
        "might not support the codec that was used to compress the file. Click \"More "
        "Information\" to view a list of supported file types and releavant codecs.",
        this);
    LabelTitle->setObjectName("LabelTitle");
    LabelTitle->setWordWrap(true);

    ListViewFiles = new QTreeWidget(this);
    ListViewFiles->setObjectName("ListViewFiles");
    ListViewFiles->setColumnCount(1);
    ListViewFiles->setHeaderLabels({"File"});
    ListViewFiles->setRootIsDecorated(false);
    ListViewFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewFiles->setAccessibleName("File");
    for (const auto& text : failed)
        ListViewFiles->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(text)}));

    ButtonMoreInfo = new QPushButton("More Information...", this);
    ButtonMoreInfo->setObjectName("ButtonMoreInfo");
    ButtonMoreInfo->setAutoDefault(false);
    ButtonClose = new QPushButton("Close", this);
    ButtonClose->setObjectName("ButtonClose");
    ButtonClose->setDefault(true);
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonMoreInfo, &QPushButton::clicked, this, &TFormFailedAddFile::ButtonMoreInfoClick);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(14, 14, 14, 12);
    layout->setHorizontalSpacing(12);
    layout->addWidget(ImageIcon, 0, 0, Qt::AlignTop);
    layout->addWidget(LabelTitle, 0, 1);
    layout->addWidget(ListViewFiles, 1, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonMoreInfo);
    buttons->addStretch();
    buttons->addWidget(ButtonClose);
    layout->addLayout(buttons, 2, 0, 1, 2);
    resize(520, 340);
    setFixedSize(size());
}

void TFormFailedAddFile::ButtonMoreInfoClick() {
    OpenWithShell(SupportLink);
}

} // namespace cw
