// The input list as an item model: one row per opened file, one column per named cell of
// TInputRow (the picture cell first), plus the row's picture as the first cell's decoration
// and its path as that cell's tool tip. The width, height and aspect ratio cells hold numbers.
// The page adds, moves and removes rows here; the run takes its inputs from here.
#pragma once

#include "convert/ConversionRun.h"
#include "convert/InputList.h"

#include <QAbstractTableModel>
#include <QVariant>

#include <vector>

namespace cw {

class TInputListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TRole {
        PathRole = Qt::UserRole + 1, // the path as given
        AudioOnlyRole,               // no video stream
    };

    explicit TInputListModel(QObject* parent = nullptr);

    // Appends a row; picture is what the card shows (any value the view can draw; none for
    // an empty frame).
    void AppendRow(const TInputRow& row, const QVariant& picture = QVariant());
    // False when the index is outside the list.
    bool RemoveRow(int row);
    // Moves a row with all its cells; false when an index is outside the list.
    bool MoveRow(int from, int to);
    void Clear();
    const TInputRow* Row(int row) const;
    // A cell as text; empty outside the list.
    std::string CellText(int row, TInputCell cell) const;
    // The rows as a conversion run takes them, in list order.
    std::vector<TRunInput> RunInputs() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct TEntry {
        TInputRow Cells;
        QVariant Picture;
    };
    std::vector<TEntry> Rows;
};

} // namespace cw
