#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "NpcapState.h"
#include "ScanComparison.h"
#include "ScanReport.h"
#include "UTypes.h"

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A long report lists the first 50 entries of a section, then how many more there are.
TEST(ScanReport, ListsFiftyEntriesAndCountsTheRest) {
    TMemoryRows rows;
    TAddressTable table(rows);
    for (int i = 1; i <= 52; ++i) rows.Append("198.18.0." + std::to_string(i), "02:51:00:00:00:00");
    TScanReport report;
    const std::uint8_t mac[6] = {0x02, 0x51, 0x00, 0x00, 0x00, 0x01};
    for (int i = 1; i <= 52; ++i) {
        const std::uint32_t ip = NetToHost(StrToIP("198.18.0." + std::to_string(i)));
        report.NoteFind(table, ip, mac);
    }
    const std::string text = report.Text();
    EXPECT_EQ(Count(text, " -> 02:51:00:00:00:01"), 50u);
    EXPECT_NE(text.find("\n198.18.0.50：02:51:00:00:00:00 -> 02:51:00:00:00:01\n……另有 2 项未列出"),
              std::string::npos)
        << text;
    EXPECT_EQ(report.Changes().size(), 52u);
}

// Npcap's state decides the probe section's advice; a scan that asked the slow way still probed.
TEST(ScanReport, TheSlowPathIsExplainedByNpcapsState) {
    const struct {
        TNpcapFacts Facts;
        TNpcapState State;
    } cases[] = {
        {{false, false, false, std::nullopt}, TNpcapState::Missing},
        {{true, true, false, true}, TNpcapState::AdminOnly},
        {{true, true, true, true}, TNpcapState::Ready},
        {{true, false, false, false}, TNpcapState::Stopped},
        {{true, false, false, std::nullopt}, TNpcapState::Ready},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NpcapStateOf(c.Facts), c.State) << static_cast<int>(c.State);
        EXPECT_EQ(NpcapAdvice(c.State).empty(), c.State == TNpcapState::Ready);
    }
    TScanReport report;
    report.NoteFault({TProbeFaultKind::None, "", NpcapAdvice(TNpcapState::Missing)});
    EXPECT_FALSE(report.CouldNotProbe());
    EXPECT_EQ(report.Text(), "探测方式：\n" + NpcapAdvice(TNpcapState::Missing));
    EXPECT_TRUE(TScanReport().Text().empty());
}

// A changed MAC names both vendors: a replaced card from a known maker, or a made-up address.
TEST(ScanReport, ChangedMacNamesBothVendors) {
    TMemoryRows rows;
    TAddressTable table(rows);
    rows.Append("198.18.0.1", "00:11:22:00:00:01");
    TVendorRegistry registry;
    registry.AddCsv("MA-L,001122,Alpha Ltd,Road 1\n");
    registry.Finish();
    TScanReport report;
    report.SetVendors(&registry);
    const std::uint8_t mac[6] = {0x02, 0x51, 0x00, 0x00, 0x00, 0x01};
    report.NoteFind(table, NetToHost(StrToIP("198.18.0.1")), mac);
    EXPECT_NE(report.Text().find("198.18.0.1：00:11:22:00:00:01（Alpha Ltd） -> "
                                 "02:51:00:00:00:01（本地管理地址）"),
              std::string::npos)
        << report.Text();
}

// Against the list it started from, over the scanned range only: new, changed and same finds, a
// contested address that answered, and the rows that did not answer.
TEST(ScanComparison, NewChangedSameAndMissingOverTheRange) {
    TMemoryRows rows;
    for (const char* ip : {"198.18.0.1", "198.18.0.2", "198.18.0.3", "198.18.0.4", "198.18.0.9"})
        rows.Append(ip, "02:51:00:00:00:01");
    const auto ip = [](const char* text) { return NetToHost(StrToIP(text)); };
    TScanComparison comparison(rows, ip("198.18.0.1"), ip("198.18.0.8"));
    const std::uint8_t same[6] = {0x02, 0x51, 0x00, 0x00, 0x00, 0x01};
    const std::uint8_t other[6] = {0x02, 0x51, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(comparison.NoteProbe(ip("198.18.0.1"), true, same).State, TFindState::Same);
    const TFindVerdict changed = comparison.NoteProbe(ip("198.18.0.2"), true, other);
    EXPECT_EQ(changed.State, TFindState::Changed);
    EXPECT_EQ(changed.OldMAC, "02:51:00:00:00:01");
    comparison.NoteProbe(ip("198.18.0.3"), false, nullptr);
    comparison.NoteProbe(ip("198.18.0.4"), false, nullptr);
    EXPECT_EQ(comparison.NoteProbe(ip("198.18.0.5"), true, other).State, TFindState::New);
    EXPECT_EQ(comparison.NoteContested({ip("198.18.0.4"), {TMacAddr{2, 0x51, 0, 0, 0, 1}}}).State,
              TFindState::Same);
    // .9 lies outside the range: never missing.
    EXPECT_EQ(comparison.Missing(), std::vector<std::uint32_t>{ip("198.18.0.3")});
    EXPECT_EQ(comparison.NewCount(), 1u);
}

// Each reason a file stays unwritten reads differently, after the file's name; a system error
// brings the system's own text, which differs from one error to another.
TEST(ScanReport, EachFaultHasAReasonOfItsOwn) {
    std::set<std::string> reasons;
    for (int f = static_cast<int>(TFileFault::ReadOnly);
         f <= static_cast<int>(TFileFault::UnreadableRow); ++f) {
        TSaveReport saves;
        saves.Arp = TFileResult{static_cast<TFileFault>(f), ENOSPC, 2};
        const std::string text = UnsavedText(saves);
        EXPECT_EQ(text.rfind("以下文件未能写入：\n“BindArp.bat”：", 0), 0u) << text;
        EXPECT_TRUE(reasons.insert(text).second) << text;
        if (saves.Arp.Fault == TFileFault::Failed) {
            saves.Arp.Error = EACCES;
            EXPECT_NE(UnsavedText(saves), text) << "the system's text is missing";
        }
    }
}

}  // namespace
