// Faults during a real scan in a namespace LAN (root only): hosts that answer with spoiled ARP
// frames, forged replies, two MACs for one address, a host that answers late, a flood of
// gratuitous ARP, the link going down, a stop request, and the program killed while it saves.
#include <gtest/gtest.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/RootOnly.h"
#include "../support/TempDir.h"
#include "AddressTable.h"
#include "ArpProbeLinux.h"
#include "FrameSender.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "NetnsLan.h"
#include "QueueDispatcher.h"
#include "SaveWriter.h"
#include "ScanIPThread.h"

namespace {

using namespace std::chrono_literals;
using TFoundMap = std::map<std::uint32_t, TMacAddr>;  // host order -> MAC

std::uint32_t Host(const char* text) { return NetToHost(StrToIP(text)); }
std::uint32_t Wire(std::uint32_t host) { return HostToNet(host); }

// A /22 of eight hosts, at offsets 10, 136, 262, ... 892 of 198.18.0.0; wide enough that a probe
// reading ahead (512 addresses at most) cannot have asked for the whole range at once.
const int kHosts = 8;
const std::uint32_t Base = Host("198.18.0.0");
const std::uint32_t First = Base + 8;
const std::uint32_t Last = Base + 140;  // hosts at 10 and 136
const std::uint32_t WideLast = Base + 1000;
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

// The ARP frames of one sender as the scanner's link takes them in, on a socket of its own that
// asks for arrival stamps (and so, as every socket asking for them, turns the kernel's on).
class TArrivals {
  public:
    TArrivals(const std::string& iface, const TMacAddr& from)
        : sock_(socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ARP))),
          from_(from) {
        const int on = 1;
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ARP);
        at.sll_ifindex = static_cast<int>(if_nametoindex(iface.c_str()));
        ok_ = sock_.Valid() &&
              setsockopt(sock_.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 &&
              bind(sock_.Get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    // Waits for count frames of the sender with this ARP operation; with stamped, only frames the
    // kernel stamped as they came in count. (The kernel starts stamping a moment after a socket
    // first asks; until then it stamps a frame as it is read, later than the read began.)
    bool Wait(std::uint64_t count, std::uint8_t op, bool stamped) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        std::uint64_t seen = 0;
        while (ok_ && seen < count && std::chrono::steady_clock::now() < until) {
            pollfd p{sock_.Get(), POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            timespec before{};
            clock_gettime(CLOCK_REALTIME, &before);
            std::uint8_t frame[1600];
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            iovec io{frame, sizeof frame};
            msghdr m{};
            m.msg_iov = &io;
            m.msg_iovlen = 1;
            m.msg_control = control;
            m.msg_controllen = sizeof control;
            if (recvmsg(sock_.Get(), &m, 0) < 42 || frame[21] != op ||
                !std::equal(from_.begin(), from_.end(), frame + 6))
                continue;
            bool earlier = false;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
                timespec in{};
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
                std::memcpy(&in, CMSG_DATA(c), sizeof in);
                earlier = in.tv_sec < before.tv_sec ||
                          (in.tv_sec == before.tv_sec && in.tv_nsec < before.tv_nsec);
            }
            seen += !stamped || earlier;
        }
        return seen >= count;
    }

  private:
    TFd sock_;
    TMacAddr from_;
    bool ok_ = false;
};

struct TScanResult {
    TFoundMap Found;
    std::vector<std::uint32_t> Probed;
    std::vector<TContested> Contested;
    TProbeFault Fault;
    bool Ended = false;
    std::chrono::steady_clock::duration Took{};
};

// One LAN for the whole suite: a case that changes it (a host that keeps silent, the link down)
// puts it back, and each case starts with every neighbour table empty.
class ScanFaultNetns : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        lan_ = new TNetnsLan("qflt", kHosts, "--bits 22 --span 1024");
        // Short kernel timings keep the silent addresses cheap; both probes follow them.
        if (lan_->Ok()) {
            timings_ = lan_->ExecScanner(
                "sysctl -q -w net.ipv4.neigh.lan0.mcast_solicit=2 "
                "net.ipv4.neigh.lan0.retrans_time_ms=300 net.ipv4.neigh.lan0.ucast_solicit=2 "
                "net.ipv4.neigh.lan0.delay_first_probe_time=1");
        }
    }
    static void TearDownTestSuite() {
        delete lan_;
        lan_ = nullptr;
    }
    void SetUp() override {
        if (!lan_->Ok()) QUORVEL_SKIP_ROOT_ONLY() << "no namespace LAN: " << lan_->Error();
        ASSERT_EQ(timings_, 0) << "the scanner's neighbour timings were not set";
        lan_->ForgetNeighbours();
        enter_ = std::make_unique<TNetnsEnter>(lan_->ScannerNamespace);
        ASSERT_TRUE(enter_->Ok());
    }

    TFoundMap Expected(std::uint32_t first = First, std::uint32_t last = Last) const {
        TFoundMap m;
        for (const TLanHost& h : lan_->Hosts) {
            if (h.HostIP >= first && h.HostIP <= last) m[h.HostIP] = h.Mac;
        }
        return m;
    }

    // Runs a worker with the given probe over first..last; onScan runs in each hand-off with
    // the outcome variables set.
    TScanResult Scan(std::unique_ptr<TArpProbe> probe, std::uint32_t first, std::uint32_t last,
                     const std::function<void(TScanIPThread&, int probed)>& onScan = {}) {
        TScanResult r;
        auto dispatcher = std::make_shared<TQueueDispatcher>();
        auto* w = new TScanIPThread(first, last, true, std::move(probe), dispatcher);
        w->OnScan = [&, w] {
            r.Probed.push_back(CurrentIP);
            if (Found) std::copy(MacAddr, MacAddr + 6, r.Found[CurrentIP].begin());
            if (onScan) onScan(*w, static_cast<int>(r.Probed.size()));
        };
        w->OnTerminate = [&, w] {
            r.Ended = true;
            r.Contested = w->Contested();
            r.Fault = w->Fault();
        };
        auto start = std::chrono::steady_clock::now();
        w->Start();
        EXPECT_TRUE(dispatcher->RunUntil([&] { return r.Ended; }, 120s)) << "the scan hangs";
        r.Took = std::chrono::steady_clock::now() - start;
        return r;
    }

    static TNetnsLan* lan_;
    static int timings_;
    std::unique_ptr<TNetnsEnter> enter_;
};

TNetnsLan* ScanFaultNetns::lan_ = nullptr;
int ScanFaultNetns::timings_ = 0;

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

// Frames that look like the answer for each silent address of the range, but are spoiled, sent
// by the host at offset 892; the kinds are those of the shape of the frame, or only those whose
// sender MAC is a group or zero address (which no station can have).
std::vector<TFrame> SpoiledFrames(const TNetnsLan& lan, bool groupSenders) {
    const TLanHost& bad = lan.Hosts.back();
    const TMacAddr scannerMac = lan.ScannerMac;
    const std::uint32_t scannerIP = Wire(lan.ScannerIP);
    std::vector<TFrame> frames;
    auto answers = [&lan](std::uint32_t ip) {
        for (const TLanHost& h : lan.Hosts) {
            if (h.HostIP == ip) return true;
        }
        return false;
    };
    for (std::uint32_t ip = First; ip <= Last; ++ip) {
        if (answers(ip)) continue;
        auto reply = [&](int kind) {
            return ArpFrame(scannerMac, bad.Mac, 2, KindMac(kind, ip), Wire(ip), scannerMac,
                            scannerIP);
        };
        if (groupSenders) {
            for (const TMacAddr& group :
                 {kBroadcast, TMacAddr{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01},
                  TMacAddr{0x33, 0x33, 0x00, 0x00, 0x00, 0x01}, TMacAddr{0, 0, 0, 0, 0, 0}}) {
                frames.push_back(
                    ArpFrame(scannerMac, bad.Mac, 2, group, Wire(ip), scannerMac, scannerIP));
            }
            continue;
        }
        TFrame f;
        // Hardware types other than Ethernet (1) and IEEE 802 (6, which Linux takes as well).
        for (unsigned type : {0u, 32u, 0xFFFFu}) {
            f = reply(1);
            f[14] = static_cast<std::uint8_t>(type >> 8), f[15] = static_cast<std::uint8_t>(type);
            frames.push_back(f);
        }
        f = reply(2);
        f[16] = 0x86, f[17] = 0xDD;  // protocol IPv6
        frames.push_back(f);
        f = reply(3);
        f[18] = 8;  // hardware address length
        frames.push_back(f);
        f = reply(4);
        f[19] = 16;  // protocol address length
        frames.push_back(f);
        for (unsigned op : {0u, 3u, 4u, 0xFFFFu}) {
            f = reply(5);
            f[20] = static_cast<std::uint8_t>(op >> 8), f[21] = static_cast<std::uint8_t>(op);
            frames.push_back(f);
        }
        for (std::size_t cut : {41, 38, 32, 28, 22, 15}) {
            f = reply(6);
            f.resize(cut);
            frames.push_back(f);
        }
        // The answer of an address outside the /22, sent to us.
        frames.push_back(ArpFrame(scannerMac, bad.Mac, 2, KindMac(7, ip), Wire(ip + 2000),
                                  scannerMac, scannerIP));
    }
    return frames;
}

// None of the spoiled frames may become a row, with either probe, and the real hosts are still
// found with their own MACs.
TEST_F(ScanFaultNetns, SpoiledRepliesNeverBecomeRows) {
    const std::vector<TFrame> frames = SpoiledFrames(*lan_, false);
    TFrameSender sender(lan_->Hosts.back().Namespace, "eth0", frames, 200us);
    ASSERT_EQ(sender.Error(), "");
    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        TScanResult r = Scan(p == 0 ? CreateRawArpProbe() : CreateNeighArpProbe(), First, Last);
        EXPECT_TRUE(r.Ended);
        EXPECT_EQ(r.Found, Expected()) << "found " << Describe(r.Found);
    }
    sender.Stop();
    std::printf("spoiled frames sent: %llu, %zu different ones\n",
                static_cast<unsigned long long>(sender.Sent()), frames.size());
}

// A reply naming a broadcast, multicast or zero MAC for an address: the raw probe refuses it, and
// so does the neigh probe, although the kernel takes it into its neighbour table as reachable.
TEST_F(ScanFaultNetns, GroupSenderAddressesNeverBecomeRows) {
    TFrameSender sender(lan_->Hosts.back().Namespace, "eth0", SpoiledFrames(*lan_, true), 200us);
    ASSERT_EQ(sender.Error(), "");
    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        const std::uint64_t sentBefore = sender.Sent();
        TScanResult r = Scan(p == 0 ? CreateRawArpProbe() : CreateNeighArpProbe(), First, Last);
        EXPECT_TRUE(r.Ended);
        EXPECT_EQ(r.Found, Expected()) << "found " << Describe(r.Found);
        EXPECT_GT(sender.Sent(), sentBefore) << "no spoiled frame went out during the scan";
    }
}

// Replies that answer no request of ours, from the host at offset 892, for silent addresses:
// replies that came before the request (for .20, and a forged MAC for the host at .10), a reply
// to another host's address (.21), one whose target MAC is another's (.22), and one only a
// promiscuous interface passes on (sent to a MAC nobody has, so the switch floods it; .23).
// None is bound, alone or in a whole scan, and the host at .10 is found with its own MAC.
TEST_F(ScanFaultNetns, RepliesToNoRequestOfOursAreNeverBound) {
    const TLanHost& bad = lan_->Hosts.back();
    const TLanHost& other = lan_->Hosts[1];
    const TLanHost& real = lan_->Hosts[0];
    const TMacAddr us = lan_->ScannerMac, stranger{0x02, 0xBA, 0xD0, 0, 0, 0x99};
    const std::uint32_t usIP = Wire(lan_->ScannerIP);
    auto reply = [&](const TMacAddr& dst, std::uint32_t ip, const TMacAddr& targetMac,
                     std::uint32_t targetIP) {
        return ArpFrame(dst, bad.Mac, 2, KindMac(10, ip), Wire(ip), targetMac, targetIP);
    };
    auto probe = CreateRawArpProbe();
    ASSERT_TRUE(probe);
    // A reply that came in before the kernel stamps arrivals would look as new as the request.
    TArrivals arrivals(lan_->ScannerIface, bad.Mac);
    {
        TFrameSender requests(bad.Namespace, "eth0",
                              {ArpFrame(kBroadcast, bad.Mac, 1, bad.Mac, Wire(bad.HostIP),
                                        TMacAddr{}, Wire(bad.HostIP))},
                              1ms);
        ASSERT_TRUE(arrivals.Wait(1, 1, true)) << "the kernel does not stamp arrivals";
    }
    {
        TFrameSender early(bad.Namespace, "eth0",
                           {reply(us, Base + 20, us, usIP), reply(us, real.HostIP, us, usIP)}, 1ms);
        ASSERT_EQ(early.Error(), "");
        ASSERT_TRUE(early.WaitSent(4, 10s)) << "the early replies were not sent";
        early.Stop();
        ASSERT_TRUE(arrivals.Wait(early.Sent(), 2, false)) << "the early replies did not come in";
    }
    std::uint8_t mac[8] = {};
    EXPECT_FALSE(probe->SendArp(Wire(Base + 20), mac));
    ASSERT_TRUE(probe->SendArp(Wire(real.HostIP), mac));
    EXPECT_EQ(MacToColonStr(mac), MacToColonStr(real.Mac.data()));

    TFrameSender sender(
        bad.Namespace, "eth0",
        {reply(us, Base + 21, us, Wire(other.HostIP)), reply(us, Base + 22, other.Mac, usIP),
         reply(stranger, Base + 23, us, usIP)},
        200us);
    ASSERT_EQ(sender.Error(), "");
    for (std::uint32_t ip = Base + 21; ip <= Base + 23; ++ip)
        EXPECT_FALSE(probe->SendArp(Wire(ip), mac)) << IPToStr(Wire(ip));
    TScanResult r = Scan(std::move(probe), First, Last);
    EXPECT_TRUE(r.Ended);
    EXPECT_EQ(r.Found, Expected()) << "found " << Describe(r.Found);
}

// A host forges a reply for the host at .10 to every request for it: two MACs answer for it,
// alone and in a whole scan. It is handed off as not found and reported with both MACs.
TEST_F(ScanFaultNetns, TwoMacsForOneAddressAreContestedNotBound) {
    const TLanHost& bad = lan_->Hosts.back();
    const TLanHost& real = lan_->Hosts[0];
    TLateResponder forger(bad.Namespace, "eth0", Wire(real.HostIP), bad.Mac, 0ms);
    ASSERT_EQ(forger.Error(), "");
    auto both = [&](const std::vector<TContested>& c) {
        return c.size() == 1 && c[0].IP == real.HostIP &&
               std::set<TMacAddr>(c[0].Macs.begin(), c[0].Macs.end()) ==
                   std::set<TMacAddr>{real.Mac, bad.Mac};
    };
    auto probe = CreateRawArpProbe();
    std::uint8_t mac[8] = {};
    EXPECT_FALSE(probe->SendArp(Wire(real.HostIP), mac));
    EXPECT_TRUE(both(probe->TakeContested()));

    TScanResult r = Scan(std::move(probe), First, Last);
    TFoundMap expected = Expected();
    expected.erase(real.HostIP);
    EXPECT_EQ(r.Found, expected) << "found " << Describe(r.Found);
    EXPECT_TRUE(both(r.Contested));
    EXPECT_GE(forger.Answered(), 2u);
}

// The host at offset 136 answers 0.65 s late, as a dozing wireless client may: a whole scan
// finds it with either probe, whose patience (1.5 s) is well above that.
TEST_F(ScanFaultNetns, HostAnsweringLateIsFound) {
    const TLanHost& late = lan_->Hosts[1];
    const std::string arpIgnore =
        "ip netns exec " + late.Namespace + " sysctl -q -w net.ipv4.conf.eth0.arp_ignore=";
    ASSERT_EQ(std::system((arpIgnore + "8").c_str()), 0);
    struct TAnswerAgain {  // the host answers for itself again in the next case
        std::string command;
        ~TAnswerAgain() { lan_->ExecScanner(command); }
    } answerAgain{arpIgnore + "0"};
    TLateResponder responder(late.Namespace, "eth0", Wire(late.HostIP), late.Mac, 650ms);
    ASSERT_EQ(responder.Error(), "");
    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        lan_->ExecScanner("ip neigh flush dev lan0");
        TScanResult r = Scan(p == 0 ? CreateRawArpProbe() : CreateNeighArpProbe(), First, Last);
        EXPECT_TRUE(r.Ended);
        EXPECT_EQ(r.Found, Expected()) << "found " << Describe(r.Found);
        std::printf("%s probe, %u addresses, one host 0.65 s late: %.2f s\n", names[p],
                    Last - First + 1, Seconds(r.Took));
    }
    EXPECT_GT(responder.Answered(), 0u);
}

// Gratuitous ARP from one host, requests and replies, for addresses outside the range and for its
// own, as fast as it can send them: the scan finds exactly the answering hosts and ends.
TEST_F(ScanFaultNetns, GratuitousFloodNeitherAddsRowsNorStallsTheScan) {
    const TLanHost& flooder = lan_->Hosts.back();  // offset 892
    std::vector<TFrame> frames;
    for (std::uint32_t ip = Base + 1002; ip < Base + 1020; ++ip) {
        for (std::uint16_t op : {1, 2}) {
            frames.push_back(ArpFrame(kBroadcast, flooder.Mac, op, KindMac(8, ip), Wire(ip),
                                      kBroadcast, Wire(ip)));
        }
    }
    frames.push_back(ArpFrame(kBroadcast, flooder.Mac, 2, flooder.Mac, Wire(flooder.HostIP),
                              kBroadcast, Wire(flooder.HostIP)));
    // Replies sent to the scanner itself, which pass its socket's filter: it reads them a
    // bounded number at a time, and the scan goes on between.
    for (std::uint32_t ip = Base + 1002; ip < Base + 1020; ++ip) {
        frames.push_back(ArpFrame(lan_->ScannerMac, flooder.Mac, 2, KindMac(9, ip), Wire(ip),
                                  lan_->ScannerMac, Wire(lan_->ScannerIP)));
    }

    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        auto probe = [p] { return p == 0 ? CreateRawArpProbe() : CreateNeighArpProbe(); };
        // The neigh probe is paced by the kernel's table; the narrow range keeps it short.
        const std::uint32_t last = p == 0 ? WideLast : Last;
        const TScanResult quiet = Scan(probe(), First, last);
        ASSERT_TRUE(quiet.Ended);
        ASSERT_EQ(quiet.Found, Expected(First, last));

        TFrameSender sender(flooder.Namespace, "eth0", frames);
        ASSERT_EQ(sender.Error(), "");
        const TScanResult flooded = Scan(probe(), First, last);
        sender.Stop();
        EXPECT_TRUE(flooded.Ended);
        EXPECT_EQ(flooded.Probed.size(), last - First + 1);
        EXPECT_EQ(flooded.Found, Expected(First, last)) << "found " << Describe(flooded.Found);
        std::printf("%s probe, %u addresses: %.2f s quiet, %.2f s under %llu gratuitous frames\n",
                    names[p], last - First + 1, Seconds(quiet.Took), Seconds(flooded.Took),
                    static_cast<unsigned long long>(sender.Sent()));
    }
}

// Passes every call on to a probe, adding up the processor time the worker spends in it.
class TCpuProbe : public TArpProbe {
  public:
    explicit TCpuProbe(std::unique_ptr<TArpProbe> probe, double* cpu)
        : probe_(std::move(probe)), cpu_(cpu) {}
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        return Timed([&] { return probe_->SendArp(wireIP, mac); });
    }
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override {
        Timed([&] {
            probe_->ExpectRange(firstIP, lastIP);
            return true;
        });
    }
    std::vector<TContested> TakeContested() override { return probe_->TakeContested(); }

  private:
    static double ThreadCpu() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    bool Timed(const std::function<bool()>& call) {
        const double before = ThreadCpu();
        const bool result = call();
        *cpu_ += ThreadCpu() - before;
        return result;
    }
    std::unique_ptr<TArpProbe> probe_;
    double* cpu_;
};

// One host answers every request for a silent address with replies from forged MACs (4,096 of
// them in turn, tens of thousands a second, for the scan's few seconds): no real host is missed,
// and the address is reported contested with two MACs and a count of the rest. The pause after
// each round keeps the rate within what a sanitizer-slowed reader takes without dropping frames.
TEST_F(ScanFaultNetns, ForgedMacFloodForOneAddressMissesNoHost) {
    const TLanHost& flooder = lan_->Hosts.back();
    const std::uint32_t silent = Base + 12;
    std::vector<TFrame> frames;
    for (std::uint32_t k = 0; k < 4096; ++k) {
        frames.push_back(ArpFrame(lan_->ScannerMac, flooder.Mac, 2, KindMac(10, k), Wire(silent),
                                  lan_->ScannerMac, Wire(lan_->ScannerIP)));
    }
    double quietCpu = 0;
    const TScanResult quiet =
        Scan(std::make_unique<TCpuProbe>(CreateRawArpProbe(), &quietCpu), First, WideLast);
    ASSERT_EQ(quiet.Found, Expected(First, WideLast));

    TFrameSender sender(flooder.Namespace, "eth0", frames, 40ms);
    ASSERT_EQ(sender.Error(), "");
    double floodCpu = 0;
    const TScanResult flooded =
        Scan(std::make_unique<TCpuProbe>(CreateRawArpProbe(), &floodCpu), First, WideLast);
    sender.Stop();
    EXPECT_EQ(flooded.Found, Expected(First, WideLast)) << "found " << Describe(flooded.Found);
    ASSERT_EQ(flooded.Contested.size(), 1u);
    EXPECT_EQ(flooded.Contested[0].IP, silent);
    EXPECT_EQ(flooded.Contested[0].Macs.size(), 2u);
    EXPECT_GT(flooded.Contested[0].More, 0u);
    std::printf(
        "raw probe, %u addresses: %.2f s and %.2f s of CPU quiet, %.2f s and %.2f s of "
        "CPU under %llu forged replies (%llu counted beyond two MACs)\n",
        WideLast - First + 1, Seconds(quiet.Took), quietCpu, Seconds(flooded.Took), floodCpu,
        static_cast<unsigned long long>(sender.Sent()),
        static_cast<unsigned long long>(flooded.Contested[0].More));
}

// The scanner's link goes down in the hand-off of the first address (its own, decided at once):
// the scan goes on to the end and the end notice comes. Hosts asked for before (requests seen
// on the link) are found with their own MAC or not at all; hosts not asked for are not found;
// the requests that could not go out make the raw probe's scan end with the link's failure.
TEST_F(ScanFaultNetns, LinkDownMidScanEndsWithTheRestNotFound) {
    const std::string link = "ip link set " + lan_->ScannerIface;
    struct TLinkUpAgain {  // for the next case
        std::string command;
        ~TLinkUpAgain() { lan_->ExecScanner(command); }
    } upAgain{link + " up"};
    const std::uint32_t first = lan_->ScannerIP;
    TFd capture(socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK, htons(ETH_P_ALL)));  // sees sends
    ASSERT_TRUE(capture.Valid());
    const char* names[] = {"raw", "neigh"};
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(names[p]);
        ASSERT_EQ(lan_->ExecScanner(link + " up"), 0);
        std::set<std::uint32_t> asked;
        auto readAsked = [&] {
            std::uint8_t f[1600];
            ssize_t n;
            while ((n = recv(capture.Get(), f, sizeof f, 0)) > 0) {
                auto m = ParseArpFrame(f, static_cast<std::size_t>(n));
                if (m && m->Op == ArpRequest && m->SenderIP == Wire(lan_->ScannerIP))
                    asked.insert(NetToHost(m->TargetIP));
            }
        };
        readAsked();
        asked.clear();
        // The neigh probe is paced by the kernel's table; the narrow range keeps it short.
        const std::uint32_t last = p == 0 ? WideLast : Last;
        TScanResult r = Scan(p == 0 ? CreateRawArpProbe() : CreateNeighArpProbe(), first, last,
                             [&](TScanIPThread&, int probed) {
                                 if (probed != 1) return;
                                 readAsked();
                                 ASSERT_EQ(lan_->ExecScanner(link + " down"), 0);
                             });
        EXPECT_TRUE(r.Ended);
        EXPECT_EQ(r.Probed.size(), last - first + 1);
        TFoundMap all = Expected(first, last);
        std::size_t unasked = 0;
        for (const auto& [ip, mac] : all) unasked += asked.count(ip) == 0;
        if (p == 0) {
            EXPECT_GT(unasked, 0u) << "every host was asked before the link went down";
            EXPECT_EQ(r.Fault.Kind, TProbeFaultKind::LinkFailed) << r.Fault.Detail;
            EXPECT_NE(r.Fault.Detail.find("sendto"), std::string::npos) << r.Fault.Detail;
        }
        for (const auto& [ip, mac] : r.Found) {
            EXPECT_TRUE(ip == first || (asked.count(ip) == 1 && all[ip] == mac))
                << IPToStr(HostToNet(ip)) << " found after the link went down";
        }
        std::printf(
            "%s probe, %u addresses with the link down after the first: %.2f s, %zu asked before, "
            "%zu found\n",
            names[p], last - first + 1, Seconds(r.Took), asked.size(), r.Found.size());
    }
}

// Passes every call on to a probe; asks the worker to stop as the given call to SendArp begins.
class TStopInProbe : public TArpProbe {
  public:
    TStopInProbe(std::unique_ptr<TArpProbe> probe, int stopAtCall)
        : probe_(std::move(probe)), stopAtCall_(stopAtCall) {}
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        if (++calls_ == stopAtCall_) {
            Stopped = std::chrono::steady_clock::now();
            Worker->Terminate();
        }
        return probe_->SendArp(wireIP, mac);
    }
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override {
        probe_->ExpectRange(firstIP, lastIP);
    }
    void Cancel() override { probe_->Cancel(); }
    void Stop() override { probe_->Stop(); }
    std::vector<TContested> TakeContested() override { return probe_->TakeContested(); }

    TScanIPThread* Worker = nullptr;  // set before the worker starts
    std::chrono::steady_clock::time_point Stopped;

  private:
    std::unique_ptr<TArpProbe> probe_;
    int stopAtCall_;
    int calls_ = 0;
};

// A stop requested while an address is being probed: its hand-off still comes at once, no later
// address is handed off, and the end notice follows. Each probe kind, started in a silent
// stretch; the neighbour probe also where its address waits for the kernel's next allowance of
// new entries (up to 30 s), which a stop does not wait for.
TEST_F(ScanFaultNetns, StopIsHonouredWithinOneProbe) {
    const std::uint32_t first = Base + 11;  // 11 to 135 are silent
    // The allowance: half of gc_thresh2 (512 by default), at most the probe's window of 256.
    const int allowance = std::min(256, ReadNeighParams(lan_->ScannerIface).GcThresh2 / 2);
    struct TCase {
        const char* name;
        bool raw;
        int stopAt;
    };
    for (const TCase& c : {TCase{"raw", true, 3}, TCase{"neigh", false, 3},
                           TCase{"neigh past the allowance", false, allowance + 1}}) {
        SCOPED_TRACE(c.name);
        auto dispatcher = std::make_shared<TQueueDispatcher>();
        std::vector<std::uint32_t> probed;
        bool ended = false;
        auto stopper = std::make_unique<TStopInProbe>(
            c.raw ? CreateRawArpProbe() : CreateNeighArpProbe(), c.stopAt);
        TStopInProbe* probe = stopper.get();
        auto* w = new TScanIPThread(first, WideLast, true, std::move(stopper), dispatcher);
        probe->Worker = w;
        w->OnScan = [&] { probed.push_back(CurrentIP); };
        // The probe goes with the worker once the end notice has run: its stop time is read in it.
        std::chrono::steady_clock::duration afterStop{};
        w->OnTerminate = [&] {
            afterStop = std::chrono::steady_clock::now() - probe->Stopped;
            ended = true;
        };
        w->Start();
        ASSERT_TRUE(dispatcher->RunUntil([&] { return ended; }, 60s)) << "the stop is not honoured";
        ASSERT_EQ(probed.size(), static_cast<std::size_t>(c.stopAt));
        EXPECT_EQ(probed.back(), first + c.stopAt - 1);
        // Far above the 1 s a stop takes, far below the allowance's 30 s.
        EXPECT_LT(afterStop, 10s);
        std::printf("%s: end notice %.3f s after the stop request\n", c.name, Seconds(afterStop));
    }
}

}  // namespace

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The scan as the window runs it, in a child: every find merged, the writer saving beside the
// scan. Never returns.
[[noreturn]] void ScanAndSave(const std::string& dir, std::uint32_t first, std::uint32_t last) {
    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir);
    table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
    if (table.LoadArpList() != TLoadStatus::Loaded) _exit(3);
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    TSaveWriter writer([&table] { return table.Snapshot(); }, dispatcher);
    bool ended = false;
    auto* w = new TScanIPThread(first, last, true, CreateArpProbe(), dispatcher);
    w->OnScan = [&] {
        if (!Found) return;
        table.MergeFound(CurrentIP, MacAddr);
        writer.Changed();
    };
    w->OnTerminate = [&] { writer.AfterSave([&](const TSaveReport&) { ended = true; }); };
    w->Start();
    dispatcher->RunUntil([&] { return ended; }, 60s);
    _exit(ended ? 0 : 4);
}

// A dense LAN scanned and killed (SIGKILL) at random moments: each of the three files is either
// as it was or whole, and the list holds every row it started with.
TEST(KilledDuringADenseScan, FilesStayWholeWithEveryStartingRow) {
    TNetnsLan lan("qkil", 120, "--bits 24");
    if (!lan.Ok()) QUORVEL_SKIP_ROOT_ONLY() << "no namespace LAN: " << lan.Error();
    TNetnsEnter enter(lan.ScannerNamespace);
    ASSERT_TRUE(enter.Ok());
    // Rows the scan updates (other MACs for some of its hosts) and rows beyond the range, last
    // in address order: a torn file would lose those first.
    std::string start;
    std::vector<std::string> startIPs;
    for (int i = 0; i < 200; ++i) {
        const std::string ip =
            i < 40 ? IPToStr(HostToNet(lan.Hosts[static_cast<std::size_t>(i)].HostIP))
                   : "198.19.0." + std::to_string(i);
        startIPs.push_back(ip);
        start += ip + "|02:00:00:00:00:" + std::to_string(10 + i % 80) + "\r\n";
    }
    // The kill moments come from this seed; QUORVEL_SEED gives it again to replay their delays.
    const char* given = std::getenv("QUORVEL_SEED");
    const unsigned seed = given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                                           : std::random_device{}();
    std::printf("kill delays from seed %u (QUORVEL_SEED=%u replays them)\n", seed, seed);
    SCOPED_TRACE("QUORVEL_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    TTempDir dir;
    int saved = 0;
    for (int round = 0; round < 8; ++round) {
        for (const char* file : {"ArpList.ini", "BindArp.bat", "BindDhcp.bat"})
            std::filesystem::remove(dir.Path() + "/" + file);
        dir.Write("ArpList.ini", start);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) ScanAndSave(dir.Path(), Host("198.18.0.2"), Host("198.18.0.254"));
        if (round % 2 == 1) {
            // Every other kill comes after the first save, among the later ones, however slow
            // the machine (a sanitizer's build) makes the scan's start.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (ReadAll(dir.Path() + "/ArpList.ini") == start &&
                   std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % (round % 2 ? 400 : 2500)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        const std::string list = ReadAll(dir.Path() + "/ArpList.ini");
        if (list != start) {
            ++saved;
            ASSERT_EQ(list.rfind(";Generated by Quorvel.", 0), 0u) << "round " << round;
            ASSERT_TRUE(list.ends_with("\r\n")) << "round " << round;
            for (const std::string& ip : startIPs)
                ASSERT_NE(list.find("\r\n" + ip + "|"), std::string::npos) << ip;
        }
        const std::string arp = ReadAll(dir.Path() + "/BindArp.bat");
        if (!arp.empty()) {
            for (const std::string& ip : startIPs)
                ASSERT_NE(arp.find("\r\narp -s " + ip + " "), std::string::npos) << ip;
        }
        const std::string dhcp = ReadAll(dir.Path() + "/BindDhcp.bat");
        if (!dhcp.empty()) {
            ASSERT_TRUE(dhcp.ends_with("\r\npause\r\n")) << "round " << round;
        }
    }
    EXPECT_GT(saved, 0) << "no kill came after a save";
}

}  // namespace
