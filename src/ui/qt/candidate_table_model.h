#pragma once
// The candidates of a review as table rows, one column per entry of review_columns() (the
// verdict first). Qt::UserRole gives the value to sort by (numbers as numbers).
#include "ui/review_columns.h"
#include "ui/review_model.h"

#include <QAbstractTableModel>

namespace serflash::ui::qt {

class candidate_table_model final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit candidate_table_model(const review_model& review, QObject* parent = nullptr)
        : QAbstractTableModel(parent), review_(review) {}

    // The column with this id (review_columns()), -1 for none.
    static int column(std::string_view id) { return review_column_index(id); }

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
