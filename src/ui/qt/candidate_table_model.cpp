#include "ui/qt/candidate_table_model.h"

namespace serflash::ui::qt {
namespace {

QString thresholds_text(const std::vector<std::int32_t>& t) {
    QStringList parts;
    for (const std::int32_t v : t) parts << QString::number(v);
    return parts.join(QLatin1Char(' '));
}

} // namespace

int candidate_table_model::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(review_.candidates().size());
}

int candidate_table_model::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count; }

QVariant candidate_table_model::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const candidate& c = review_.candidates()[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return index.column() == file || index.column() == utc || index.column() == thresholds
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::UserRole) return {};
    const bool sort = role == Qt::UserRole;
    switch (index.column()) {
        case file:
            return sort ? QVariant(QStringLiteral("%1/%2")
                                       .arg(QString::fromStdString(c.file))
                                       .arg(c.number, 6, 10, QLatin1Char('0')))
                        : QVariant(QStringLiteral("%1 #%2").arg(QString::fromStdString(c.file)).arg(c.number));
        case utc:
            return c.utc_peak ? QString::fromStdString(*c.utc_peak) : (sort ? QString() : QStringLiteral("-"));
        case frame:
            return c.peak_frame;
        case x:
            return c.x;
        case y:
            return c.y;
        case sigma:
            return sort ? QVariant(c.peak_sigma) : QVariant(QString::number(c.peak_sigma, 'f', 1));
        case duration:
            return c.duration_frames;
        case thresholds:
            return sort ? QVariant(c.highest_threshold) : QVariant(thresholds_text(c.thresholds));
        case mark:
            return QString::fromLatin1(verdict_text(c.mark));
        default:
            return {};
    }
}

QVariant candidate_table_model::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const names[count] = {"File",       "UTC", "Frame", "x", "y", "Peak sigma", "Duration (frames)",
                                             "Thresholds", "Mark"};
    return section >= 0 && section < count ? QString::fromLatin1(names[section]) : QVariant();
}

void candidate_table_model::reload() {
    beginResetModel();
    endResetModel();
}

void candidate_table_model::mark_changed(int row) { emit dataChanged(index(row, mark), index(row, mark)); }

} // namespace serflash::ui::qt
