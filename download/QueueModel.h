// The download queue as an item model: one row per queued link with the six named columns
// of the queue table (and an empty last one), the failure reason as the status cell's tool
// tip, and the whole item under ItemRole-named roles for views and scripts. The pages hand it
// the queue's items when the queue changes; no view reads the queue itself.
#pragma once

#include "download/DownloadQueue.h"

#include <QAbstractTableModel>

#include <vector>

namespace cw {

class TQueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { qcName, qcStatus, qcSize, qcSpeed, qcProgress, qcURL, qcSpare, QueueColumnCount };
    enum TRole {
        ReasonRole = Qt::UserRole + 1, // why the last request failed
        ReceivedRole,                  // bytes received, as a number
        LengthRole,                    // the stated length, -1 when none
    };

    explicit TQueueModel(QObject* parent = nullptr);

    // The queue was rebuilt: every row is replaced.
    void SetItems(const std::vector<TDownloadItem>& items);
    // One item changed: its row is updated; an index outside the rows is ignored.
    void SetItem(int index, const TDownloadItem& item);
    void Clear();
    const TDownloadItem* Item(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<TDownloadItem> Rows;
};

} // namespace cw
