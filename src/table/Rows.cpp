#include "Rows.h"

#include <cstddef>

int TMemoryRows::Count() const { return static_cast<int>(rows_.size()); }

const TRow& TMemoryRows::Row(int i) const { return rows_.at(static_cast<std::size_t>(i)); }

void TMemoryRows::SetMAC(int i, const std::string& mac) {
    rows_.at(static_cast<std::size_t>(i)).MAC = mac;
}

void TMemoryRows::SetRemark(int i, const std::string& remark) {
    rows_.at(static_cast<std::size_t>(i)).Remark = remark;
}

void TMemoryRows::Append(const std::string& ip, const std::string& mac) {
    rows_.push_back(TRow{ip, mac, ""});
    selected_.push_back(false);
}

void TMemoryRows::Reorder(const std::vector<int>& order) {
    std::vector<TRow> rows;
    std::vector<bool> selected;
    rows.reserve(order.size());
    selected.reserve(order.size());
    for (int k : order) {
        rows.push_back(std::move(rows_.at(static_cast<std::size_t>(k))));
        selected.push_back(selected_.at(static_cast<std::size_t>(k)));
    }
    rows_ = std::move(rows);
    selected_ = std::move(selected);
}

void TMemoryRows::DeleteSelected() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (selected_[i]) continue;
        if (kept != i) rows_[kept] = std::move(rows_[i]);
        ++kept;
    }
    rows_.resize(kept);
    selected_.assign(kept, false);
}

void TMemoryRows::Select(int i, bool selected) {
    selected_.at(static_cast<std::size_t>(i)) = selected;
}
