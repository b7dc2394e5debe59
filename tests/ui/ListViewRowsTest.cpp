// The list view's rows against the in-memory rows: the same random operations must leave the
// same rows, and the selection must travel with its rows when they are reordered.
#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <algorithm>
#include <numeric>
#include <random>

#include "ListViewRows.h"
#include "WindowTests.h"

namespace {

void Select(QTableView& view, TMemoryRows& memory, int row) {
    view.selectionModel()->select(view.model()->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    memory.Select(row);
}

bool Same(const TListViewRows& rows, const TMemoryRows& memory) {
    if (rows.Count() != memory.Count()) return false;
    for (int i = 0; i < rows.Count(); ++i) {
        TRow a = rows.Row(i);
        TRow b = memory.Row(i);
        if (a.IP != b.IP || a.MAC != b.MAC || a.Remark != b.Remark) return false;
    }
    return true;
}

}  // namespace

class TListViewRowsTest : public QObject {
    Q_OBJECT
  private slots:
    // The MAC cell's tooltip names the vendor, or a locally administered address, with the
    // registry's date.
    void macToolTip_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("tip");
        QTest::newRow("known vendor") << "00:11:22:33:44:55"
                                      << "厂商：Alpha Ltd\nIEEE 注册表：2022-08-27";
        QTest::newRow("locally administered") << "02-11-22-33-44-55"
                                              << "本地管理地址\nIEEE 注册表：2022-08-27";
        QTest::newRow("not a MAC") << "00:11:22"
                                   << "";
        // A registry line that looks like markup is shown as its text, never drawn as markup.
        QTest::newRow("markup in the registry")
            << "00:11:23:00:00:01"
            << Qt::convertFromPlainText("厂商：<b>Beta</b>\nIEEE 注册表：2022-08-27");
    }
    void macToolTip() {
        QFETCH(QString, cell);
        QFETCH(QString, tip);
        TVendorRegistry registry;
        registry.AddCsv("MA-L,001122,Alpha Ltd,Road 1\nMA-L,001123,<b>Beta</b>,Road 2\n");
        registry.Finish();
        registry.SetDate("2022-08-27");
        QCOMPARE(MacToolTip(&registry, cell.toStdString()), tip);
        QCOMPARE(MacToolTip(nullptr, cell.toStdString()), QString());
    }
    void matchesMemoryRows_data() {
        QTest::addColumn<int>("seed");
        QTest::addColumn<double>("density");  // share of rows selected before a deletion
        QTest::newRow("few selected rows") << 1 << 0.02;
        QTest::newRow("scattered rows, many runs") << 2 << 0.5;
        QTest::newRow("most rows") << 3 << 0.9;
    }
    void matchesMemoryRows() {
        QFETCH(int, seed);
        QFETCH(double, density);
        std::mt19937 random(static_cast<unsigned>(seed));
        QTableView view;
        TListViewRows rows(&view);
        TMemoryRows memory;
        auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
        for (int round = 0; round < 40; ++round) {
            for (int k = 0; k < 50; ++k) {
                const std::string ip =
                    "10.0." + std::to_string(pick(4)) + "." + std::to_string(pick(256));
                const std::string mac = "00:00:00:00:00:" + std::to_string(10 + pick(90));
                rows.Append(ip, mac);
                memory.Append(ip, mac);
            }
            const int n = rows.Count();
            for (int k = 0; k < 10; ++k) {
                const int i = pick(n);
                rows.SetMAC(i, "AA:" + std::to_string(k));
                memory.SetMAC(i, "AA:" + std::to_string(k));
                rows.SetRemark(i, k % 2 ? "?" : "");
                memory.SetRemark(i, k % 2 ? "?" : "");
            }
            view.clearSelection();
            for (int i = 0; i < n; ++i) {
                if (std::bernoulli_distribution(density)(random)) Select(view, memory, i);
            }
            std::vector<int> order(static_cast<std::size_t>(n));
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), random);
            rows.Reorder(order);
            memory.Reorder(order);
            QVERIFY(Same(rows, memory));
            rows.DeleteSelected();
            memory.DeleteSelected();
            QVERIFY2(Same(rows, memory), qPrintable(QString("round %1").arg(round)));
            QCOMPARE(view.model()->rowCount(), rows.Count());
        }
    }

    void reorderRejectsNonPermutations_data() {
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("too short") << QList<int>{0};
        QTest::newRow("repeat") << QList<int>{0, 0};
        QTest::newRow("out of range") << QList<int>{0, 2};
    }
    void reorderRejectsNonPermutations() {
        QFETCH(QList<int>, order);
        QTableView view;
        TListViewRows rows(&view);
        rows.Append("10.0.0.1", "A");
        rows.Append("10.0.0.2", "B");
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 rows.Reorder(std::vector<int>(order.begin(), order.end())));
        QCOMPARE(rows.Row(0).IP, "10.0.0.1");
        QCOMPARE(rows.Row(1).IP, "10.0.0.2");
    }
};

int RunListViewRowsTests(int argc, char** argv) {
    TListViewRowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ListViewRowsTest.moc"
