#include "ui/qt/scan_table_model.h"

namespace serflash::ui::qt {

int scan_table_model::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int scan_table_model::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : column_count; }

QVariant scan_table_model::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(table_.cell(index.row(), index.column()));
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant scan_table_model::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= column_count) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(columns[static_cast<std::size_t>(section)].header);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void scan_table_model::refresh() {
    beginResetModel();
    endResetModel();
}

} // namespace serflash::ui::qt
