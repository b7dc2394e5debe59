// Figures for the window's rows at the table's full size (65,536 rows, a /16), with the list
// view shown offscreen: filling, sorting, marking, one find (with its three file writes), and
// deletions.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

#include "AddressTable.h"
#include "ListViewRows.h"
#include "UTypes.h"

namespace {

template <class F>
void Time(const char* what, F&& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    QCoreApplication::processEvents();
    std::printf("%-52s %8.1f ms\n", what, timer.nsecsElapsed() / 1e6);
}

std::string Mac(std::uint32_t i) {
    const std::uint8_t mac[6] = {0x02,
                                 0x51,
                                 0,
                                 static_cast<std::uint8_t>(i >> 16),
                                 static_cast<std::uint8_t>(i >> 8),
                                 static_cast<std::uint8_t>(i)};
    return MacToColonStr(mac);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    constexpr std::uint32_t N = 65536;
    const std::uint32_t base = 0xC6120000;  // 198.18.0.0
    std::vector<std::uint32_t> ips(N);
    std::iota(ips.begin(), ips.end(), base);
    std::shuffle(ips.begin(), ips.end(), std::mt19937(7));

    QTableView view;
    view.resize(395, 185);
    view.show();
    TListViewRows rows(&view);
    TAddressTable table(rows);
    table.SetLocalIPSource([] { return std::string("198.18.0.1"); });

    std::printf("%u rows, list view shown offscreen\n", N);
    Time("append every row (as the list file loads)", [&] {
        for (std::uint32_t i = 0; i < N; ++i)
            rows.Append(IPToStr(HostToNet(ips[i])), Mac(i % 60000));
    });
    Time("sort by address", [&] { table.SortByAddress(); });
    Time("mark duplicates (5,536 MACs held by two rows)", [&] { table.MarkDuplicates(); });
    Time("mark duplicates again (no remark changes)", [&] { table.MarkDuplicates(); });
    Time("SaveAll (three files)", [&] { table.SaveAll(); });
    view.selectRow(100);
    Time("one find of a known address, with SaveAll", [&] {
        const std::uint8_t mac[6] = {0x02, 0x51, 0xAA, 0, 0, 1};
        table.MergeFound(base + 100, mac);
    });
    Time("one find of a new address (re-sort), with SaveAll", [&] {
        rows.DeleteSelected();
        const std::uint8_t mac[6] = {0x02, 0x51, 0xAA, 0, 0, 2};
        table.MergeFound(base + 100, mac);
    });
    Time("delete a block of 1,000 rows", [&] {
        view.clearSelection();
        view.selectionModel()->select(
            QItemSelection(view.model()->index(1000, 0), view.model()->index(1999, 2)),
            QItemSelectionModel::Select);
        rows.DeleteSelected();
    });
    Time("delete every other row", [&] {
        view.clearSelection();
        QItemSelection selection;
        for (int r = 0; r < rows.Count(); r += 2) {
            selection.select(view.model()->index(r, 0), view.model()->index(r, 2));
        }
        view.selectionModel()->select(selection, QItemSelectionModel::Select);
        rows.DeleteSelected();
    });
    std::printf("%d rows left\n", rows.Count());
    return 0;
}
