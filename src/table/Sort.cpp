#include "Sort.h"

#include <algorithm>
#include <numeric>

#include "UTypes.h"

std::uint32_t IPSortKey(const std::string& ip) { return NetToHost(StrToIP(ip)); }

int CompareIP(const std::string& a, const std::string& b) {
    std::uint32_t x = IPSortKey(a);
    std::uint32_t y = IPSortKey(b);
    return x > y ? 1 : (x < y ? -1 : 0);
}

int ListSortProc(const TRow* a, const TRow* b) {
    if (a == nullptr || b == nullptr) return 0;
    return CompareIP(a->IP, b->IP);
}

void SortRows(TRows& rows) {
    // Each key is computed once, so a large table sorts without reparsing its texts per comparison.
    const int n = rows.Count();
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) keys[static_cast<std::size_t>(i)] = IPSortKey(rows.Row(i).IP);
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
    });
    if (!std::is_sorted(order.begin(), order.end())) rows.Reorder(order);
}
