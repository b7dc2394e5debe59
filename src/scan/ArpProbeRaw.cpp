// ARP requests sent and answered on an AF_PACKET socket: needs root or cap_net_raw.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "ArpPacket.h"
#include "ArpProbeLinux.h"
#include "LinuxIo.h"
#include "LocalLink.h"

namespace {

class TArpProbeRaw : public TArpProbe {
  public:
    explicit TArpProbeRaw(TFd sock) : sock_(std::move(sock)) {}
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void Cancel() override { cancel_.Raise(); }

  private:
    void Send(const TLocalLink& link, std::uint32_t ip);
    // Reads what has arrived; true when ip's answer was among it.
    bool Receive(const TLocalLink& link, std::uint32_t ip, std::uint8_t* mac);
    const TNeighParams& Params(const std::string& ifName);

    TFd sock_;
    TCancelFlag cancel_;
    bool linksRead_ = false;
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
};

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

bool TArpProbeRaw::Receive(const TLocalLink& link, std::uint32_t ip, std::uint8_t* mac) {
    std::uint8_t buf[1600];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(sock_.Get(), buf, sizeof buf, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (from.sll_ifindex != link.Index || from.sll_pkttype == PACKET_OUTGOING) continue;
        auto m = ParseArpFrame(buf, static_cast<std::size_t>(n));
        if (m && IsReplyFrom(*m, ip)) {
            std::memcpy(mac, m->SenderMac.data(), 6);
            return true;
        }
    }
}

bool TArpProbeRaw::SendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    if (cancel_.Raised()) return false;
    if (!linksRead_) {
        links_ = ReadLocalLinks();
        linksRead_ = true;
    }
    TLocalLink link;
    switch (FindLink(links_, wireIP, &link)) {
        case TLinkMatch::None:
            return false;
        case TLinkMatch::Own:
            std::memcpy(mac, link.Mac.data(), 6);
            return true;
        case TLinkMatch::OnLink:
            break;
    }
    const TNeighParams& p = Params(link.Name);
    int tries = p.McastSolicit > 0 ? p.McastSolicit : 1;
    for (int t = 0; t < tries; ++t) {
        Send(link, wireIP);
        auto deadline = TClock::now() + std::chrono::milliseconds(p.RetransMs);
        for (;;) {
            TWaitResult w = WaitReadable(sock_.Get(), cancel_, deadline);
            if (w == TWaitResult::Cancelled) return false;
            if (w == TWaitResult::TimedOut) break;
            if (Receive(link, wireIP, mac)) return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<TArpProbe> CreateRawArpProbe() {
    TFd sock(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (!sock.Valid()) return nullptr;
    return std::make_unique<TArpProbeRaw>(std::move(sock));
}
