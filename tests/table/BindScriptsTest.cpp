#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "../support/TempDir.h"
#include "AddressTable.h"
#include "BindScripts.h"

namespace {

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(QUORVEL_TESTDATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ScriptsTest : public testing::Test {
  protected:
    ScriptsTest() {
        table.SetDirectory(dir.Path());
        table.SetLocalIPSource([this] { return localIP; });
    }
    ~ScriptsTest() override { ShowTrayIcon = true; }

    std::string localIP = "10.1.2.3";
    TTempDir dir;
    TMemoryRows rows;
    TAddressTable table{rows};
};

TEST_F(ScriptsTest, AllThreeFilesMatchTheGoldenBytes) {
    rows.Append("192.168.1.1", "00:0F:E2:11:22:33");
    rows.Append("192.168.1.7", "00-1a-2b-3c-4d-5e");
    rows.Append("192.168.1.8", "00:0F:E2:11:22:33");
    ShowTrayIcon = false;
    ASSERT_TRUE(table.SaveAll());
    EXPECT_EQ(dir.Read("ArpList.ini"), Golden("ArpList.golden.ini"));
    EXPECT_EQ(dir.Read("BindArp.bat"), Golden("BindArp.golden.bat"));
    EXPECT_EQ(dir.Read("BindDhcp.bat"), Golden("BindDhcp.golden.bat"));
    EXPECT_EQ(rows.Rows()[0].Remark, "?");
    EXPECT_EQ(rows.Rows()[2].Remark, "?");
}

TEST_F(ScriptsTest, EmptyTableWritesOnlyTheFixedLines) {
    ASSERT_TRUE(table.SaveAll());
    std::string arp = dir.Read("BindArp.bat");
    EXPECT_EQ(arp, Golden("BindArp.golden.bat").substr(0, arp.size()));
    EXPECT_EQ(std::count(arp.begin(), arp.end(), '\n'), 2);
    std::string dhcp = dir.Read("BindDhcp.bat");
    EXPECT_EQ(std::count(dhcp.begin(), dhcp.end(), '\n'), 11);
    EXPECT_EQ(dhcp.find("add reservedip"), std::string::npos);
}

TEST(DhcpScope, KeepsTheFirstThreeOctets) {
    EXPECT_EQ(DhcpScope("10.1.2.3"), "10.1.2.0");
    EXPECT_EQ(DhcpScope("192.168.1.20"), "192.168.1.0");
    EXPECT_EQ(DhcpScope(""), "0.0.0.0");
}

// A cell that cannot be written safely leaves the previous script in place; the other
// script is judged on its own.
TEST_F(ScriptsTest, UnwritableCellsKeepThePreviousScripts) {
    struct Case {
        const char* ip;
        const char* mac;
    };
    for (Case c :
         {Case{"1.2.3.4", "00:11:22:33:44"}, Case{"1.2.3.4", "001122334455"},
          Case{"1.2.3.4", "zz:11:22:33:44:55"}, Case{"1.2.3.4 & del /q C:\\*", "00:11:22:33:44:55"},
          Case{"1.2.3.4>x", "00:11:22:33:44:55"}, Case{"%PATH%", "00:11:22:33:44:55"},
          Case{"", "00:11:22:33:44:55"}, Case{"1.2.3.4\"", "00:11:22:33:44:55"},
          Case{"1.2.3", "00:11:22:33:44:55"}, Case{"3232235777", "00:11:22:33:44:55"},
          Case{"1.2.3.256", "00:11:22:33:44:55"}, Case{"1..2.3", "00:11:22:33:44:55"},
          Case{"1.2.3.4.", "00:11:22:33:44:55"}}) {
        TMemoryRows r;
        TAddressTable t(r);
        t.SetDirectory(dir.Path());
        dir.Write("BindArp.bat", "old arp");
        dir.Write("BindDhcp.bat", "old dhcp");
        r.Append("1.1.1.1", "00:11:22:33:44:55");
        r.Append(c.ip, c.mac);
        TSaveReport report = t.SaveAll();
        EXPECT_FALSE(report) << c.ip << " " << c.mac;
        EXPECT_EQ(report.Arp.Fault, TFileFault::UnreadableRow) << c.ip << " " << c.mac;
        EXPECT_EQ(report.Dhcp.Row, 1) << c.ip << " " << c.mac;
        EXPECT_EQ(dir.Read("BindArp.bat"), "old arp") << c.ip << " " << c.mac;
        EXPECT_EQ(dir.Read("BindDhcp.bat"), "old dhcp") << c.ip << " " << c.mac;
        // the list keeps the row as it stands: it is the administrator's to mend
        EXPECT_NE(dir.Read("ArpList.ini").find(std::string(c.ip) + "|" + c.mac), std::string::npos);
    }
}

// The classic parsers Windows' tools use read 010 as octal (8): an address goes into the scripts
// in its plain form, the one this tool reads it as.
TEST_F(ScriptsTest, AddressesAreWrittenInTheirPlainForm) {
    rows.Append("192.168.001.010", "00:11:22:33:44:55");
    rows.Append("010.0.0.000", "00:11:22:33:44:66");
    ASSERT_TRUE(table.SaveAll());
    const std::string arp = dir.Read("BindArp.bat");
    EXPECT_NE(arp.find("\r\narp -s 192.168.1.10 00-11-22-33-44-55\r\n"), std::string::npos);
    EXPECT_NE(arp.find("\r\narp -s 10.0.0.0 00-11-22-33-44-66\r\n"), std::string::npos);
    EXPECT_NE(dir.Read("BindDhcp.bat").find("echo add reservedip 192.168.1.10 001122334455>>"),
              std::string::npos);
    // The list keeps the cell as it stands.
    EXPECT_NE(dir.Read("ArpList.ini").find("\r\n192.168.001.010|"), std::string::npos);
}

TEST_F(ScriptsTest, MacCellsAreRewrittenNeverCopied) {
    // Only the hexadecimal pairs are read; whatever stands between them never reaches a script.
    rows.Append("1.2.3.4", "00&11|22>33<44%55!trailing ^");
    ASSERT_TRUE(table.SaveAll());
    EXPECT_NE(dir.Read("BindArp.bat").find("arp -s 1.2.3.4 00-11-22-33-44-55\r\n"),
              std::string::npos);
    EXPECT_NE(dir.Read("BindDhcp.bat").find("echo add reservedip 1.2.3.4 001122334455>>netsh.txt"),
              std::string::npos);
}

}  // namespace
