#include "ListViewRows.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTextDocument>
#include <algorithm>
#include <stdexcept>

#include "UTypes.h"

namespace {

struct TColumn {
    const char* Header;
    int Width;
};
const TColumn Columns[] = {{"IP地址", 120}, {"MAC地址", 120}, {"备注", 100}};
constexpr int ColumnCount = 3;

// Removing row by row is cheap for a few runs of rows; past this many a reset is cheaper.
constexpr std::size_t MaxRemovedRuns = 32;

const std::string& Cell(const TRow& row, int column) {
    switch (column) {
        case 0:
            return row.IP;
        case 1:
            return row.MAC;
        default:
            return row.Remark;
    }
}

std::size_t At(const TRowList& rows, int i) {
    if (i < 0 || static_cast<std::size_t>(i) >= rows.size()) {
        throw std::out_of_range("row index out of range");
    }
    return static_cast<std::size_t>(i);
}

}  // namespace

int TRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString MacToolTip(const TVendorRegistry* registry, const std::string& cell) {
    if (registry == nullptr || registry->Empty()) return {};
    TMacAddr mac;
    try {
        mac = StrToMac(cell);
    } catch (const EConvertError&) {
        return {};
    }
    const std::string vendor = VendorOf(registry, mac.data());
    QString tip = (mac[0] & 0x02) != 0 ? QString::fromUtf8(kLocallyAdministeredText)
                                       : QStringLiteral("厂商：%1")
                                             .arg(vendor.empty() ? QStringLiteral("未登记")
                                                                 : QString::fromStdString(vendor));
    if (!registry->Date().empty())
        tip += QStringLiteral("\nIEEE 注册表：%1").arg(QString::fromStdString(registry->Date()));
    // A tooltip that looks like markup is drawn as markup: a registry's text is shown as text.
    return Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip) : tip;
}

QVariant TRowModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::ToolTipRole && index.isValid() && index.column() == 1)
        return MacToolTip(LoadedVendors(), rows_[static_cast<std::size_t>(index.row())].MAC);
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    // The cells hold the list file's bytes, in the system's code page.
    return QString::fromLocal8Bit(
        Cell(rows_[static_cast<std::size_t>(index.row())], index.column()));
}

QVariant TRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf8(Columns[section].Header);
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void TRowModel::SetCell(int row, int column, const std::string& text) {
    TRow& r = rows_[At(rows_, row)];
    std::string& cell = column == 1 ? r.MAC : r.Remark;
    if (cell == text) return;
    cell = text;
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void TRowModel::Append(TRow row) {
    const int n = static_cast<int>(rows_.size());
    beginInsertRows({}, n, n);
    rows_.push_back(std::move(row));
    endInsertRows();
}

void TRowModel::Insert(int at, TRow row) {
    if (at < 0 || static_cast<std::size_t>(at) > rows_.size()) {
        throw std::out_of_range("row index out of range");
    }
    beginInsertRows({}, at, at);
    rows_.insert(static_cast<std::size_t>(at), std::move(row));
    endInsertRows();
}

void TRowModel::Reorder(const std::vector<int>& order) {
    if (order.size() != rows_.size()) throw std::invalid_argument("order is not a permutation");
    std::vector<int> newRow(order.size(), -1);
    bool moved = false;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t old = At(rows_, order[k]);
        if (newRow[old] != -1) throw std::invalid_argument("order is not a permutation");
        newRow[old] = static_cast<int>(k);
        moved = moved || old != k;
    }
    if (!moved) return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    TRowList rows;
    rows.reserve(rows_.size());
    for (int k : order) rows.push_back(std::move(rows_[static_cast<std::size_t>(k)]));
    rows_ = std::move(rows);
    // The selection and the current row travel with their rows.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        to.append(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TRowModel::Remove(const std::vector<int>& rows) {
    if (rows.empty()) return;
    // Runs of adjacent rows, removed from the last one back so the earlier indexes hold.
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        At(rows_, r);
        if (!runs.empty() && runs.back().second + 1 == r) {
            runs.back().second = r;
        } else {
            runs.emplace_back(r, r);
        }
    }
    if (runs.size() <= MaxRemovedRuns) {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            rows_.erase(static_cast<std::size_t>(run->first),
                        static_cast<std::size_t>(run->second) + 1);
            endRemoveRows();
        }
        return;
    }
    beginResetModel();
    std::size_t kept = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (next < rows.size() && static_cast<std::size_t>(rows[next]) == i) {
            ++next;
            continue;
        }
        if (kept != i) rows_[kept] = std::move(rows_[i]);
        ++kept;
    }
    rows_.truncate(kept);
    endResetModel();
}

TListViewRows::TListViewRows(QTableView* view) : view_(view), model_(new TRowModel(view)) {
    view_->setModel(model_);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionsClickable(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < ColumnCount; ++c) view_->setColumnWidth(c, Columns[c].Width);
    // Fixed row heights keep a long list quick to scroll and to change.
    QHeaderView* rowsHeader = view_->verticalHeader();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(view_->fontMetrics().height() + 4);
}

int TListViewRows::Count() const { return model_->rowCount(); }

const TRow& TListViewRows::Row(int i) const { return model_->Rows()[At(model_->Rows(), i)]; }

void TListViewRows::SetMAC(int i, const std::string& mac) { model_->SetCell(i, 1, mac); }

void TListViewRows::SetRemark(int i, const std::string& remark) { model_->SetCell(i, 2, remark); }

void TListViewRows::Append(const std::string& ip, const std::string& mac) {
    model_->Append(TRow{ip, mac, ""});
}

void TListViewRows::Insert(int at, const std::string& ip, const std::string& mac) {
    model_->Insert(at, TRow{ip, mac, ""});
}

void TListViewRows::Reorder(const std::vector<int>& order) { model_->Reorder(order); }

void TListViewRows::DeleteSelected() {
    std::vector<int> rows;
    if (QItemSelectionModel* selection = view_->selectionModel()) {
        for (const QItemSelectionRange& range : selection->selection()) {
            for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    model_->Remove(rows);
}
