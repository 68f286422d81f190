// The progress list of a conversion run as an item model: one row per task item with the five
// named columns of the progress table. The captions of the Status and Progress columns follow
// the run's mode (a joining run shows the picture size and aspect ratio there). The page hands
// it what the run reports; the view only reads the model.
#pragma once

#include "convert/ConversionRun.h"

#include <QAbstractTableModel>

#include <vector>

namespace cw {

class TProgressListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { pcName, pcDuration, pcStatus, pcProgress, pcPath, ProgressColumnCount };
    enum TRole {
        InputPathRole = Qt::UserRole + 1,
        OutputPathRole,
        DurationRole, // µs, -1 unknown
    };

    explicit TProgressListModel(QObject* parent = nullptr);

    // A run starts: the list is emptied and the captions follow the mode.
    void Reset(bool merge);
    void Clear();
    void InsertItem(int index, const TProgressItem& item);
    // The cells a run changes while it goes (status and progress) and the task's error; other
    // indices are ignored.
    void UpdateItem(int index, const TProgressItem& item);
    const TProgressItem* Item(int row) const;
    // The text of a cell; empty outside the rows.
    QString Cell(int row, TColumn column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<TProgressItem> Rows;
    bool MergeCaptions = false;
};

} // namespace cw
