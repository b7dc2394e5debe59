// The generated scripts run by the Windows command interpreter, with stand-ins for arp and
// netsh (FakeNetTool) in the current folder and first on the search path, so that the real
// tools are never reached.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "../support/TempDir.h"
#include "AddressTable.h"

namespace {

namespace fs = std::filesystem;

class ScriptsUnderCmdTest : public testing::Test {
  protected:
    ScriptsUnderCmdTest() {
        for (const char* tool : {"arp.exe", "netsh.exe"}) {
            fs::copy_file(fs::absolute(QUORVEL_FAKE_NET_TOOL), dir.File(tool));
        }
        table.SetDirectory(dir.Path());
        table.SetLocalIPSource([] { return std::string("10.1.2.3"); });
        rows.Append("192.168.1.1", "00:0F:E2:11:22:33");
        rows.Append("192.168.1.7", "00-1a-2b-3c-4d-5e");
    }

    // Runs cmd /c script in the test folder, with that folder first on the search path and no
    // keyboard (pause returns at once); gives cmd's exit code, or -1.
    int Run(const std::string& script) {
        char systemDir[MAX_PATH];
        GetSystemDirectoryA(systemDir, MAX_PATH);
        std::string command = std::string(systemDir) + "\\cmd.exe /d /c " + script + " <NUL >NUL";
        std::string oldPath(32767, '\0');
        oldPath.resize(GetEnvironmentVariableA("PATH", oldPath.data(), 32767));
        // The system folder stays on the path for the interpreter that for /f starts.
        SetEnvironmentVariableA("PATH", (dir.Path() + ";" + systemDir).c_str());
        SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      dir.Path().c_str(), &startup, &process) != 0;
        SetEnvironmentVariableA("PATH", oldPath.c_str());
        if (!started) return -1;
        DWORD code = 0;
        bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &code) != 0;
        if (!ended) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return ended ? static_cast<int>(code) : -1;
    }

    // Whether this interpreter replaces text inside delayed expansion (!v:-=!), as Windows' own
    // does; Wine's does not.
    bool SubstitutesInDelayedExpansion() {
        dir.Write("probe.bat",
                  "@ECHO OFF\r\nSETLOCAL EnableDelayedExpansion\r\nset v=a-b\r\n"
                  "echo !v:-=!>probe.txt\r\n");
        return Run("probe.bat") == 0 && dir.Read("probe.txt") == "ab\r\n";
    }

    TTempDir dir;
    TMemoryRows rows;
    TAddressTable table{rows};
};

TEST_F(ScriptsUnderCmdTest, BindArpEntersEveryPairThroughArp) {
    ASSERT_TRUE(table.SaveAll());
    ASSERT_EQ(Run("BindArp.bat"), 0);
    EXPECT_EQ(dir.Read("calls.txt"),
              "arp -s 192.168.1.1 00-0F-E2-11-22-33\r\n"
              "arp -s 192.168.1.7 00-1A-2B-3C-4D-5E\r\n");
}

// What the server lists: seven lines of heading, then address, "-", unique id, type.
const char* const kListing =
    "\r\nChanged the current scope context to 10.1.2.0 scope.\r\n\r\n"
    "Reservation Address -    Unique ID\r\n"
    "=============================================================\r\n"
    "\r\n\r\n"
    "    10.1.2.40       -    00-aa-bb-cc-dd-ee-   -Both\r\n"
    "\r\nNo of ReservedIPs : 1 in the Scope : 10.1.2.0.\r\n";
const std::string kQuery = "netsh dhcp server scope 10.1.2.0 show reservedip\r\n";
const std::string kHead =
    "netsh\r\ndhcp\r\nserver\r\nscope 10.1.2.0\r\ndelete reservedip 10.1.2.40 ";
const std::string kTail =
    "add reservedip 192.168.1.1 000FE2112233\r\n"
    "add reservedip 192.168.1.7 001A2B3C4D5E\r\n"
    "exit\r\n";

TEST_F(ScriptsUnderCmdTest, BindDhcpReplacesTheScopesReservationsThroughNetsh) {
    dir.Write("listing.txt", kListing);
    ASSERT_TRUE(table.SaveAll());
    ASSERT_EQ(Run("BindDhcp.bat"), 0);
    std::string calls = dir.Read("calls.txt");
    EXPECT_TRUE(calls.starts_with(kQuery + kHead)) << calls;
    EXPECT_TRUE(calls.ends_with(kTail)) << calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 9) << calls;
    EXPECT_FALSE(dir.Exists("netsh.txt"));
}

TEST_F(ScriptsUnderCmdTest, BindDhcpDeletesByTheUniqueIdWithoutDashes) {
    if (!SubstitutesInDelayedExpansion()) {
        GTEST_SKIP() << "this command interpreter (Wine's) cannot replace text in !var:-=!";
    }
    dir.Write("listing.txt", kListing);
    ASSERT_TRUE(table.SaveAll());
    ASSERT_EQ(Run("BindDhcp.bat"), 0);
    EXPECT_EQ(dir.Read("calls.txt"), kQuery + kHead + "00aabbccddee \r\n" + kTail);
}

}  // namespace
