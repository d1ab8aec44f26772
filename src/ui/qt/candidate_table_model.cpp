#include "ui/qt/candidate_table_model.h"

namespace serflash::ui::qt {

int candidate_table_model::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(review_.candidates().size());
}

int candidate_table_model::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(review_columns().size());
}

QVariant candidate_table_model::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const candidate& c = review_.candidates()[static_cast<std::size_t>(index.row())];
    const review_column& col = review_columns()[static_cast<std::size_t>(index.column())];
    switch (role) {
        case Qt::TextAlignmentRole:
            return QVariant((col.numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        case Qt::DisplayRole:
            return QString::fromStdString(col.text(c));
        case Qt::UserRole: {
            const sort_key key = col.key(c);
            if (const double* v = std::get_if<double>(&key)) return *v;
            return QString::fromStdString(std::get<std::string>(key));
        }
        default:
            return {};
    }
}

QVariant candidate_table_model::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const review_column& col = review_columns()[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) return QString::fromLatin1(col.header);
    if (role == Qt::ToolTipRole) return QString::fromLatin1(col.tip);
    return {};
}

void candidate_table_model::reload() {
    beginResetModel();
    endResetModel();
}

void candidate_table_model::mark_changed(int row) {
    const int mark = column("mark");
    emit dataChanged(index(row, mark), index(row, mark));
}

} // namespace serflash::ui::qt
