#include "convert/ProgressListModel.h"

#include <algorithm>

namespace cw {

TProgressListModel::TProgressListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TProgressListModel::Reset(bool merge) {
    Clear();
    if (MergeCaptions != merge) {
        MergeCaptions = merge;
        emit headerDataChanged(Qt::Horizontal, pcStatus, pcProgress);
    }
}

void TProgressListModel::Clear() {
    if (Rows.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(Rows.size()) - 1);
    Rows.clear();
    endRemoveRows();
}

void TProgressListModel::InsertItem(int index, const TProgressItem& item) {
    index = std::clamp(index, 0, int(Rows.size()));
    beginInsertRows(QModelIndex(), index, index);
    Rows.insert(Rows.begin() + index, item);
    endInsertRows();
}

void TProgressListModel::UpdateItem(int index, const TProgressItem& item) {
    if (index < 0 || index >= int(Rows.size()))
        return;
    TProgressItem& row = Rows[size_t(index)];
    row.Status = item.Status;
    row.Progress = item.Progress;
    row.OutputPath = item.OutputPath;
    row.Error = item.Error;
    emit dataChanged(this->index(index, pcStatus), this->index(index, pcProgress));
}

const TProgressItem* TProgressListModel::Item(int row) const {
    return row >= 0 && row < int(Rows.size()) ? &Rows[size_t(row)] : nullptr;
}

QString TProgressListModel::Cell(int row, TColumn column) const {
    return data(index(row, column)).toString();
}

int TProgressListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Rows.size());
}

int TProgressListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ProgressColumnCount;
}

QVariant TProgressListModel::data(const QModelIndex& index, int role) const {
    const TProgressItem* item = Item(index.row());
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case pcName:
            return QString::fromStdString(item->Name);
        case pcDuration:
            return QString::fromStdString(item->DurationText);
        case pcStatus:
            return QString::fromStdString(item->Status);
        case pcProgress:
            return QString::fromStdString(item->Progress);
        case pcPath:
            return QString::fromStdString(item->PathCell);
        default:
            return {};
        }
    case InputPathRole:
        return QString::fromStdString(item->InputPath);
    case OutputPathRole:
        return QString::fromStdString(item->OutputPath);
    case DurationRole:
        return qlonglong(item->Duration);
    default:
        return {};
    }
}

QVariant TProgressListModel::headerData(int section, Qt::Orientation orientation,
                                        int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case pcName:
        return QString("Name");
    case pcDuration:
        return QString("Duration");
    case pcStatus:
        return QString(MergeCaptions ? "Width x Height" : "Status");
    case pcProgress:
        return QString(MergeCaptions ? "Aspect Ratio" : "Progress");
    case pcPath:
        return QString("Path");
    default:
        return {};
    }
}

} // namespace cw
