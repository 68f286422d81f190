#include "download/QueueModel.h"

namespace cw {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

const char* const Captions[] = {"Name", "Status", "Size", "Speed", "Progress", "URL", ""};
static_assert(std::size(Captions) == TQueueModel::QueueColumnCount);

} // namespace

TQueueModel::TQueueModel(QObject* parent) : QAbstractTableModel(parent) {}

void TQueueModel::SetItems(const std::vector<TDownloadItem>& items) {
    Clear();
    if (items.empty())
        return;
    beginInsertRows(QModelIndex(), 0, int(items.size()) - 1);
    Rows = items;
    endInsertRows();
}

void TQueueModel::SetItem(int index, const TDownloadItem& item) {
    if (index < 0 || index >= int(Rows.size()))
        return;
    Rows[size_t(index)] = item;
    emit dataChanged(this->index(index, 0), this->index(index, QueueColumnCount - 1));
}

void TQueueModel::Clear() {
    if (Rows.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(Rows.size()) - 1);
    Rows.clear();
    endRemoveRows();
}

const TDownloadItem* TQueueModel::Item(int row) const {
    return row >= 0 && row < int(Rows.size()) ? &Rows[size_t(row)] : nullptr;
}

int TQueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Rows.size());
}

int TQueueModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : QueueColumnCount;
}

QVariant TQueueModel::data(const QModelIndex& index, int role) const {
    const TDownloadItem* item = Item(index.row());
    if (!item || index.column() < 0 || index.column() >= QueueColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        switch (TColumn(index.column())) {
        case qcName:
            return Text(item->Caption);
        case qcStatus:
            return Text(item->Status);
        case qcSize:
            return Text(item->Size);
        case qcSpeed:
            return Text(item->Speed);
        case qcProgress:
            return Text(item->Progress);
        case qcURL:
            return Text(item->URL);
        case qcSpare:
            // What was saved, once a resolved video is saved ("720p MP4 (H.264 + AAC)").
            return Text(item->Quality);
        default:
            return {};
        }
    case Qt::ToolTipRole:
        // Why it failed, beside the status.
        if (index.column() == qcStatus && !item->Reason.empty())
            return Text(item->Reason);
        return {};
    case ReasonRole:
        return Text(item->Reason);
    case ReceivedRole:
        return qlonglong(item->Received);
    case LengthRole:
        return qlonglong(item->Length);
    default:
        return {};
    }
}

QVariant TQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= QueueColumnCount)
        return {};
    return QString(Captions[section]);
}

} // namespace cw
