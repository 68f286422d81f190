#include "ui/FormYouTubeHQ.h"

#include "app/GlobalVars.h"
#include "download/Quality.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>

namespace cw {

namespace {

QTreeWidgetItem* QualityRow(int code) {
    const TQualityInfo* info = QualityInfo(code);
    return new QTreeWidgetItem({info->ShortName, info->Format, info->Video, info->Audio});
}

} // namespace

TFormYouTubeHQ::TFormYouTubeHQ(TGlobalVars& vars, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), Vars(vars) {
    setObjectName("FormYouTubeHQ");
    setWindowTitle("Prefer YouTube high quality");

    ListViewYouTubeHQ = new QTreeWidget(this);
    ListViewYouTubeHQ->setObjectName("ListViewYouTubeHQ");
    ListViewYouTubeHQ->setHeaderLabels({"Type", "Format", "Video", "Audio"});
    ListViewYouTubeHQ->setRootIsDecorated(false);
    ListViewYouTubeHQ->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewYouTubeHQ->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewYouTubeHQ->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewYouTubeHQ->header()->setSectionsMovable(false);
    ListViewYouTubeHQ->setGeometry(10, 10, 420, 196);
    ListViewYouTubeHQ->setColumnWidth(0, 70);
    ListViewYouTubeHQ->setColumnWidth(1, 95);
    ListViewYouTubeHQ->setColumnWidth(2, 95);

    auto button = [this](const char* name, const char* caption, int x, int y, int w) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(x, y, w, 28);
        b->setAutoDefault(false);
        return b;
    };
    ButtonUp = button("ButtonUp", "&Up", 440, 10, 110);
    ButtonDown = button("ButtonDown", "&Down", 440, 44, 110);
    ButtonDefault = button("ButtonDefault", "&Default", 440, 104, 110);
    ButtonBestAvailable = button("ButtonBestAvailable", "&Best Available", 440, 138, 110);
    ButtonOK = button("ButtonOK", "&OK", 324, 218, 110);
    ButtonCancel = button("ButtonCancel", "&Cancel", 440, 218, 110);
    ButtonOK->setDefault(true);

    connect(ButtonUp, &QPushButton::clicked, this, &TFormYouTubeHQ::ButtonUpClick);
    connect(ButtonDown, &QPushButton::clicked, this, &TFormYouTubeHQ::ButtonDownClick);
    connect(ButtonDefault, &QPushButton::clicked, this, &TFormYouTubeHQ::ButtonDefaultClick);
    connect(ButtonBestAvailable, &QPushButton::clicked, this,
            &TFormYouTubeHQ::ButtonBestAvailableClick);
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(560, 256);
}

void TFormYouTubeHQ::Load() {
    ListViewYouTubeHQ->clear();
    for (uint8_t code : RepairedPreferenceOrder(PreferenceOrder(Vars)))
        ListViewYouTubeHQ->addTopLevelItem(QualityRow(code));
}

void TFormYouTubeHQ::Store() {
    TPreferenceOrder order = PreferenceOrder(Vars);
    for (int row = 0; row < ListViewYouTubeHQ->topLevelItemCount() && row < QualityCodeCount; ++row)
        order[size_t(row)] =
            QualityCodeOfName(ListViewYouTubeHQ->topLevelItem(row)->text(0).toStdString());
    SetPreferenceOrder(Vars, order);
}

void TFormYouTubeHQ::MoveSelected(int step) {
    QTreeWidget* list = ListViewYouTubeHQ;
    QTreeWidgetItem* selected =
        list->selectedItems().isEmpty() ? nullptr : list->selectedItems().front();
    const int row = selected ? list->indexOfTopLevelItem(selected) : -1;
    const int target = row + step;
    if (row >= 0 && target >= 0 && target < list->topLevelItemCount()) {
        // The copy goes before the row (Up) or after it (Down), the original goes.
        QTreeWidgetItem* copy = selected->clone();
        list->insertTopLevelItem(step < 0 ? target : row + 2, copy);
        delete list->takeTopLevelItem(list->indexOfTopLevelItem(selected));
        list->setCurrentItem(copy);
        copy->setSelected(true);
        list->scrollToItem(copy);
    }
    list->setFocus();
}

void TFormYouTubeHQ::ButtonUpClick() {
    MoveSelected(-1);
}

void TFormYouTubeHQ::ButtonDownClick() {
    MoveSelected(+1);
}

void TFormYouTubeHQ::ButtonDefaultClick() {
    SetPreferenceOrder(Vars, DefaultPreferenceOrder);
    Load();
}

void TFormYouTubeHQ::ButtonBestAvailableClick() {
    SetPreferenceOrder(Vars, BestAvailablePreferenceOrder);
    Load();
}

} // namespace cw
