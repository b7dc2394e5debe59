// Both Linux probes and the worker against a real LAN of network namespaces (root only).
#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "../support/RootOnly.h"
#include "ArpPacket.h"
#include "ArpProbeLinux.h"
#include "FrameLinkPacket.h"
#include "FrameSender.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "NetnsLan.h"
#include "QueueDispatcher.h"
#include "RawSocket.h"
#include "ScanIPThread.h"

namespace {

using TFoundMap = std::map<std::uint32_t, TMacAddr>;  // host order -> MAC

std::uint32_t Host(const char* text) { return NetToHost(StrToIP(text)); }

// Hosts at .10 (and .11 sharing its MAC), .14, .18, .22, .26, .30; everything else silent.
const std::uint32_t First = Host("198.18.0.1");
const std::uint32_t Last = Host("198.18.0.20");

class ArpNetns : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        lan_ = new TNetnsLan("qscan", 6, "--span 40 --shared-mac");
        if (!lan_->Ok()) return;
        // Short kernel timings keep the silent addresses cheap; both probes follow them.
        lan_->ExecScanner(
            "sh -c 'cd /proc/sys/net/ipv4/neigh/lan0 && echo 2 > mcast_solicit && "
            "echo 300 > retrans_time_ms && echo 2 > ucast_solicit && "
            "echo 1 > delay_first_probe_time'");
    }
    static void TearDownTestSuite() {
        delete lan_;
        lan_ = nullptr;
    }
    void SetUp() override {
        if (!lan_->Ok()) QUORVEL_SKIP_ROOT_ONLY() << "no namespace LAN: " << lan_->Error();
        lan_->ForgetNeighbours();  // the cases share the LAN
        enter_ = std::make_unique<TNetnsEnter>(lan_->ScannerNamespace);
        ASSERT_TRUE(enter_->Ok());
    }

    static TFoundMap Expected() {
        TFoundMap m{{lan_->ScannerIP, lan_->ScannerMac}};
        for (const TLanHost& h : lan_->Hosts)
            if (h.HostIP >= First && h.HostIP <= Last) m[h.HostIP] = h.Mac;
        return m;
    }

    static TFoundMap Scan(TArpProbe& probe) {
        TFoundMap found;
        for (std::uint32_t ip = First; ip <= Last; ++ip) {
            std::uint8_t mac[8] = {};
            if (probe.SendArp(HostToNet(ip), mac)) std::copy(mac, mac + 6, found[ip].begin());
        }
        return found;
    }

    struct TWorkerScan {
        TFoundMap found;
        std::vector<std::uint32_t> handed;  // every hand-off, in order
        bool ended = false;
    };
    // A whole range through the worker with its read-ahead, handed off on this thread; with
    // stopAt, the stop is requested inside that address's hand-off.
    static TWorkerScan WorkerScan(std::unique_ptr<TArpProbe> probe, std::uint32_t first,
                                  std::uint32_t last, std::uint32_t stopAt = 0) {
        auto dispatcher = std::make_shared<TQueueDispatcher>();
        TWorkerScan r;
        auto* w = new TScanIPThread(first, last, true, std::move(probe), dispatcher);
        w->OnScan = [&r, w, stopAt] {
            r.handed.push_back(CurrentIP);
            if (Found) std::copy(MacAddr, MacAddr + 6, r.found[CurrentIP].begin());
            if (CurrentIP == stopAt) w->Terminate();
        };
        w->OnTerminate = [&r] { r.ended = true; };
        w->Start();
        dispatcher->RunUntil([&r] { return r.ended; }, std::chrono::seconds(120));
        return r;
    }
    static std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last) {
        std::vector<std::uint32_t> v;
        for (std::uint32_t ip = first; ip <= last; ++ip) v.push_back(ip);
        return v;
    }

    static TNetnsLan* lan_;
    std::unique_ptr<TNetnsEnter> enter_;
};

TNetnsLan* ArpNetns::lan_ = nullptr;

TEST_F(ArpNetns, LanHasSharedMacAndOwnAddressInRange) {
    TFoundMap e = Expected();
    EXPECT_EQ(e.size(), 5u);  // own address, .10, .11 (same MAC as .10), .14, .18
    EXPECT_EQ(e[Host("198.18.0.10")], e[Host("198.18.0.11")]);
    // the probes read the link's own kernel settings (shortened above)
    TNeighParams p = ReadNeighParams(lan_->ScannerIface);
    EXPECT_EQ(p.McastSolicit, 2);
    EXPECT_EQ(p.RetransMs, 300);
    EXPECT_EQ(p.DelayFirstProbeMs, 1000);
}

TEST_F(ArpNetns, RawFindsExactlyTheAnsweringHosts) {
    auto probe = CreateRawArpProbe();
    ASSERT_TRUE(probe) << "root may open AF_PACKET sockets";
    EXPECT_EQ(Scan(*probe), Expected());
}

TEST_F(ArpNetns, NeighFindsExactlyTheAnsweringHosts) {
    auto probe = CreateNeighArpProbe();
    EXPECT_EQ(Scan(*probe), Expected());
}

TEST_F(ArpNetns, AddressesOffTheLinkAreNotFound) {
    std::unique_ptr<TArpProbe> probes[] = {CreateRawArpProbe(), CreateNeighArpProbe()};
    for (auto& probe : probes) {
        std::uint8_t mac[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        for (const char* ip : {"198.18.1.10", "203.0.113.1", "198.18.0.0", "198.18.0.255"})
            EXPECT_FALSE(probe->SendArp(StrToIP(ip), mac)) << ip;
        EXPECT_EQ(mac[0], 1);  // untouched
    }
}

// The kernel keeps an old MAC as STALE for minutes; it is no answer until verified again.
TEST_F(ArpNetns, NeighReverifiesStaleEntries) {
    const char* live = "198.18.0.14";
    const char* gone = "198.18.0.13";
    ASSERT_EQ(lan_->ExecScanner(std::string("ip neigh replace ") + live +
                                " lladdr 02:00:00:00:00:99 nud stale dev lan0"),
              0);
    ASSERT_EQ(lan_->ExecScanner(std::string("ip neigh replace ") + gone +
                                " lladdr 02:00:00:00:00:98 nud stale dev lan0"),
              0);
    auto probe = CreateNeighArpProbe();
    std::uint8_t mac[8] = {};
    ASSERT_TRUE(probe->SendArp(StrToIP(live), mac));
    EXPECT_EQ(MacToColonStr(mac), MacToColonStr(Expected()[Host(live)].data()));
    EXPECT_FALSE(probe->SendArp(StrToIP(gone), mac));
}

TEST_F(ArpNetns, UnprivilegedUserGetsNeighAndFindsTheSame) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        std::ostringstream out;
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        if (CreateRawArpProbe() != nullptr) _exit(4);  // nobody may not open AF_PACKET
        auto probe = CreateArpProbe();
        for (const auto& [ip, mac] : Scan(*probe))
            out << IPToStr(HostToNet(ip)) << ' ' << MacToColonStr(mac.data()) << '\n';
        out << "worker\n";
        for (const auto& [ip, mac] : WorkerScan(CreateArpProbe(), First, Last).found)
            out << IPToStr(HostToNet(ip)) << ' ' << MacToColonStr(mac.data()) << '\n';
        std::string text = out.str();
        bool ok = write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(ok ? 0 : 5);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "3: cannot drop privileges, 4: raw probe opened";
    std::ostringstream expected;
    for (const auto& [ip, mac] : Expected())
        expected << IPToStr(HostToNet(ip)) << ' ' << MacToColonStr(mac.data()) << '\n';
    // alone, then with the worker's read-ahead
    EXPECT_EQ(text, expected.str() + "worker\n" + expected.str());
}

int OpenDescriptors() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += e.exists();
    return n;
}

TEST_F(ArpNetns, ProbesCloseEveryDescriptorAndStayCancelled) {
    int before = OpenDescriptors();
    {
        std::unique_ptr<TArpProbe> probes[] = {CreateRawArpProbe(), CreateNeighArpProbe()};
        for (auto& probe : probes) {
            std::uint8_t mac[8] = {};
            EXPECT_TRUE(probe->SendArp(StrToIP("198.18.0.10"), mac));
            EXPECT_FALSE(probe->SendArp(StrToIP("198.18.0.12"), mac));
            std::thread canceller([&] { probe->Cancel(); });
            canceller.join();
            EXPECT_FALSE(probe->SendArp(StrToIP("198.18.0.10"), mac));
        }
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

int PacketSockets() {
    std::ifstream in("/proc/thread-self/net/packet");
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines - 1;
}

// The socket held since start serves every probe, which opens none of its own; a reply that
// came in between two scans (here from a host that has gone since) is not taken for an answer.
TEST_F(ArpNetns, HeldSocketServesEveryProbeWithoutStaleReplies) {
    ASSERT_TRUE(HoldRawArpSocket());
    const int held = PacketSockets();
    const TLanHost& gone = lan_->Hosts.back();
    // Past the range the other cases scan: the kernel, which takes the forged reply too where it
    // has an entry, has none for it.
    const std::uint32_t silent = Host("198.18.0.37");
    {
        TFrameSender sender(gone.Namespace, "eth0",
                            {ArpFrame(lan_->ScannerMac, gone.Mac, 2, gone.Mac, HostToNet(silent),
                                      lan_->ScannerMac, HostToNet(lan_->ScannerIP))},
                            std::chrono::milliseconds(5));
        ASSERT_EQ(sender.Error(), "");
        ASSERT_TRUE(sender.WaitSent(3, std::chrono::seconds(10))) << "no stale reply was sent";
    }
    for (int scan = 0; scan < 2; ++scan) {
        std::unique_ptr<TArpProbe> probe = CreateRawArpProbe();
        ASSERT_NE(probe, nullptr);
        EXPECT_EQ(PacketSockets(), held);
        std::uint8_t mac[8] = {};
        EXPECT_FALSE(probe->SendArp(HostToNet(silent), mac));
        EXPECT_TRUE(probe->SendArp(StrToIP("198.18.0.10"), mac));
    }
    ReleaseRawArpSocket();
}

// What the raw socket's filter lets through, sent from the host at .30 among correct replies:
// only ARP-for-IPv4 replies sent to this host whose target MAC is the one they were sent to. The
// sender MAC's last byte names each kind; 0 is the correct reply.
TEST_F(ArpNetns, RawSocketFilterPassesOnlyRepliesSentToThisHost) {
    const TLanHost& from = lan_->Hosts.back();
    const TMacAddr us = lan_->ScannerMac, other{0x02, 0xBA, 0xD0, 0, 0, 0x99},
                   broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const std::uint32_t usIP = HostToNet(lan_->ScannerIP), ip = HostToNet(Host("198.18.0.17"));
    auto frame = [&](std::uint8_t kind, const TMacAddr& dst, std::uint16_t op,
                     const TMacAddr& targetMac) {
        return ArpFrame(dst, from.Mac, op, {0x02, 0xBA, 0xD0, 0, 1, kind}, ip, targetMac, usIP);
    };
    std::vector<TFrame> frames = {
        frame(0, us, 2, us),        frame(1, broadcast, 1, us),  // a request
        frame(2, broadcast, 2, us),                              // a reply to everyone
        frame(3, us, 2, other),  // a target MAC other than the destination
        frame(4, us, 1, us),     // a request sent to us
        frame(5, us, 2, us),     // another hardware type
        frame(6, us, 2, us),     // another protocol
    };
    frames[5][15] = 6;
    frames[6][16] = 0x86;
    frames[6][17] = 0xDD;
    TFd sock = OpenRawArpSocket();
    ASSERT_TRUE(sock.Valid());
    TFrameSender sender(from.Namespace, "eth0", frames, std::chrono::milliseconds(1));
    ASSERT_EQ(sender.Error(), "");
    int correct = 0;
    std::set<int> passed;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (correct < 5 && std::chrono::steady_clock::now() < until) {
        pollfd p{sock.Get(), POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        std::uint8_t buf[1600];
        const ssize_t n = recv(sock.Get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n < 42 || buf[22] != 0x02 || buf[23] != 0xBA || buf[24] != 0xD0) continue;
        passed.insert(buf[27]);
        correct += buf[27] == 0;
    }
    EXPECT_EQ(correct, 5) << "the correct replies do not come through";
    EXPECT_EQ(passed, std::set<int>{0});
    // Each round sends the correct reply first: the spoiled ones of four rounds went out too.
    EXPECT_GE(sender.Sent(), 4 * frames.size());
}

// A reply for our request that arrives on another interface of this host than the request left
// by is not the answer, even from a MAC that interface shares with the request's own; the same
// reply on the request's own link is.
TEST_F(ArpNetns, ReplyOnAnotherInterfaceIsNotTheAnswer) {
    const std::string us = MacToColonStr(lan_->ScannerMac.data());
    ASSERT_EQ(lan_->ExecScanner("sh -c 'ip link add lan1 address " + us +
                                " type veth peer name side1 && ip link set lan1 up && "
                                "ip link set side1 up'"),
              0);
    struct TRemoveLink {
        ~TRemoveLink() { lan_->ExecScanner("ip link del lan1"); }
    } remove;
    const std::uint32_t silent = Host("198.18.0.16");
    const TMacAddr forged{0x02, 0xBA, 0xD0, 0, 2, 0x16};
    const std::vector<TFrame> reply = {ArpFrame(lan_->ScannerMac, forged, 2, forged,
                                                HostToNet(silent), lan_->ScannerMac,
                                                HostToNet(lan_->ScannerIP))};
    std::uint8_t mac[8] = {};
    {
        TFrameSender aside(lan_->ScannerNamespace, "side1", reply, std::chrono::milliseconds(1));
        ASSERT_EQ(aside.Error(), "");
        auto probe = CreateRawArpProbe();
        ASSERT_NE(probe, nullptr);
        const std::uint64_t before = aside.Sent();
        EXPECT_FALSE(probe->SendArp(HostToNet(silent), mac)) << "taken from " << MacToColonStr(mac);
        EXPECT_GT(aside.Sent(), before) << "no reply went out while the probe waited";
    }
    {
        TFrameSender onLink(lan_->Hosts.back().Namespace, "eth0", reply,
                            std::chrono::milliseconds(1));
        ASSERT_EQ(onLink.Error(), "");
        auto probe = CreateRawArpProbe();
        ASSERT_NE(probe, nullptr);
        EXPECT_TRUE(probe->SendArp(HostToNet(silent), mac));
        EXPECT_EQ(MacToColonStr(mac), MacToColonStr(forged.data()));
    }
    lan_->ExecScanner("ip neigh flush dev lan0");
}

TEST_F(ArpNetns, WorkerWithEitherProbeFindsTheSameInOrder) {
    std::unique_ptr<TArpProbe> probes[] = {CreateArpProbe(), CreateNeighArpProbe()};
    for (auto& probe : probes) {
        TWorkerScan r = WorkerScan(std::move(probe), First, Last);
        EXPECT_TRUE(r.ended);
        EXPECT_EQ(r.handed, Range(First, Last));
        EXPECT_EQ(r.found, Expected());
    }
}

TEST_F(ArpNetns, WorkerStoppedAtAnAddressHandsNothingAfterIt) {
    std::unique_ptr<TArpProbe> probes[] = {CreateRawArpProbe(), CreateNeighArpProbe()};
    for (auto& probe : probes) {
        TWorkerScan r = WorkerScan(std::move(probe), First, Last, Host("198.18.0.12"));
        EXPECT_TRUE(r.ended);
        EXPECT_EQ(r.handed, Range(First, Host("198.18.0.12")));
    }
}

// Passes everything to a real probe and tells when it is gone (with the worker that owned it).
class TProbeSpy : public TArpProbe {
  public:
    TProbeSpy(std::unique_ptr<TArpProbe> real, bool* gone) : real_(std::move(real)), gone_(gone) {}
    ~TProbeSpy() override { *gone_ = true; }
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        return real_->SendArp(wireIP, mac);
    }
    void ExpectRange(std::uint32_t first, std::uint32_t last) override {
        real_->ExpectRange(first, last);
    }
    void Cancel() override { real_->Cancel(); }

  private:
    std::unique_ptr<TArpProbe> real_;
    bool* gone_;
};

// As the closing window does: handlers emptied, then Cancel; the worker ends and frees itself
// without probing the rest of the range.
TEST_F(ArpNetns, CancelEndsReadAheadScan) {
    std::unique_ptr<TArpProbe> probes[] = {CreateRawArpProbe(), CreateNeighArpProbe()};
    for (auto& probe : probes) {
        auto dispatcher = std::make_shared<TQueueDispatcher>();
        bool gone = false;
        std::uint32_t lastHanded = 0;
        auto* w = new TScanIPThread(
            First, Last, true, std::make_unique<TProbeSpy>(std::move(probe), &gone), dispatcher);
        w->OnScan = [&] {
            lastHanded = CurrentIP;
            if (CurrentIP != Host("198.18.0.3")) return;
            dispatcher->Queue([&] {  // next on the main thread, while .4 is being probed
                w->OnScan = nullptr;
                w->OnTerminate = nullptr;
                w->Cancel();
            });
        };
        w->Start();
        ASSERT_TRUE(dispatcher->RunUntil([&] { return gone; }, std::chrono::seconds(30)));
        EXPECT_EQ(lastHanded, Host("198.18.0.3"));
    }
}

// Kept old MACs through the read-ahead: the live host is found under its real MAC, the gone
// one is not found.
TEST_F(ArpNetns, NeighReadAheadReverifiesStaleEntries) {
    ASSERT_EQ(lan_->ExecScanner("ip neigh replace 198.18.0.14 lladdr 02:00:00:00:00:99 nud stale "
                                "dev lan0"),
              0);
    ASSERT_EQ(lan_->ExecScanner("ip neigh replace 198.18.0.13 lladdr 02:00:00:00:00:98 nud stale "
                                "dev lan0"),
              0);
    TWorkerScan r = WorkerScan(CreateNeighArpProbe(), Host("198.18.0.12"), Host("198.18.0.15"));
    TFoundMap expected{{Host("198.18.0.14"), Expected()[Host("198.18.0.14")]}};
    EXPECT_EQ(r.found, expected);
}

// Who-has requests seen on the scanner's link while the worker scans .1 to .12, and the
// neighbour entries the kernel made: none lies past the range.
TEST_F(ArpNetns, ReadAheadNeverAsksPastTheRangeEnd) {
    lan_->ExecScanner("ip neigh flush dev lan0");
    TFd capture(socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK, htons(ETH_P_ALL)));  // sees sends too
    ASSERT_TRUE(capture.Valid());
    const std::uint32_t last = Host("198.18.0.12");
    WorkerScan(CreateRawArpProbe(), First, last);
    WorkerScan(CreateNeighArpProbe(), First, last);
    std::uint32_t highest = 0;
    std::uint8_t frame[1600];
    ssize_t n;
    while ((n = recv(capture.Get(), frame, sizeof frame, 0)) > 0) {
        auto m = ParseArpFrame(frame, static_cast<std::size_t>(n));
        if (m && m->Op == ArpRequest && m->SenderIP == StrToIP("198.18.0.1"))
            highest = std::max(highest, NetToHost(m->TargetIP));
    }
    EXPECT_EQ(highest, last);
    EXPECT_EQ(lan_->ExecScanner("sh -c 'ip neigh show dev lan0 | grep -qE \"^198\\.18\\.0\\."
                                "(1[3-9]|[2-9][0-9]) \"'"),
              1);
}

}  // namespace
