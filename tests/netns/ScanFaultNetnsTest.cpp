// Faults during a real scan in a namespace LAN (root only): hosts that answer with spoiled ARP
// frames, a flood of gratuitous ARP, the link going down, and a stop request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ArpProbeLinux.h"
#include "FrameSender.h"
#include "NetnsLan.h"
#include "QueueDispatcher.h"
#include "ScanIPThread.h"

namespace {

using namespace std::chrono_literals;
using TFoundMap = std::map<std::uint32_t, TMacAddr>;  // host order -> MAC

std::uint32_t Host(const char* text) { return NetToHost(StrToIP(text)); }
std::uint32_t Wire(std::uint32_t host) { return HostToNet(host); }

// Hosts answer at .10, .17, .24 and .31; the scans below cover .8 to .20.
const std::uint32_t First = Host("198.18.0.8");
const std::uint32_t Last = Host("198.18.0.20");
const TMacAddr kBroadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// A MAC that names the kind of spoiled frame that carried it.
TMacAddr KindMac(int kind, std::uint32_t host) {
    return {0x02,
            0xBA,
            0xD0,
            static_cast<std::uint8_t>(kind),
            static_cast<std::uint8_t>(host >> 8),
            static_cast<std::uint8_t>(host)};
}

struct TScanResult {
    TFoundMap Found;
    std::vector<std::uint32_t> Probed;
    bool Ended = false;
    std::chrono::steady_clock::duration Took{};
};

class ScanFaultNetns : public testing::Test {
  protected:
    void SetUp() override {
        lan_ = std::make_unique<TNetnsLan>("qflt" + std::to_string(getpid()), 4, "--span 40");
        if (!lan_->Ok()) GTEST_SKIP() << "no namespace LAN: " << lan_->Error();
        // Short kernel timings keep the silent addresses cheap; both probes follow them.
        ASSERT_EQ(lan_->ExecScanner("sysctl -q -w net.ipv4.neigh.lan0.mcast_solicit=2 "
                                    "net.ipv4.neigh.lan0.retrans_time_ms=300 "
                                    "net.ipv4.neigh.lan0.ucast_solicit=2 "
                                    "net.ipv4.neigh.lan0.delay_first_probe_time=1"),
                  0);
        enter_ = std::make_unique<TNetnsEnter>(lan_->ScannerNamespace);
        ASSERT_TRUE(enter_->Ok());
    }
    void TearDown() override {
        enter_.reset();
        lan_.reset();
    }

    TFoundMap Expected(std::uint32_t last = Last) const {
        TFoundMap m;
        for (const TLanHost& h : lan_->Hosts) {
            if (h.HostIP >= First && h.HostIP <= last) m[h.HostIP] = h.Mac;
        }
        return m;
    }
    bool Answers(std::uint32_t ip) const {
        for (const TLanHost& h : lan_->Hosts) {
            if (h.HostIP == ip) return true;
        }
        return false;
    }

    // Runs a worker with the probe this process would use over first..last; onScan runs in
    // each hand-off with the outcome variables set.
    TScanResult Scan(std::uint32_t first, std::uint32_t last,
                     const std::function<void(TScanIPThread&, int probed)>& onScan = {}) {
        TScanResult r;
        auto dispatcher = std::make_shared<TQueueDispatcher>();
        auto* w = new TScanIPThread(first, last, true, CreateArpProbe(), dispatcher);
        w->OnScan = [&, w] {
            r.Probed.push_back(CurrentIP);
            if (Found) std::copy(MacAddr, MacAddr + 6, r.Found[CurrentIP].begin());
            if (onScan) onScan(*w, static_cast<int>(r.Probed.size()));
        };
        w->OnTerminate = [&] { r.Ended = true; };
        auto start = std::chrono::steady_clock::now();
        w->Start();
        EXPECT_TRUE(dispatcher->RunUntil([&] { return r.Ended; }, 120s)) << "the scan hangs";
        r.Took = std::chrono::steady_clock::now() - start;
        return r;
    }

    std::unique_ptr<TNetnsLan> lan_;
    std::unique_ptr<TNetnsEnter> enter_;
};

std::string Describe(const TFoundMap& found) {
    std::string s;
    for (const auto& [ip, mac] : found) {
        s += IPToStr(HostToNet(ip)) + "=" + MacToColonStr(mac.data()) + " ";
    }
    return s;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A host sends, for every silent address of the range, ARP frames that look like its answer but
// are spoiled: none of them may become a row, with either probe, and the real hosts are still
// found with their own MACs.
TEST_F(ScanFaultNetns, SpoiledRepliesNeverBecomeRows) {
    const TLanHost& bad = lan_->Hosts.back();  // .31, outside the range
    const TMacAddr scannerMac = lan_->ScannerMac;
    const std::uint32_t scannerIP = Wire(lan_->ScannerIP);
    std::vector<TFrame> frames;
    auto add = [&](const char*, TFrame f) { frames.push_back(std::move(f)); };
    for (std::uint32_t ip = First; ip <= Last; ++ip) {
        if (Answers(ip)) continue;
        auto reply = [&](int kind) {
            return ArpFrame(scannerMac, bad.Mac, 2, KindMac(kind, ip), Wire(ip), scannerMac,
                            scannerIP);
        };
        TFrame f;
        // Hardware types other than Ethernet (1) and IEEE 802 (6, which Linux takes as well).
        for (unsigned type : {0u, 32u, 0xFFFFu}) {
            f = reply(1);
            f[14] = static_cast<std::uint8_t>(type >> 8), f[15] = static_cast<std::uint8_t>(type);
            add("hardware type", f);
        }
        f = reply(2);
        f[16] = 0x86, f[17] = 0xDD;  // protocol IPv6
        add("protocol", f);
        f = reply(3);
        f[18] = 8;  // hardware address length
        add("hardware length", f);
        f = reply(4);
        f[19] = 16;  // protocol address length
        add("protocol length", f);
        for (unsigned op : {0u, 3u, 4u, 0xFFFFu}) {
            f = reply(5);
            f[20] = static_cast<std::uint8_t>(op >> 8), f[21] = static_cast<std::uint8_t>(op);
            add("operation", f);
        }
        for (std::size_t cut : {41, 38, 32, 28, 22, 15}) {
            f = reply(6);
            f.resize(cut);
            add("cut short", f);
        }
        // A sender address no station can have.
        for (const TMacAddr& group : {kBroadcast, TMacAddr{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01},
                                      TMacAddr{0, 0, 0, 0, 0, 0}}) {
            add("group or zero sender",
                ArpFrame(scannerMac, bad.Mac, 2, group, Wire(ip), scannerMac, scannerIP));
        }
        // The answer of another address.
        add("other address", ArpFrame(scannerMac, bad.Mac, 2, KindMac(7, ip), Wire(ip + 100),
                                      scannerMac, scannerIP));
    }
    TFrameSender sender(bad.Namespace, "eth0", frames, 200us);
    ASSERT_EQ(sender.Error(), "");

    std::unique_ptr<TArpProbe> probes[] = {CreateRawArpProbe(), CreateNeighArpProbe()};
    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        ASSERT_TRUE(probes[p]);
        TFoundMap found;
        for (std::uint32_t ip = First; ip <= Last; ++ip) {
            std::uint8_t mac[8] = {};
            if (probes[p]->SendArp(Wire(ip), mac)) std::copy(mac, mac + 6, found[ip].begin());
        }
        EXPECT_EQ(found, Expected()) << "found " << Describe(found);
    }
    sender.Stop();
    std::printf("spoiled frames sent: %llu, %zu different ones\n",
                static_cast<unsigned long long>(sender.Sent()), frames.size());
}

// Gratuitous ARP from one host, requests and replies, for addresses outside the range and for its
// own, as fast as it can send them: the scan finds exactly the answering hosts and ends.
TEST_F(ScanFaultNetns, GratuitousFloodNeitherAddsRowsNorStallsTheScan) {
    const TScanResult quiet = Scan(First, Last);
    ASSERT_TRUE(quiet.Ended);
    ASSERT_EQ(quiet.Found, Expected());

    const TLanHost& flooder = lan_->Hosts.back();  // .31, outside the range
    std::vector<TFrame> frames;
    for (std::uint32_t ip = Host("198.18.0.100"); ip < Host("198.18.0.200"); ++ip) {
        for (std::uint16_t op : {1, 2}) {
            frames.push_back(ArpFrame(kBroadcast, flooder.Mac, op, KindMac(8, ip), Wire(ip),
                                      kBroadcast, Wire(ip)));
        }
    }
    frames.push_back(ArpFrame(kBroadcast, flooder.Mac, 2, flooder.Mac, Wire(flooder.HostIP),
                              kBroadcast, Wire(flooder.HostIP)));
    TFrameSender sender(flooder.Namespace, "eth0", frames);
    ASSERT_EQ(sender.Error(), "");

    const TScanResult flooded = Scan(First, Last);
    sender.Stop();
    EXPECT_TRUE(flooded.Ended);
    EXPECT_EQ(flooded.Probed.size(), Last - First + 1);
    EXPECT_EQ(flooded.Found, Expected()) << "found " << Describe(flooded.Found);
    std::printf("scan of %u addresses: %.2f s quiet, %.2f s under %llu gratuitous frames\n",
                Last - First + 1, Seconds(quiet.Took), Seconds(flooded.Took),
                static_cast<unsigned long long>(sender.Sent()));
}

// The scanner's link goes down after .12 has been handed over: the scan goes on to the end, the
// later addresses are not found, and the end notice comes.
TEST_F(ScanFaultNetns, LinkDownMidScanEndsWithTheRestNotFound) {
    const std::uint32_t downAfter = Host("198.18.0.12");
    const std::string down = "ip link set " + lan_->ScannerIface + " down";
    TScanResult r = Scan(First, Last, [&](TScanIPThread&, int) {
        if (CurrentIP == downAfter) {
            ASSERT_EQ(lan_->ExecScanner(down), 0);
        }
    });
    EXPECT_TRUE(r.Ended);
    EXPECT_EQ(r.Probed.size(), Last - First + 1);
    EXPECT_EQ(r.Found, Expected(downAfter)) << "found " << Describe(r.Found);
    std::printf("scan with the link down after .12: %.2f s\n", Seconds(r.Took));
}

// A stop requested while the third address is being probed: its hand-off still comes, no later
// address is probed, and the end notice follows.
TEST_F(ScanFaultNetns, StopIsHonouredWithinOneProbe) {
    const std::uint32_t first = Host("198.18.0.11");  // .11 to .16 are silent
    std::chrono::steady_clock::time_point stopped{};
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    std::vector<std::uint32_t> probed;
    bool ended = false;
    auto* w = new TScanIPThread(first, Last, true, CreateArpProbe(), dispatcher);
    w->OnScan = [&] { probed.push_back(CurrentIP); };
    w->OnTerminate = [&] { ended = true; };
    w->Start();
    ASSERT_TRUE(dispatcher->RunUntil([&] { return probed.size() == 2; }, 60s));
    std::this_thread::sleep_for(200ms);  // the third probe is under way
    w->Terminate();
    stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(dispatcher->RunUntil([&] { return ended; }, 60s)) << "the stop is not honoured";
    EXPECT_EQ(probed, (std::vector<std::uint32_t>{first, first + 1, first + 2}));
    std::printf("end notice %.2f s after the stop request\n",
                Seconds(std::chrono::steady_clock::now() - stopped));
}

}  // namespace
