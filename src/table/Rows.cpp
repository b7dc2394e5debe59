#include "Rows.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
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

std::size_t TRowList::Locate(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("row index out of range");
    if (hint_ < blocks_.size() && starts_[hint_] <= i && i < starts_[hint_] + blocks_[hint_].size())
        return hint_;
    if (hint_ + 1 < blocks_.size() && starts_[hint_ + 1] <= i &&
        i < starts_[hint_ + 1] + blocks_[hint_ + 1].size())
        return ++hint_;
    hint_ = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) -
                                     starts_.begin()) -
            1;
    return hint_;
}

TRow& TRowList::operator[](std::size_t i) {
    const std::size_t b = Locate(i);
    return blocks_[b][i - starts_[b]];
}

const TRow& TRowList::operator[](std::size_t i) const {
    const std::size_t b = Locate(i);
    return blocks_[b][i - starts_[b]];
}

void TRowList::push_back(TRow row) {
    if (blocks_.empty() || blocks_.back().size() >= kBlock) {
        blocks_.emplace_back().reserve(kBlock);
        starts_.push_back(size_);
    }
    blocks_.back().push_back(std::move(row));
    ++size_;
}

void TRowList::insert(std::size_t at, TRow row) {
    if (at > size_) throw std::out_of_range("row index out of range");
    if (at == size_) {
        push_back(std::move(row));
        return;
    }
    const std::size_t b = Locate(at);
    std::vector<TRow>& block = blocks_[b];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(at - starts_[b]), std::move(row));
    ++size_;
    for (std::size_t k = b + 1; k < starts_.size(); ++k) ++starts_[k];
    if (block.size() < 2 * kBlock) return;
    // A full block is split in two halves.
    std::vector<TRow> tail;
    tail.reserve(kBlock);
    std::move(block.begin() + kBlock, block.end(), std::back_inserter(tail));
    block.resize(kBlock);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(tail));
    starts_.insert(starts_.begin() + static_cast<std::ptrdiff_t>(b + 1), starts_[b] + kBlock);
}

void TRowList::truncate(std::size_t n) {
    while (!blocks_.empty() && starts_.back() >= n) {
        blocks_.pop_back();
        starts_.pop_back();
    }
    if (!blocks_.empty() && starts_.back() + blocks_.back().size() > n)
        blocks_.back().resize(n - starts_.back());
    size_ = std::min(size_, n);
    hint_ = 0;
}

void TRowList::erase(std::size_t first, std::size_t last) {
    if (first > last || last > size_) throw std::out_of_range("row range out of range");
    for (std::size_t i = last; i < size_; ++i) (*this)[i - (last - first)] = std::move((*this)[i]);
    truncate(size_ - (last - first));
}

TMemoryRows::TMemoryRows(std::vector<TRow> rows) {
    rows_.reserve(rows.size());
    for (TRow& row : rows) rows_.push_back(std::move(row));
    selected_.assign(rows_.size(), 0);
}

std::vector<TRow> TMemoryRows::Rows() const {
    std::vector<TRow> rows;
    rows.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) rows.push_back(rows_[i]);
    return rows;
}

int TMemoryRows::Count() const { return static_cast<int>(rows_.size()); }

const TRow& TMemoryRows::Row(int i) const { return rows_[static_cast<std::size_t>(i)]; }

void TMemoryRows::SetMAC(int i, const std::string& mac) {
    rows_[static_cast<std::size_t>(i)].MAC = mac;
}

void TMemoryRows::SetRemark(int i, const std::string& remark) {
    rows_[static_cast<std::size_t>(i)].Remark = remark;
}

void TMemoryRows::Append(const std::string& ip, const std::string& mac) {
    rows_.push_back(TRow{ip, mac, ""});
    selected_.push_back(0);
}

void TMemoryRows::Insert(int at, const std::string& ip, const std::string& mac) {
    if (at < 0 || static_cast<std::size_t>(at) > rows_.size()) {
        throw std::out_of_range("row index out of range");
    }
    rows_.insert(static_cast<std::size_t>(at), TRow{ip, mac, ""});
    selected_.insert(selected_.begin() + at, 0);
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
        std::uint8_t selected = selected_[start];
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
    rows_.truncate(kept);
    selected_.assign(kept, 0);
}

void TMemoryRows::Reserve(int count) {
    if (count <= 0) return;
    rows_.reserve(static_cast<std::size_t>(count));
    selected_.reserve(static_cast<std::size_t>(count));
}

void TMemoryRows::Select(int i, bool selected) {
    selected_.at(static_cast<std::size_t>(i)) = selected ? 1 : 0;
}
