// ARP requests sent and answered on an AF_PACKET socket: needs root or cap_net_raw.
#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

#include "ArpPacket.h"
#include "ArpProbeLinux.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "RawSocket.h"
#include "ReadAhead.h"

namespace {

// Read-ahead: one request every 0.5 ms at most (2,000 a second, about 1.3 Mbit/s of broadcast
// on the wire), as many tries as the kernel makes, 0.15 of its interval apart (150 ms by
// default: a LAN answers within milliseconds, and an answer to any try counts until the worker
// takes the outcome).
constexpr auto Pace = std::chrono::microseconds(500);
constexpr std::size_t Window = 512;

class TArpProbeRaw : public TArpProbe {
  public:
    explicit TArpProbeRaw(TFd sock) : sock_(std::move(sock)) {}
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override;
    void Cancel() override { cancel_.Raise(); }

  private:
    void ReadLinks();
    void Send(const TLocalLink& link, std::uint32_t ip);
    // Reads every frame that has arrived; each reply goes to onReply(link index, message).
    void Receive(const std::function<void(int, const TArpMessage&)>& onReply);
    bool ProbeAlone(std::uint32_t ip, std::uint8_t* mac);
    bool ProbeAhead(std::uint8_t* mac);
    const TNeighParams& Params(const std::string& ifName);

    TFd sock_;
    TCancelFlag cancel_;
    bool linksRead_ = false;
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
    std::optional<TReadAhead> ahead_;
};

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

void TArpProbeRaw::Receive(const std::function<void(int, const TArpMessage&)>& onReply) {
    std::uint8_t buf[1600];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(sock_.Get(), buf, sizeof buf, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        auto m = ParseArpFrame(buf, static_cast<std::size_t>(n));
        if (m && IsReplyFrom(*m, m->SenderIP)) onReply(from.sll_ifindex, *m);
    }
}

bool TArpProbeRaw::ProbeAlone(std::uint32_t ip, std::uint8_t* mac) {
    TLocalLink link;
    if (std::optional<bool> decided = DecideWithoutAsking(links_, ip, &link, mac)) return *decided;
    const TNeighParams& p = Params(link.Name);
    bool found = false;
    auto onReply = [&](int ifIndex, const TArpMessage& m) {
        if (ifIndex != link.Index || m.SenderIP != ip) return;
        std::memcpy(mac, m.SenderMac.data(), 6);
        found = true;
    };
    for (int t = 0; t < std::max(p.McastSolicit, 1); ++t) {
        Send(link, ip);
        auto deadline = TClock::now() + std::chrono::milliseconds(p.RetransMs);
        for (;;) {
            TWaitResult w = WaitReadable(sock_.Get(), cancel_, deadline);
            if (w == TWaitResult::Cancelled) return false;
            if (w == TWaitResult::TimedOut) break;
            Receive(onReply);
            if (found) return true;
        }
    }
    return false;
}

void TArpProbeRaw::ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) {
    ReadLinks();
    TLocalLink link;
    std::string ifName;
    if (FindLink(links_, HostToNet(firstIP), &link) != TLinkMatch::None) ifName = link.Name;
    const TNeighParams& p = Params(ifName);
    TReadAheadRules rules;
    rules.Tries = std::max(p.McastSolicit, 1);
    rules.RetryAfter = std::chrono::milliseconds(std::clamp(p.RetransMs * 3 / 20, 50, p.RetransMs));
    rules.Pace = Pace;
    rules.Window = Window;
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
    auto onReply = [&](int ifIndex, const TArpMessage& m) {
        TLocalLink link;
        if (FindLink(links_, m.SenderIP, &link) == TLinkMatch::OnLink && link.Index == ifIndex)
            ahead_->Answer(NetToHost(m.SenderIP), m.SenderMac);
    };
    for (;;) {
        Receive(onReply);
        TClock::time_point now = TClock::now();
        ahead_->Run(now, admit, send);
        if (std::optional<bool> found = ahead_->TakeHead(now, mac)) return *found;
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

// Lets through only ARP replies that came in: the kernel drops the rest (our own requests
// among them) before they fill the socket's buffer.
bool AttachReplyFilter(int fd) {
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 2, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),  // ARP opcode: 14 Ethernet + 6 bytes in
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 2, 1, 0),
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
