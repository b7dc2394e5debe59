#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <optional>
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

TEST_F(AddressTableTest, DeletingNothingStillRewritesTheFiles) {
    rows.Append("1.0.0.1", "00:1A:2B:3C:4D:5E");
    table.DeleteSelected();
    EXPECT_EQ(rows.Count(), 1);
    EXPECT_TRUE(dir.Exists("ArpList.ini"));
    EXPECT_TRUE(dir.Exists("BindArp.bat"));
    EXPECT_TRUE(dir.Exists("BindDhcp.bat"));
}

// The table against a plain model of it, step by step: the rows in the order they were added,
// shown in a stable sort of that order, each row marked when any other row has its MAC text.
// A seed's steps restart the program on a hand-edited list, load more lists, merge finds over a
// few MACs and addresses and delete selections. QUORVEL_MODEL_SEED replays a seed,
// QUORVEL_MODEL_STEPS sets the number of steps.
struct TTableModel {
    std::vector<TRow> Added;  // (IP, MAC) in the order added

    // Added's indexes in the order the rows are shown.
    std::vector<std::size_t> Order() const {
        std::vector<std::size_t> order(Added.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
            return IPSortKey(Added[a].IP) < IPSortKey(Added[b].IP);
        });
        return order;
    }
    std::optional<int> FindIP(const std::string& ip) const {
        const std::vector<std::size_t> order = Order();
        for (std::size_t k = 0; k < order.size(); ++k) {
            if (Added[order[k]].IP == ip) return static_cast<int>(k);
        }
        return std::nullopt;
    }
};

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::stoull(value) : fallback;
}

// Where the table and the model differ, or empty.
std::string Difference(TAddressTable& table, const TMemoryRows& rows, const TTableModel& model) {
    const std::vector<std::size_t> order = model.Order();
    const std::vector<TRow> have = rows.Rows();
    if (have.size() != order.size()) return "row count " + std::to_string(have.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        TRow want = model.Added[order[i]];
        for (const TRow& other : model.Added) {
            if (&other != &model.Added[order[i]] && other.MAC == want.MAC) want.Remark = "?";
        }
        const TRow& row = have[i];
        if (row.IP != want.IP || row.MAC != want.MAC || row.Remark != want.Remark) {
            return "row " + std::to_string(i) + " is " + row.IP + "|" + row.MAC + "|" + row.Remark +
                   ", not " + want.IP + "|" + want.MAC + "|" + want.Remark;
        }
        if (table.FindIP(row.IP) != model.FindIP(row.IP)) return "FindIP(" + row.IP + ")";
    }
    if (table.FindIP("198.18.0.99") != std::nullopt) return "FindIP of a missing address";
    return {};
}

TEST(AddressTableModel, EveryStepMatchesThePlainDefinition) {
    const std::uint64_t seed = FromEnvironment("QUORVEL_MODEL_SEED", 29);
    const std::uint64_t steps = FromEnvironment("QUORVEL_MODEL_STEPS", 400);
    std::mt19937_64 rng(seed);
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::vector<std::string> macs = {"02:71:76:00:00:01", "02:71:76:00:00:0A",
                                           "02:71:76:00:00:0B", "02:71:76:00:00:0C"};
    // Cells as people write them: other writings of the same MACs and addresses, empty cells.
    const std::vector<std::string> listMacs = {"02:71:76:00:00:01", "02:71:76:00:00:0A",
                                               "02:71:76:00:00:0a", "02-71-76-00-00-01"};
    auto address = [&](bool handWritten) {
        const std::string last = std::to_string(pick(24));
        const std::size_t kind = handWritten ? pick(16) : 15;
        if (kind < 2) return std::string(kind == 0 ? "junk" : "");
        return (kind < 6 ? "198.18.0.0" : "198.18.0.") + last;
    };
    TTempDir dir, other;
    auto rows = std::make_unique<TMemoryRows>();
    auto table = std::make_unique<TAddressTable>(*rows);
    TTableModel model;
    auto loadList = [&] {
        std::string text = "; kept by hand\r\n";
        for (std::size_t n = pick(8); n > 0; --n) {
            const std::string ip = address(true);
            const std::string mac = pick(10) == 0 ? "" : listMacs[pick(listMacs.size())];
            model.Added.push_back(TRow{ip, mac, ""});
            text += (pick(2) == 0 ? " " + ip + " " : " " + ip) + "|" + (mac.empty() ? " " : mac) +
                    (pick(2) == 0 ? "\n" : "\r\n");
        }
        dir.Write("ArpList.ini", text);
        return table->LoadArpList() == TLoadStatus::Loaded ? "load" : "load failed";
    };
    ShowTrayIcon = true;
    for (std::uint64_t step = 0; step < steps; ++step) {
        std::string did;
        const std::size_t op = step == 0 ? 0 : pick(20);
        if (op == 0) {  // the program starts again on a hand-edited list
            table.reset();
            rows = std::make_unique<TMemoryRows>();
            table = std::make_unique<TAddressTable>(*rows);
            table->SetDirectory(dir.Path());
            table->SetLocalIPSource([] { return std::string("198.18.0.1"); });
            model.Added.clear();
            did = std::string("restart, ") + loadList();
        } else if (op == 1) {
            did = loadList();
        } else if (op < 5) {
            did = "delete";
            std::vector<std::size_t> gone;
            for (int i = 0; i < rows->Count(); ++i) {
                if (pick(4) != 0) continue;
                rows->Select(i);
                gone.push_back(model.Order()[static_cast<std::size_t>(i)]);
                did += " " + rows->Row(i).IP;
            }
            std::sort(gone.rbegin(), gone.rend());
            for (std::size_t k : gone)
                model.Added.erase(model.Added.begin() + static_cast<std::ptrdiff_t>(k));
            table->RemoveSelected();
        } else {
            const std::string ip = address(false), mac = macs[pick(macs.size())];
            did = "find " + ip + " " + mac;
            if (std::optional<int> at = model.FindIP(ip)) {
                model.Added[model.Order()[static_cast<std::size_t>(*at)]].MAC = mac;
            } else {
                model.Added.push_back(TRow{ip, mac, ""});
            }
            table->MergeFound(NetToHost(StrToIP(ip)), StrToMac(mac).data());
        }
        const std::string replay = "step " + std::to_string(step) + " (" + did +
                                   "); replay with QUORVEL_MODEL_SEED=" + std::to_string(seed);
        ASSERT_EQ(Difference(*table, *rows, model), "") << replay;
        // Every eighth step and the last: each save waits for the disk, six times.
        if (step % 8 != 7 && step + 1 != steps) continue;
        table->SetDirectory(other.Path());
        std::function<TSaveReport()> snapshot = table->Snapshot();
        table->SetDirectory(dir.Path());
        const TSaveReport copy = snapshot(), saved = table->SaveAll();
        ASSERT_EQ(!copy.List + 2 * !copy.Arp + 4 * !copy.Dhcp,
                  !saved.List + 2 * !saved.Arp + 4 * !saved.Dhcp)
            << replay;
        for (const char* file : {"ArpList.ini", "BindArp.bat", "BindDhcp.bat"})
            ASSERT_EQ(dir.Read(file), other.Read(file)) << file << " at " << replay;
    }
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

// Closing at once after a change whose save fails: Flush hands back the report nobody has heard
// (those waiting for it are not called); a report already heard is not handed back.
TEST(SaveWriter, FlushHandsBackTheReportNobodyHeard) {
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    const TSaveReport failed{{TFileFault::ReadOnly, 0, -1}, {}, {}};
    TSaveWriter writer([&] { return [failed] { return failed; }; }, dispatcher);
    bool heard = false;
    writer.Changed();
    writer.AfterSave([&heard](const TSaveReport&) { heard = true; });
    const std::optional<TSaveReport> unheard = writer.Flush();
    ASSERT_TRUE(unheard.has_value());
    EXPECT_EQ(unheard->List.Fault, TFileFault::ReadOnly);
    EXPECT_FALSE(heard);
    EXPECT_FALSE(writer.Flush().has_value());

    writer.Changed();
    writer.AfterSave([&heard](const TSaveReport&) { heard = true; });
    ASSERT_TRUE(dispatcher->RunUntil([&] { return heard; }, std::chrono::seconds(20)));
    EXPECT_FALSE(writer.Flush().has_value());
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
