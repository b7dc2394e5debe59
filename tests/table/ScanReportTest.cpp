#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

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
