#pragma once
// The candidates of a review as table rows: file, UTC, frame, x, y, peak sigma, duration,
// thresholds and the mark. Qt::UserRole gives the value to sort by (numbers as numbers).
#include "ui/review_model.h"

#include <QAbstractTableModel>

namespace serflash::ui::qt {

class candidate_table_model final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum column { file, utc, frame, x, y, sigma, duration, thresholds, mark, count };

    explicit candidate_table_model(const review_model& review, QObject* parent = nullptr)
        : QAbstractTableModel(parent), review_(review) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void reload();
    void mark_changed(int row);

private:
    const review_model& review_;
};

} // namespace serflash::ui::qt
