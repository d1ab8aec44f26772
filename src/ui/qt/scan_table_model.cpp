#include "ui/qt/scan_table_model.h"

#include "ui/main_dialog.h"
#include "ui/setting_table.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
#include <QPalette>
#include <QStyle>

namespace serflash::ui::qt {
namespace {

constexpr const char* marked_tip = "The file on display in the image window";

QString header_tip(int column) {
    if (const setting_rule* rule = setting_for_column(column); rule != nullptr)
        return QString::fromLatin1(rule->help.data(), static_cast<qsizetype>(rule->help.size())) + ". " +
               QString::fromStdString(allowed_values(*rule)) + ".";
    switch (column) {
        case col_mark:
            return QString::fromLatin1(marked_tip);
        case col_name:
            return QStringLiteral("Double-click a name to show that file");
        case col_frames:
            return QStringLiteral("Frames in the file");
        default:
            return {};
    }
}

} // namespace

int scan_table_model::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int scan_table_model::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : column_count; }

QVariant scan_table_model::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row(), col = index.column();
    const bool counted = row < table_.list_file;
    const bool marked = counted && row == table_.find_marked_row();
    switch (role) {
        case Qt::DisplayRole:
            return col == col_mark ? QString() : QString::fromStdString(table_.cell(row, col));
        case Qt::DecorationRole:
            if (col == col_mark && marked) return QApplication::style()->standardIcon(QStyle::SP_ArrowRight);
            return {};
        case Qt::FontRole:
            if (marked) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::ForegroundRole:
            if (counted && !row_problem(table_, row, fields_).empty()) return QBrush(Qt::red);
            return {};
        case Qt::ToolTipRole: {
            if (!counted) return QStringLiteral("Listed beyond the 40 files a scan takes: not scanned");
            if (const std::string problem = row_problem(table_, row, fields_); !problem.empty())
                return QString::fromStdString("Cannot be scanned. " + problem);
            if (marked) return QString::fromLatin1(marked_tip);
            return {};
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant scan_table_model::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= column_count) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(columns[static_cast<std::size_t>(section)].header);
    if (role == Qt::ToolTipRole) return header_tip(section);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void scan_table_model::refresh() {
    beginResetModel();
    endResetModel();
}

} // namespace serflash::ui::qt
