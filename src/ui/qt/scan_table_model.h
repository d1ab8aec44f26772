#pragma once
// Shows the scan table's rows in the list view "SER files for scans".
#include "ui/scan_table.h"

#include <QAbstractTableModel>

namespace serflash::ui::qt {

class scan_table_model final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit scan_table_model(const scan_table& table, QObject* parent = nullptr)
        : QAbstractTableModel(parent), table_(table) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The table changed in any way.
    void refresh();

private:
    const scan_table& table_;
};

} // namespace serflash::ui::qt
