#include "Rows.h"

#include <cstddef>
#include <numeric>
#include <stdexcept>
#include <utility>

void TRows::Insert(int at, const std::string& ip, const std::string& mac) {
    const int n = Count();
    if (at < 0 || at > n) throw std::out_of_range("row index out of range");
    Append(ip, mac);
    if (at == n) return;
    std::vector<int> order(static_cast<std::size_t>(n) + 1);
    std::iota(order.begin(), order.end(), 0);
    order.insert(order.begin() + at, n);
    order.pop_back();
    Reorder(order);
}

TMemoryRows::TMemoryRows(std::vector<TRow> rows)
    : rows_(std::move(rows)), selected_(rows_.size(), false) {}

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

void TMemoryRows::Insert(int at, const std::string& ip, const std::string& mac) {
    if (at < 0 || static_cast<std::size_t>(at) > rows_.size()) {
        throw std::out_of_range("row index out of range");
    }
    rows_.insert(rows_.begin() + at, TRow{ip, mac, ""});
    selected_.insert(selected_.begin() + at, false);
}

// In place, cycle by cycle, so that a large table is never held twice.
void TMemoryRows::Reorder(const std::vector<int>& order) {
    if (order.size() != rows_.size()) throw std::out_of_range("row order of another size");
    std::vector<bool> placed(order.size(), false);
    for (int from : order) {
        if (from < 0 || static_cast<std::size_t>(from) >= order.size() ||
            placed[static_cast<std::size_t>(from)]) {
            throw std::out_of_range("row order is no permutation");
        }
        placed[static_cast<std::size_t>(from)] = true;
    }
    placed.assign(order.size(), false);
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (placed[start]) continue;
        TRow row = std::move(rows_[start]);
        bool selected = selected_[start];
        std::size_t k = start;
        for (;;) {
            placed[k] = true;
            const auto from = static_cast<std::size_t>(order[k]);
            if (from == start) break;
            rows_[k] = std::move(rows_[from]);
            selected_[k] = selected_[from];
            k = from;
        }
        rows_[k] = std::move(row);
        selected_[k] = selected;
    }
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

void TMemoryRows::Reserve(int count) {
    if (count <= 0) return;
    rows_.reserve(static_cast<std::size_t>(count));
    selected_.reserve(static_cast<std::size_t>(count));
}

void TMemoryRows::Select(int i, bool selected) {
    selected_.at(static_cast<std::size_t>(i)) = selected;
}
