#include <gtest/gtest.h>

#include <string>

#include "NpcapState.h"
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

}  // namespace
