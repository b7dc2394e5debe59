#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../support/TempDir.h"
#include "AddressTable.h"
#include "QueueDispatcher.h"
#include "SaveWriter.h"
#include "UTypes.h"

namespace {

std::vector<std::string> IPs(const TMemoryRows& rows) {
    std::vector<std::string> ips;
    for (const TRow& r : rows.Rows()) ips.push_back(r.IP);
    return ips;
}

std::vector<std::string> Remarks(const TMemoryRows& rows) {
    std::vector<std::string> remarks;
    for (const TRow& r : rows.Rows()) remarks.push_back(r.Remark);
    return remarks;
}

class AddressTableTest : public testing::Test {
  protected:
    AddressTableTest() {
        table.SetDirectory(dir.Path());
        table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
    }
    void Find(const char* ip, const std::uint8_t* mac) {
        table.MergeFound(NetToHost(StrToIP(ip)), mac);
        table.SaveAll();
    }

    TTempDir dir;
    TMemoryRows rows;
    TAddressTable table{rows};
};

const std::uint8_t kMacA[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::uint8_t kMacB[6] = {0x00, 0x0F, 0xE2, 0x11, 0x22, 0x33};

TEST(CompareIP, NumericOrderWithUnreadableTextFirst) {
    EXPECT_LT(CompareIP("192.168.1.9", "192.168.1.10"), 0);
    EXPECT_GT(CompareIP("192.168.1.10", "192.168.1.9"), 0);
    EXPECT_EQ(CompareIP("192.168.001.5", "192.168.1.5"), 0);
    EXPECT_GT(CompareIP("200.0.0.1", "1.2.3.4"), 0);  // unsigned: high first octets sort last
    EXPECT_LT(CompareIP("garbage", "0.0.0.1"), 0);
    TRow a{"1.1.1.1", "", ""};
    EXPECT_EQ(ListSortProc(nullptr, &a), 0);
    EXPECT_EQ(ListSortProc(&a, nullptr), 0);
}

TEST_F(AddressTableTest, NewFindIsPlacedInNumericOrderAndSaved) {
    rows.Append("192.168.1.10", "00:00:00:00:00:10");
    rows.Append("192.168.1.9", "00:00:00:00:00:09");
    Find("192.168.1.7", kMacA);
    EXPECT_EQ(IPs(rows), (std::vector<std::string>{"192.168.1.7", "192.168.1.9", "192.168.1.10"}));
    EXPECT_EQ(rows.Rows()[0].MAC, "00:1A:2B:3C:4D:5E");
    EXPECT_NE(dir.Read("ArpList.ini").find("192.168.1.7|00:1A:2B:3C:4D:5E\r\n"), std::string::npos);
    EXPECT_NE(dir.Read("BindArp.bat").find("arp -s 192.168.1.7 00-1A-2B-3C-4D-5E\r\n"),
              std::string::npos);
    EXPECT_TRUE(dir.Exists("BindDhcp.bat"));
}

TEST_F(AddressTableTest, RepeatedFindReplacesTheFirstMatchingRowInPlace) {
    rows.Append("10.0.0.9", "11:11:11:11:11:11");
    rows.Append("10.0.0.2", "22:22:22:22:22:22");  // out of order: an update must not re-sort
    rows.Append("10.0.0.2", "33:33:33:33:33:33");
    Find("10.0.0.2", kMacA);
    ASSERT_EQ(rows.Count(), 3);
    EXPECT_EQ(IPs(rows), (std::vector<std::string>{"10.0.0.9", "10.0.0.2", "10.0.0.2"}));
    EXPECT_EQ(rows.Rows()[1].MAC, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(rows.Rows()[2].MAC, "33:33:33:33:33:33");
}

TEST_F(AddressTableTest, TextThatDiffersFromTheFoundAddressGetsASecondRow) {
    rows.Append("192.168.001.5", "11:11:11:11:11:11");
    Find("192.168.1.5", kMacA);
    EXPECT_EQ(rows.Count(), 2);
}

TEST_F(AddressTableTest, DuplicateMarksFollowExactMacText) {
    rows.Append("1.0.0.1", "00:1A:2B:3C:4D:5E");
    rows.Append("1.0.0.2", "00:1a:2b:3c:4d:5e");  // another text: no duplicate
    rows.Append("1.0.0.3", "00:1A:2B:3C:4D:5E");
    rows.Append("1.0.0.4", "");
    rows.Append("1.0.0.5", "");
    rows.Append("1.0.0.6", "AA:AA:AA:AA:AA:AA");
    table.MarkDuplicates();
    EXPECT_EQ(Remarks(rows), (std::vector<std::string>{"?", "", "?", "?", "?", ""}));

    rows.Select(2);
    rows.Select(4);
    table.DeleteSelected();
    EXPECT_EQ(IPs(rows), (std::vector<std::string>{"1.0.0.1", "1.0.0.2", "1.0.0.4", "1.0.0.6"}));
    EXPECT_EQ(Remarks(rows), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_NE(dir.Read("ArpList.ini").find("1.0.0.6|AA:AA"), std::string::npos);
}

TEST_F(AddressTableTest, DeletingNothingStillRewritesTheFiles) {
    rows.Append("1.0.0.1", "00:1A:2B:3C:4D:5E");
    table.DeleteSelected();
    EXPECT_EQ(rows.Count(), 1);
    EXPECT_TRUE(dir.Exists("ArpList.ini"));
    EXPECT_TRUE(dir.Exists("BindArp.bat"));
    EXPECT_TRUE(dir.Exists("BindDhcp.bat"));
}

TEST_F(AddressTableTest, MarksEqualThePairwiseDefinitionOnRandomTables) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        TMemoryRows r;
        TAddressTable t(r);
        int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            // few distinct texts, so that duplicates, case variants and empties are common
            static const char* macs[] = {"",
                                         "00:00:00:00:00:01",
                                         "00:00:00:00:00:0A",
                                         "00:00:00:00:00:0a",
                                         "FF:FF:FF:FF:FF:FF",
                                         "x"};
            r.Append(std::to_string(i), macs[rng() % 6]);
            if (rng() % 3 == 0) r.SetRemark(i, "?");  // stale marks must be cleared
        }
        t.MarkDuplicates();
        for (int i = 0; i < n; ++i) {
            bool duplicate = false;
            for (int j = 0; j < n; ++j) {
                if (i != j && r.Rows()[i].MAC == r.Rows()[j].MAC) duplicate = true;
            }
            ASSERT_EQ(r.Rows()[i].Remark, duplicate ? "?" : "")
                << "round " << round << " row " << i;
        }
    }
}

// Finds in random order on a table in address order: the rows, the marks and the files equal
// those of appending, sorting and marking over all rows, as every find did before.
TEST_F(AddressTableTest, FindsKeepOrderMarksAndFilesAsAWholeSortWould) {
    std::mt19937 rng(11);
    TTempDir other;
    TMemoryRows plain;
    TAddressTable reference(plain);
    reference.SetDirectory(other.Path());
    reference.SetLocalIPSource([] { return std::string("198.18.0.1"); });
    for (TAddressTable* t : {&table, &reference}) {
        t->Rows().Append("198.18.0.020", "02:00:00:00:00:01");  // another text of .20
        t->Rows().Append("198.18.0.30", "02:00:00:00:00:02");
        t->SortByAddress();
        t->MarkDuplicates();
    }
    for (int i = 0; i < 300; ++i) {
        const std::uint32_t ip = 0xC6120000u + rng() % 40;
        const std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(rng() % 6)};
        const TAddressTable::TMerged merged = table.MergeFound(ip, mac);
        const std::string ipText = IPToStr(HostToNet(ip));
        ASSERT_EQ(table.FindIP(ipText), merged.Row);
        ASSERT_EQ(rows.Rows()[static_cast<std::size_t>(merged.Row)].IP, ipText);

        const std::string macText = MacToColonStr(mac);
        int at = -1;
        for (int r = 0; r < plain.Count() && at < 0; ++r) {
            if (plain.Row(r).IP == ipText) at = r;
        }
        ASSERT_EQ(merged.Appended, at < 0);
        if (at >= 0) {
            plain.SetMAC(at, macText);
        } else {
            plain.Append(ipText, macText);
            reference.SortByAddress();
        }
        reference.MarkDuplicates();
        ASSERT_EQ(IPs(rows), IPs(plain)) << "find " << i;
        ASSERT_EQ(Remarks(rows), Remarks(plain)) << "find " << i;
    }
    ASSERT_TRUE(table.Snapshot()());
    ASSERT_TRUE(reference.SaveAll());
    for (const char* file : {"ArpList.ini", "BindArp.bat", "BindDhcp.bat"})
        EXPECT_EQ(dir.Read(file), other.Read(file)) << file;
}

TEST_F(AddressTableTest, FindIPGivesTheFirstRowOfThatText) {
    for (const char* ip : {"10.0.0.3", "10.0.0.1", "10.0.0.01", "10.0.0.1", "junk"})
        rows.Append(ip, "");
    table.SortByAddress();
    EXPECT_EQ(table.FindIP("10.0.0.1"), 1);
    EXPECT_EQ(table.FindIP("10.0.0.01"), 2);
    EXPECT_EQ(table.FindIP("junk"), 0);
    EXPECT_EQ(table.FindIP("10.0.0.2"), std::nullopt);
    rows.Append("10.0.0.2", "");  // behind the table's back: still found
    EXPECT_EQ(table.FindIP("10.0.0.2"), 5);
}

TEST_F(AddressTableTest, SortPutsUnreadableAddressesFirstAndKeepsEqualOnesInOrder) {
    for (const char* ip : {"10.0.0.3", "not an address", "10.0.0.1", "0.0.0.0", "10.0.0.2"}) {
        rows.Append(ip, "");
    }
    table.SortByAddress();
    EXPECT_EQ(IPs(rows), (std::vector<std::string>{"not an address", "0.0.0.0", "10.0.0.1",
                                                   "10.0.0.2", "10.0.0.3"}));

    // 48 rows in a scrambled order, eight per key: below 16 rows std::sort is an insertion sort,
    // which keeps equal ones in order by chance. Each MAC names the row's place before the sort.
    const std::vector<std::pair<std::string, int>> keyed = {
        {"not an address", 0}, {"x", 0},        {"0.0.0.0", 0},
        {"9.255.255.255", 1},  {"10.0.0.1", 2}, {"198.18.0.7", 3}};
    std::vector<int> picks;
    for (int i = 0; i < 48; ++i) picks.push_back(i % 6);
    std::shuffle(picks.begin(), picks.end(), std::mt19937(20261209));
    TMemoryRows many;
    TAddressTable manyTable(many);
    for (int i = 0; i < 48; ++i) many.Append(keyed[picks[i]].first, std::to_string(i));
    std::vector<std::pair<std::string, std::string>> expected;
    for (int rank = 0; rank <= 3; ++rank) {
        for (int i = 0; i < 48; ++i) {
            if (keyed[picks[i]].second == rank) {
                expected.emplace_back(keyed[picks[i]].first, std::to_string(i));
            }
        }
    }
    manyTable.SortByAddress();
    std::vector<std::pair<std::string, std::string>> sorted;
    for (const TRow& r : many.Rows()) sorted.emplace_back(r.IP, r.MAC);
    EXPECT_EQ(sorted, expected);
}

}  // namespace

namespace {

// Changes made while a save is held up are written together by the next one, which holds the
// newest table; each waiter hears of the first save holding the table as it was when it asked.
TEST_F(AddressTableTest, WriterGathersChangesMadeDuringASaveIntoTheNext) {
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    int snapshots = 0;
    TSaveWriter writer(
        [&] {
            ++snapshots;
            return table.Snapshot();
        },
        dispatcher);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    writer.SetBeforeSave([released] { released.wait(); });
    std::vector<int> heard;
    for (int i = 1; i <= 5; ++i) {
        const std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(i)};
        table.MergeFound(0xC6120000u + static_cast<std::uint32_t>(i), mac);
        writer.Changed();
        writer.AfterSave([&heard, i](const TSaveReport& report) {
            EXPECT_TRUE(report);
            heard.push_back(i);
        });
    }
    EXPECT_EQ(snapshots, 1);
    EXPECT_TRUE(heard.empty());
    release.set_value();
    ASSERT_TRUE(dispatcher->RunUntil([&] { return writer.Idle() && heard.size() == 5; },
                                     std::chrono::seconds(20)));
    EXPECT_EQ(snapshots, 2);
    EXPECT_EQ(heard, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_NE(dir.Read("ArpList.ini").find("198.18.0.5|02:00:00:00:00:05\r\n"), std::string::npos);
}

}  // namespace

namespace {

// Rows inserted anywhere, many blocks' worth, then some deleted: the same sequence as a vector's.
TEST(MemoryRows, InsertsAndDeletionsKeepTheSequence) {
    std::mt19937 rng(5);
    TMemoryRows rows;
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i) {
        const auto at = static_cast<int>(rng() % (expected.size() + 1));
        rows.Insert(at, std::to_string(i), "");
        expected.insert(expected.begin() + at, std::to_string(i));
    }
    for (int i = 0; i < 3000; i += 3) rows.Select(i);
    rows.DeleteSelected();
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i % 3 != 0) kept.push_back(expected[i]);
    }
    rows.Insert(0, "first", "");
    kept.insert(kept.begin(), "first");
    ASSERT_EQ(IPs(rows), kept);
    EXPECT_THROW(rows.Insert(rows.Count() + 1, "", ""), std::out_of_range);
}

}  // namespace
