// Cells carrying the command interpreter's special characters never reach "BindArp.bat" or
// "BindDhcp.bat": a script is either written from addresses and MACs alone, or not at all (the
// previous one then stays).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "../support/ScriptLines.h"
#include "../support/TempDir.h"
#include "AddressTable.h"
#include "BindScripts.h"
#include "TextFile.h"

namespace {

using script_lines::IsSafeBindArp;
using script_lines::IsSafeBindDhcp;

const std::vector<std::string> kSpecials = {"&",
                                            "|",
                                            ">",
                                            "<",
                                            "%",
                                            "!",
                                            "^",
                                            "\"",
                                            "'",
                                            " ",
                                            "\t",
                                            "\r",
                                            "\n",
                                            "(",
                                            ")",
                                            "@",
                                            "\x1A",
                                            "\xC4\xE3",
                                            "\xFF",
                                            "%PATH%",
                                            "!x!",
                                            "& del /q *",
                                            "\r\ndel *\r\n"};

// Where the special text is put, and whether the writer may still use the row: a MAC is read
// pair by pair and written anew, so text between or after its pairs is dropped.
struct Place {
    const char* name;
    std::string (*ip)(const std::string& s);
    std::string (*mac)(const std::string& s);
    bool written;
};

const Place kPlaces[] = {
    {"before the address", [](const std::string& s) { return s + "198.18.0.9"; },
     [](const std::string&) { return std::string("02:00:00:00:00:09"); }, false},
    {"inside the address", [](const std::string& s) { return "198.18" + s + ".0.9"; },
     [](const std::string&) { return std::string("02:00:00:00:00:09"); }, false},
    {"after the address", [](const std::string& s) { return "198.18.0.9" + s; },
     [](const std::string&) { return std::string("02:00:00:00:00:09"); }, false},
    {"in a MAC pair", [](const std::string&) { return std::string("198.18.0.9"); },
     [](const std::string& s) { return "02:00:" + s + ":00:00:09"; }, false},
    {"before the MAC", [](const std::string&) { return std::string("198.18.0.9"); },
     [](const std::string& s) { return s + "02:00:00:00:00:09"; }, false},
    {"as a MAC separator", [](const std::string&) { return std::string("198.18.0.9"); },
     [](const std::string& s) { return "02" + s.substr(0, 1) + "00:00:00:00:09"; }, true},
    {"after the MAC", [](const std::string&) { return std::string("198.18.0.9"); },
     [](const std::string& s) { return "02:00:00:00:00:09" + s; }, true},
};

class ScriptSafetyTest : public testing::Test {
  protected:
    ScriptSafetyTest() {
        table.SetDirectory(dir.Path());
        table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
    }
    ~ScriptSafetyTest() override { ShowTrayIcon = true; }

    TTempDir dir;
    TMemoryRows rows;
    TAddressTable table{rows};
};

TEST(ScriptSafety, EverySpecialInEveryPlace) {
    for (const Place& place : kPlaces) {
        for (const std::string& special : kSpecials) {
            SCOPED_TRACE(std::string(place.name) + " [" + special + "]");
            TMemoryRows rows;
            rows.Append("198.18.0.5", "02:00:00:00:00:05");
            rows.Append(place.ip(special), place.mac(special));
            std::vector<std::string> arp, dhcp;
            bool arpWritten = BuildBindArp(rows, arp);
            bool dhcpWritten = BuildBindDhcp(rows, "198.18.0.1", dhcp);
            EXPECT_EQ(arpWritten, place.written);
            EXPECT_EQ(dhcpWritten, place.written);
            if (arpWritten) {
                EXPECT_TRUE(IsSafeBindArp(JoinLines(arp)));
                EXPECT_EQ(arp.back(), "arp -s 198.18.0.9 02-00-00-00-00-09");
            }
            if (dhcpWritten) {
                EXPECT_TRUE(IsSafeBindDhcp(JoinLines(dhcp)));
            }
        }
    }
}

// The same cells through a hand-edited list file: what is stored keeps the row as the
// administrator wrote it, and a script on disk is always the previous one or a safe one.
TEST_F(ScriptSafetyTest, HandEditedListNeverPutsACommandIntoAScript) {
    for (const Place& place : kPlaces) {
        for (const std::string& special : kSpecials) {
            SCOPED_TRACE(std::string(place.name) + " [" + special + "]");
            dir.Write("BindArp.bat", "previous arp");
            dir.Write("BindDhcp.bat", "previous dhcp");
            dir.Write("ArpList.ini", "198.18.0.5|02:00:00:00:00:05\r\n" + place.ip(special) + "|" +
                                         place.mac(special) + "\r\n");
            TMemoryRows loaded;
            TAddressTable t(loaded);
            t.SetDirectory(dir.Path());
            t.SetLocalIPSource([] { return std::string("198.18.0.1"); });
            ASSERT_EQ(t.LoadArpList(), TLoadStatus::Loaded);
            bool saved = static_cast<bool>(t.SaveAll());
            std::string arp = dir.Read("BindArp.bat");
            std::string dhcp = dir.Read("BindDhcp.bat");
            EXPECT_TRUE(arp == "previous arp" || IsSafeBindArp(arp)) << arp;
            EXPECT_TRUE(dhcp == "previous dhcp" || IsSafeBindDhcp(dhcp)) << dhcp;
            EXPECT_EQ(saved, arp != "previous arp");
            // Every row written is stored again: as it was written where no control character
            // or blank (trimmed), "|" (a cut) or quote (quoting) makes the reader change it, and
            // always as loaded.
            std::vector<std::string> lines = SplitLines(dir.Read("ArpList.ini"));
            ASSERT_FALSE(lines.empty());
            const std::multiset<std::string> stored(lines.begin() + 1, lines.end());
            const bool readAsWritten = std::all_of(special.begin(), special.end(), [](char c) {
                return static_cast<unsigned char>(c) > ' ' && c != '|' && c != '"' && c != '\'';
            });
            if (readAsWritten) {
                EXPECT_EQ(stored, (std::multiset<std::string>{
                                      "198.18.0.5|02:00:00:00:00:05",
                                      place.ip(special) + "|" + place.mac(special)}));
            }
            TMemoryRows again;
            TAddressTable reloaded(again);
            reloaded.SetDirectory(dir.Path());
            ASSERT_EQ(reloaded.LoadArpList(), TLoadStatus::Loaded);
            ASSERT_EQ(again.Count(), loaded.Count());
            for (int i = 0; i < again.Count(); ++i) {
                EXPECT_EQ(again.Rows()[i].IP, loaded.Rows()[i].IP);
                EXPECT_EQ(again.Rows()[i].MAC, loaded.Rows()[i].MAC);
            }
        }
    }
}

// The DHCP scope comes from the local address; whatever that text is, the scope line holds
// digits and dots only.
TEST_F(ScriptSafetyTest, LocalAddressTextNeverReachesTheScript) {
    rows.Append("198.18.0.5", "02:00:00:00:00:05");
    for (const char* local : {"", "198.18.0.1 & del *", "198.18.0.1\r\ndel *", "%COMPUTERNAME%",
                              "1.2.3.4.5", "$FF.x10.-1.+7"}) {
        SCOPED_TRACE(local);
        table.SetLocalIPSource([local] { return std::string(local); });
        ASSERT_TRUE(table.SaveAll());
        EXPECT_TRUE(IsSafeBindDhcp(dir.Read("BindDhcp.bat")));
    }
}

}  // namespace
