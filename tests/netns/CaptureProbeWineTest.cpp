// The Windows raw probe (the packet capture library) against a live namespace LAN, run under
// Wine inside the LAN's scanner namespace by wine-probe.sh, which builds the LAN and names it in
// QUORVEL_WINE_LAN (the stations lan.sh printed, and "late IP" for the host that answers 0.65 s
// late). Frames forged here go out through a second capture on the same adapter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/RootOnly.h"
#include "ArpPacket.h"
#include "ArpProbeRaw.h"
#include "FrameLinkCapture.h"
#include "QueueDispatcher.h"
#include "ScanIPThread.h"

namespace {

using namespace std::chrono_literals;
using TFoundMap = std::map<std::uint32_t, TMacAddr>;  // host order -> MAC

std::uint32_t Host(const std::string& text) { return NetToHost(StrToIP(text)); }

struct TWineLan {
    std::uint32_t ScannerIP = 0;
    TMacAddr ScannerMac{};
    TFoundMap Hosts;
    std::map<std::uint32_t, std::set<TMacAddr>> Contenders;  // addresses two MACs answer for
    std::vector<std::uint32_t> Silent;
    std::uint32_t Late = 0;
    std::string Error;
};

TWineLan ReadLan() {
    TWineLan lan;
    const char* path = std::getenv("QUORVEL_WINE_LAN");
    if (path == nullptr) {
        lan.Error = "QUORVEL_WINE_LAN is not set (run through tests/netns/wine-probe.sh)";
        return lan;
    }
    std::ifstream in(path);
    std::string kind, ns, iface, ip, mac;
    while (in >> kind) {
        if (kind == "scanner" && in >> ns >> iface >> ip >> mac) {
            lan.ScannerIP = Host(ip);
            lan.ScannerMac = StrToMac(mac);
        } else if ((kind == "host" || kind == "contender") && in >> ns >> ip >> mac) {
            const std::uint32_t a = Host(ip);
            if (kind == "contender" || lan.Contenders.count(a) != 0) {
                lan.Contenders[a].insert(StrToMac(mac));
                lan.Contenders[a].insert(lan.Hosts[a]);
                lan.Hosts.erase(a);
            } else {
                lan.Hosts[a] = StrToMac(mac);
            }
        } else if (kind == "silent" && in >> ip) {
            lan.Silent.push_back(Host(ip));
        } else if (kind == "late" && in >> ip) {
            lan.Late = Host(ip);
        }
    }
    if (lan.ScannerIP == 0 || lan.Hosts.empty()) lan.Error = std::string("no LAN in ") + path;
    return lan;
}

class CaptureProbeWine : public testing::Test {
  protected:
    static void SetUpTestSuite() { lan_ = new TWineLan(ReadLan()); }
    static void TearDownTestSuite() {
        delete lan_;
        lan_ = nullptr;
    }
    void SetUp() override {
        if (!lan_->Error.empty()) QUORVEL_SKIP_ROOT_ONLY() << lan_->Error;
    }

    static std::unique_ptr<TArpProbe> Probe() {
        std::string why;
        auto link = OpenCaptureLink(First(), Last(), &why);
        EXPECT_TRUE(link) << why;
        return link ? CreateRawArpProbeOn(std::move(link)) : nullptr;
    }
    static std::uint32_t First() { return lan_->ScannerIP; }
    static std::uint32_t Last() { return lan_->ScannerIP + 39; }

    static TWineLan* lan_;
};

TWineLan* CaptureProbeWine::lan_ = nullptr;

// The whole range through the worker: exactly the hosts that answer (the late one too), with
// their MACs; the address two MACs answer for is left out and reported with both.
TEST_F(CaptureProbeWine, FindsExactlyTheAnsweringHosts) {
    auto probe = Probe();
    ASSERT_TRUE(probe);
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    TFoundMap found;
    std::vector<TContested> contested;
    TProbeFault fault;
    bool ended = false;
    auto* w = new TScanIPThread(First(), Last(), true, std::move(probe), dispatcher);
    w->OnScan = [&] {
        if (Found) std::copy(MacAddr, MacAddr + 6, found[CurrentIP].begin());
    };
    w->OnTerminate = [&, w] {
        contested = w->Contested();
        fault = w->Fault();
        ended = true;
    };
    const auto begin = std::chrono::steady_clock::now();
    w->Start();
    ASSERT_TRUE(dispatcher->RunUntil([&] { return ended; }, 60s));
    std::printf("capture probe under Wine, %u addresses: %.2f s\n", Last() - First() + 1,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());

    TFoundMap expected{{lan_->ScannerIP, lan_->ScannerMac}};
    for (const auto& [ip, mac] : lan_->Hosts)
        if (ip <= Last()) expected[ip] = mac;
    EXPECT_EQ(found, expected);
    EXPECT_NE(lan_->Late, 0u);
    EXPECT_EQ(found.count(lan_->Late), 1u) << "the host answering 0.65 s late";
    ASSERT_EQ(contested.size(), lan_->Contenders.size());
    for (const TContested& c : contested) {
        EXPECT_EQ(std::set<TMacAddr>(c.Macs.begin(), c.Macs.end()), lan_->Contenders[c.IP]);
    }
    EXPECT_EQ(fault.Kind, TProbeFaultKind::None) << fault.Detail;
}

// A reply for a silent address that came in before the request, and one for another silent
// address addressed to another host (sent all the while it is asked): neither is taken.
TEST_F(CaptureProbeWine, ForgedRepliesAreIgnored) {
    ASSERT_GE(lan_->Silent.size(), 3u);
    auto probe = Probe();
    std::string why;
    auto forger = OpenCaptureLink(First(), Last(), &why);
    ASSERT_TRUE(probe && forger) << why;
    const TLocalLink adapter = forger->ReadLinks().front();
    const TMacAddr stranger{0x02, 0xBA, 0xD0, 0, 0, 0x01};
    const std::uint32_t us = HostToNet(lan_->ScannerIP);
    const std::uint32_t other = HostToNet(lan_->Hosts.begin()->first);
    auto reply = [&](std::uint32_t ip, std::uint32_t targetIP) {
        auto f = BuildArpRequest(stranger, HostToNet(ip), targetIP);
        std::copy(lan_->ScannerMac.begin(), lan_->ScannerMac.end(), f.begin());
        f[21] = 2;  // opcode: reply
        std::copy(lan_->ScannerMac.begin(), lan_->ScannerMac.end(), f.begin() + 32);
        return f;
    };
    std::uint8_t mac[8] = {};
    const auto early = reply(lan_->Silent[0], us);
    forger->Send(adapter, early.data(), early.size());
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(probe->SendArp(HostToNet(lan_->Silent[0]), mac));

    // Sent all the while the address is asked: addressed to another host, it is ignored;
    // addressed to us (the control: the forged frames do reach the probe), it is taken.
    auto askWhileSending = [&](std::uint32_t ip, std::uint32_t targetIP) {
        std::atomic<bool> stop{false};
        std::thread sender([&] {
            const auto f = reply(ip, targetIP);
            while (!stop) {
                forger->Send(adapter, f.data(), f.size());
                std::this_thread::sleep_for(2ms);
            }
        });
        const bool found = probe->SendArp(HostToNet(ip), mac);
        stop = true;
        sender.join();
        return found;
    };
    EXPECT_FALSE(askWhileSending(lan_->Silent[1], other));
    ASSERT_TRUE(askWhileSending(lan_->Silent.back(), us));
    EXPECT_EQ(MacToColonStr(mac), MacToColonStr(stranger.data()));
}

}  // namespace
