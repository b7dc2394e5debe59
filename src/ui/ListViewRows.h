// The address table's rows as the list view shows them: a table model under ListView1, with the
// row operations the table needs. The selection is the view's.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "Rows.h"
#include "Vendor.h"

class QTableView;

// The MAC cell's tooltip: its vendor (or kLocallyAdministeredText) and the registry's date; empty
// without a registry or for a cell that is no MAC.
QString MacToolTip(const TVendorRegistry* registry, const std::string& cell);

class TRowModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const TRowList& Rows() const { return rows_; }
    void SetCell(int row, int column, const std::string& text);
    void Append(TRow row);
    void Insert(int at, TRow row);
    void Reorder(const std::vector<int>& order);
    // rows: ascending, without repeats.
    void Remove(const std::vector<int>& rows);

  private:
    TRowList rows_;
};

class TListViewRows : public TRows {
  public:
    // Puts a row model under view and sets up its columns.
    explicit TListViewRows(QTableView* view);

    int Count() const override;
    const TRow& Row(int i) const override;
    void SetMAC(int i, const std::string& mac) override;
    void SetRemark(int i, const std::string& remark) override;
    void Append(const std::string& ip, const std::string& mac) override;
    void Insert(int at, const std::string& ip, const std::string& mac) override;
    void Reorder(const std::vector<int>& order) override;
    void DeleteSelected() override;

    TRowModel* Model() const { return model_; }

  private:
    QTableView* view_;
    TRowModel* model_;
};
