#include "convert/InputListModel.h"

#include <cstdlib>

namespace cw {

TInputListModel::TInputListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TInputListModel::AppendRow(const TInputRow& row, const QVariant& picture) {
    const int at = int(Rows.size());
    beginInsertRows(QModelIndex(), at, at);
    Rows.push_back({row, picture});
    endInsertRows();
}

bool TInputListModel::RemoveRow(int row) {
    if (row < 0 || row >= int(Rows.size()))
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    Rows.erase(Rows.begin() + row);
    endRemoveRows();
    return true;
}

bool TInputListModel::MoveRow(int from, int to) {
    const int rows = int(Rows.size());
    if (from < 0 || from >= rows || to < 0 || to >= rows)
        return false;
    if (from == to)
        return true;
    // The model's move names the row before which the moved row lands.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    TEntry moved = std::move(Rows[size_t(from)]);
    Rows.erase(Rows.begin() + from);
    Rows.insert(Rows.begin() + to, std::move(moved));
    endMoveRows();
    return true;
}

void TInputListModel::Clear() {
    if (Rows.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(Rows.size()) - 1);
    Rows.clear();
    endRemoveRows();
}

const TInputRow* TInputListModel::Row(int row) const {
    return row >= 0 && row < int(Rows.size()) ? &Rows[size_t(row)].Cells : nullptr;
}

std::string TInputListModel::CellText(int row, TInputCell cell) const {
    return data(index(row, cell)).toString().toStdString();
}

std::vector<TRunInput> TInputListModel::RunInputs() const {
    std::vector<TRunInput> inputs;
    for (const TEntry& entry : Rows) {
        const TInputRow& row = entry.Cells;
        TRunInput input;
        input.Path = row.Path();
        // The duration cell holds the microseconds as digits ("0" without a duration).
        input.Duration = std::strtoll(row.Cells[icRealDuration].c_str(), nullptr, 10);
        input.Width = row.Width;
        input.Height = row.Height;
        input.AspectRatio = row.AspectRatio;
        inputs.push_back(std::move(input));
    }
    return inputs;
}

int TInputListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Rows.size());
}

int TInputListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : InputCellCount;
}

QVariant TInputListModel::data(const QModelIndex& index, int role) const {
    if (index.row() < 0 || index.row() >= int(Rows.size()) || index.column() < 0 ||
        index.column() >= InputCellCount)
        return {};
    const TEntry& entry = Rows[size_t(index.row())];
    const TInputRow& row = entry.Cells;
    const auto cell = TInputCell(index.column());
    switch (role) {
    case Qt::DisplayRole:
        switch (cell) {
        case icMainImage:
            return {};
        case icWidth:
            return row.Width;
        case icHeight:
            return row.Height;
        case icAspectRatio:
            return row.AspectRatio;
        default:
            return QString::fromStdString(row.Cells[size_t(cell)]);
        }
    case Qt::DecorationRole:
        return cell == icMainImage ? entry.Picture : QVariant();
    case Qt::ToolTipRole:
        return cell == icMainImage ? QString::fromStdString(row.Path()) : QVariant();
    case PathRole:
        return QString::fromStdString(row.Path());
    case AudioOnlyRole:
        return row.AudioOnly;
    default:
        return {};
    }
}

Qt::ItemFlags TInputListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

} // namespace cw
