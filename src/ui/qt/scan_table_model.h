#pragma once
// Shows the scan table's rows in the list view "SER files for scans": the file on display in
// bold with an arrow, rows that cannot be scanned in red with the reason, and the headers'
// meanings as tooltips.
#include "ui/dialog_fields.h"
#include "ui/scan_table.h"

#include <QAbstractTableModel>

namespace serflash::ui::qt {

class scan_table_model final : public QAbstractTableModel {
    Q_OBJECT
public:
    scan_table_model(const scan_table& table, const dialog_fields& fields, QObject* parent = nullptr)
        : QAbstractTableModel(parent), table_(table), fields_(fields) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The table changed in any way.
    void refresh();

private:
    const scan_table& table_;
    const dialog_fields& fields_;
};

} // namespace serflash::ui::qt
