// ARP requests sent and answered on an AF_PACKET socket: needs root or cap_net_raw.
#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "ArpPacket.h"
#include "ArpProbeLinux.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "RawSocket.h"
#include "ReadAhead.h"

namespace {

// Read-ahead: one request every 0.5 ms on average (2,000 a second, about 1.3 Mbit/s of
// broadcast on the wire), the first 256 at once (a /24 is asked in one go), as many tries as the
// kernel makes, 0.15 of its interval apart (150 ms by default: a LAN answers within
// milliseconds). An answer counts until 1.5 s after the first request (a dozing wireless client,
// a slow embedded device) and until the worker takes the outcome; a found address is taken no
// sooner than one such interval after its first request, so that a second host answering for it
// is seen. The window holds what is asked within the patience at that pace, and more: a long
// range runs at the pace, not at window / patience.
constexpr auto Pace = std::chrono::microseconds(500);
constexpr std::size_t Burst = 256;
constexpr std::size_t Window = 4096;
constexpr auto Patience = std::chrono::milliseconds(1500);
// Frames read per wake-up before the loop looks at its clock and at cancel again.
constexpr int FramesPerWake = 64;

// An ARP reply as it came in: on which interface, and when (on the steady clock).
struct TReply {
    int IfIndex = 0;
    TArpMessage Msg;
    TClock::time_point Arrived;
};

std::chrono::nanoseconds SinceEpoch(const timespec& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// The kernel stamps each frame on arrival (wall clock); its age tells the steady-clock time. The
// two clocks are read close together (the closest of a few reads), so that the thread being
// preempted between them cannot move an arrival before the request it answers.
TClock::time_point ArrivalTime(const msghdr& msg) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        TClock::time_point steady{};
        std::chrono::nanoseconds wall{};
        auto gap = std::chrono::nanoseconds::max();
        for (int i = 0; i < 4 && gap > std::chrono::microseconds(20); ++i) {
            timespec before;
            timespec after;
            clock_gettime(CLOCK_REALTIME, &before);
            const TClock::time_point now = TClock::now();
            clock_gettime(CLOCK_REALTIME, &after);
            const auto g = SinceEpoch(after) - SinceEpoch(before);
            if (g < gap) {
                gap = g;
                steady = now;
                wall = SinceEpoch(before) + g / 2;
            }
        }
        const auto age = wall - SinceEpoch(stamp);
        if (age > TClock::duration::zero())
            return steady - std::chrono::duration_cast<TClock::duration>(age);
        return steady;
    }
    return TClock::now();
}

class TArpProbeRaw : public TArpProbe {
  public:
    explicit TArpProbeRaw(TFd sock) : sock_(std::move(sock)) {
        // Arrival stamps tell the replies that came before a request from those after it.
        int one = 1;
        setsockopt(sock_.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    }
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override;
    void Cancel() override { cancel_.Raise(); }
    std::vector<TContested> TakeContested() override { return std::exchange(contested_, {}); }

  private:
    void ReadLinks();
    void Send(const TLocalLink& link, std::uint32_t ip);
    // Reads the frames that have arrived, FramesPerWake at most; each reply addressed to this
    // host goes to onReply. False once the socket is empty.
    bool Receive(const std::function<void(const TReply&)>& onReply);
    // Drops the frames queued before a probe begins (a bounded number: their arrival stamps
    // tell the rest).
    void Drain();
    bool ProbeAlone(std::uint32_t ip, std::uint8_t* mac);
    bool ProbeAhead(std::uint8_t* mac);
    const TNeighParams& Params(const std::string& ifName);

    TFd sock_;
    TCancelFlag cancel_;
    bool linksRead_ = false;
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
    std::optional<TReadAhead> ahead_;
    std::vector<TContested> contested_;
};

// The wait after each try of the read-ahead, and the least time a found address is held.
TClock::duration RetryAfter(const TNeighParams& p) {
    return std::chrono::milliseconds(std::clamp(p.RetransMs * 3 / 20, 50, p.RetransMs));
}

void TArpProbeRaw::ReadLinks() {
    if (linksRead_) return;
    links_ = ReadLocalLinks();
    linksRead_ = true;
}

const TNeighParams& TArpProbeRaw::Params(const std::string& ifName) {
    auto it = params_.find(ifName);
    if (it == params_.end()) it = params_.emplace(ifName, ReadNeighParams(ifName)).first;
    return it->second;
}

void TArpProbeRaw::Send(const TLocalLink& link, std::uint32_t ip) {
    auto frame = BuildArpRequest(link.Mac, link.IP, ip);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = link.Index;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xFF, 6);
    // A request that cannot be sent now (full queue) counts as a try that got no answer.
    while (sendto(sock_.Get(), frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) < 0 &&
           errno == EINTR) {
    }
}

bool TArpProbeRaw::Receive(const std::function<void(const TReply&)>& onReply) {
    std::uint8_t buf[1600];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    for (int read = 0; read < FramesPerWake;) {
        sockaddr_ll from{};
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = recvmsg(sock_.Get(), &msg, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        ++read;
        // Only frames sent to this host: not those a promiscuous interface overhears, nor
        // broadcasts, nor our own.
        if (from.sll_pkttype != PACKET_HOST) continue;
        auto m = ParseArpFrame(buf, static_cast<std::size_t>(n));
        if (m && IsReplyFrom(*m, m->SenderIP)) onReply({from.sll_ifindex, *m, ArrivalTime(msg)});
    }
    return true;
}

void TArpProbeRaw::Drain() {
    for (int i = 0; i < 16 && Receive([](const TReply&) {}); ++i) {
    }
}

bool TArpProbeRaw::ProbeAlone(std::uint32_t ip, std::uint8_t* mac) {
    TLocalLink link;
    if (std::optional<bool> decided = DecideWithoutAsking(links_, ip, &link, mac)) return *decided;
    const TNeighParams& p = Params(link.Name);
    Drain();
    const int tries = std::max(p.McastSolicit, 1);
    const auto interval = std::chrono::milliseconds(p.RetransMs);
    const TClock::time_point asked = TClock::now();
    // An answer is held a while after the request, so that a second host answering is seen.
    const TClock::time_point settled = asked + RetryAfter(p);
    std::vector<TMacAddr> answers;
    auto onReply = [&](const TReply& r) {
        if (r.IfIndex != link.Index || r.Arrived < asked ||
            !IsAnswerTo(r.Msg, ip, link.IP, link.Mac))
            return;
        if (std::find(answers.begin(), answers.end(), r.Msg.SenderMac) == answers.end())
            answers.push_back(r.Msg.SenderMac);
    };
    int sent = 0;
    for (;;) {
        TClock::time_point now = TClock::now();
        if (!answers.empty() && now >= settled) break;
        if (answers.empty() && sent < tries && now >= asked + sent * interval) {
            Send(link, ip);
            ++sent;
            continue;
        }
        TClock::time_point due = asked + sent * interval;
        if (!answers.empty()) due = settled;
        if (answers.empty() && sent >= tries && now >= due) return false;
        TWaitResult w = WaitReadable(sock_.Get(), cancel_, due);
        if (w == TWaitResult::Cancelled) return false;
        if (w == TWaitResult::Readable) Receive(onReply);
    }
    if (answers.size() > 1) {
        contested_.push_back({NetToHost(ip), answers});
        return false;
    }
    std::memcpy(mac, answers[0].data(), 6);
    return true;
}

void TArpProbeRaw::ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) {
    ahead_.reset();
    if (firstIP == lastIP) return;  // a single address is probed alone, with all its patience
    ReadLinks();
    TLocalLink link;
    std::string ifName;
    if (FindLink(links_, HostToNet(firstIP), &link) != TLinkMatch::None) ifName = link.Name;
    const TNeighParams& p = Params(ifName);
    TReadAheadRules rules;
    rules.Tries = std::max(p.McastSolicit, 1);
    rules.RetryAfter = RetryAfter(p);
    rules.Pace = Pace;
    rules.Burst = Burst;
    rules.Window = Window;
    rules.Patience = Patience;
    rules.Settle = rules.RetryAfter;
    Drain();
    ahead_.emplace(firstIP, lastIP, rules);
}

bool TArpProbeRaw::ProbeAhead(std::uint8_t* mac) {
    auto admit = [&](std::uint32_t ip) {
        TAdmission a;
        TLocalLink link;
        switch (FindLink(links_, HostToNet(ip), &link)) {
            case TLinkMatch::None:
                a.Outcome = TOutcome::NotFound;
                break;
            case TLinkMatch::Own:
                a.Outcome = TOutcome::Found;
                a.Mac = link.Mac;
                break;
            case TLinkMatch::OnLink:
                break;
        }
        return a;
    };
    auto send = [&](std::uint32_t ip) {
        TLocalLink link;
        if (FindLink(links_, HostToNet(ip), &link) == TLinkMatch::OnLink) Send(link, HostToNet(ip));
    };
    auto onReply = [&](const TReply& r) {
        TLocalLink link;
        if (FindLink(links_, r.Msg.SenderIP, &link) == TLinkMatch::OnLink &&
            link.Index == r.IfIndex && IsAnswerTo(r.Msg, r.Msg.SenderIP, link.IP, link.Mac))
            ahead_->Answer(NetToHost(r.Msg.SenderIP), r.Msg.SenderMac, r.Arrived);
    };
    for (;;) {
        Receive(onReply);
        TClock::time_point now = TClock::now();
        ahead_->Run(now, admit, send);
        if (std::optional<bool> found = ahead_->TakeHead(now, mac, &contested_)) return *found;
        if (WaitReadable(sock_.Get(), cancel_, ahead_->NextDue(now)) == TWaitResult::Cancelled)
            return false;
    }
}

bool TArpProbeRaw::SendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    if (cancel_.Raised()) return false;
    ReadLinks();
    std::uint32_t hostIP = NetToHost(wireIP);
    if (ahead_ && !ahead_->Done() && ahead_->Head() == hostIP) return ProbeAhead(mac);
    ahead_.reset();
    return ProbeAlone(wireIP, mac);
}

// Lets through only ARP-for-IPv4-over-Ethernet replies sent to this host (not overheard, not
// broadcast, not our own) whose target MAC is the one they were sent to: the kernel drops the
// rest before they fill the socket's buffer. The probes check every field again.
bool AttachReplyFilter(int fd) {
    constexpr int DropAt = 14;  // the index of the statement that drops
    auto toDrop = [](int at) { return static_cast<std::uint8_t>(DropAt - at - 1); };
    auto jumpUnless = [&](std::uint32_t value, int at) {
        return sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, toDrop(at));
    };
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        jumpUnless(PACKET_HOST, 1),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 14),  // hardware and protocol type
        jumpUnless(0x00010800, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 18),  // address lengths and opcode
        jumpUnless(0x06040002, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 32),  // target MAC, first 4 bytes ...
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 0),  // ... against the Ethernet destination's
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 0, toDrop(9)),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 36),
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFF),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0;
}

}  // namespace

TFd OpenRawArpSocket() {
    TFd sock(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (!sock.Valid()) return sock;
    AttachReplyFilter(sock.Get());
    // Room for the replies that arrive while the worker hands an outcome to the main thread.
    int size = 4 << 20;
    if (setsockopt(sock.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(sock.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return sock;
}

std::unique_ptr<TArpProbe> CreateRawArpProbe() {
    TFd sock = BorrowRawArpSocket();
    if (!sock.Valid()) sock = OpenRawArpSocket();
    if (!sock.Valid()) return nullptr;
    return std::make_unique<TArpProbeRaw>(std::move(sock));
}
