// ARP without privileges: a UDP datagram makes the kernel resolve the address, and the
// neighbour table, watched over rtnetlink, tells the outcome.
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "ArpProbeLinux.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "NeighMessage.h"

namespace {

constexpr std::uint16_t DiscardPort = 9;

enum class TOutcome { Pending, Found, NotFound };

class TArpProbeNeigh : public TArpProbe {
  public:
    TArpProbeNeigh();
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void Cancel() override { cancel_.Raise(); }

  private:
    bool AskEntry(const TLocalLink& link, std::uint32_t ip);
    // Reads what has arrived; the outcome for ip as far as it tells.
    TOutcome Receive(const TLocalLink& link, std::uint32_t ip, std::uint8_t* mac);
    const TNeighParams& Params(const std::string& ifName);

    TFd nl_;
    TCancelFlag cancel_;
    std::uint32_t seq_ = 0;
    bool linksRead_ = false;
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
};

TArpProbeNeigh::TArpProbeNeigh()
    : nl_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE)) {
    if (!nl_.Valid()) return;
    int size = 1 << 20;  // room for the events of a busy table; the kernel caps it
    setsockopt(nl_.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_NEIGH;
    if (bind(nl_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) nl_ = TFd();
}

const TNeighParams& TArpProbeNeigh::Params(const std::string& ifName) {
    auto it = params_.find(ifName);
    if (it == params_.end()) it = params_.emplace(ifName, ReadNeighParams(ifName)).first;
    return it->second;
}

bool TArpProbeNeigh::AskEntry(const TLocalLink& link, std::uint32_t ip) {
    auto req = BuildNeighGet(++seq_, link.Index, ip);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t n;
    while ((n = sendto(nl_.Get(), req.data(), req.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                       sizeof kernel)) < 0 &&
           errno == EINTR) {
    }
    return n == static_cast<ssize_t>(req.size());
}

TOutcome TArpProbeNeigh::Receive(const TLocalLink& link, std::uint32_t ip, std::uint8_t* mac) {
    alignas(nlmsghdr) std::uint8_t buf[16384];
    TOutcome outcome = TOutcome::Pending;
    for (;;) {
        ssize_t n = recv(nl_.Get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == ENOBUFS) {
            // Events were lost: ask for the entry again rather than miss its change.
            AskEntry(link, ip);
            continue;
        }
        if (n <= 0) return outcome;
        for (const TNeighNote& note : ParseNeighDatagram(buf, static_cast<std::size_t>(n))) {
            const TNeighEntry& e = note.Neigh;
            if (note.Kind != TNeighNote::Entry || e.IP != ip || e.IfIndex != link.Index ||
                e.Deleted)
                continue;
            // Events carry sequence 0; the answer to our own request tells the state from
            // before this probe, where only a verified address counts.
            bool event = note.Seq == 0;
            if (IsVerifiedState(e.State) && e.HasMac) {
                std::memcpy(mac, e.Mac.data(), 6);
                outcome = TOutcome::Found;
            } else if (event && (e.State & NUD_FAILED) != 0) {
                outcome = TOutcome::NotFound;
            } else if (event && outcome == TOutcome::NotFound) {
                outcome = TOutcome::Pending;  // resolving again after a failure
            }
        }
        if (outcome == TOutcome::Found) return outcome;
    }
}

// One datagram to the discard port makes the kernel resolve ip on the link; SO_DONTROUTE keeps
// it from ever going through a gateway. False when the kernel refuses to send it at all.
bool TriggerResolution(std::uint32_t ip) {
    TFd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!udp.Valid()) return false;
    int one = 1;
    setsockopt(udp.Get(), SOL_SOCKET, SO_DONTROUTE, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(DiscardPort);
    to.sin_addr.s_addr = htonl(NetToHost(ip));
    ssize_t n;
    while ((n = sendto(udp.Get(), "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof to)) < 0 &&
           errno == EINTR) {
    }
    // EAGAIN and ENOBUFS: the datagram waits or was dropped, but resolution has begun.
    return n >= 0 || errno == EAGAIN || errno == ENOBUFS;
}

bool TArpProbeNeigh::SendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    if (cancel_.Raised() || !nl_.Valid()) return false;
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
    // The whole of the kernel's resolution, stale re-verification included, plus a margin;
    // the outcome normally arrives as an event long before.
    auto deadline =
        TClock::now() + std::chrono::milliseconds(p.DelayFirstProbeMs + 500 +
                                                  p.RetransMs * (p.McastSolicit + p.UcastSolicit +
                                                                 p.AppSolicit + p.McastResolicit));
    // Old events say nothing about this probe.
    std::uint8_t scratch[6];
    Receive(link, 0, scratch);
    // An entry the kernel holds as verified answers at once; anything else (none, stale,
    // failed) must first be resolved again.
    if (!AskEntry(link, wireIP) || !TriggerResolution(wireIP)) return false;
    TOutcome outcome = Receive(link, wireIP, mac);
    while (outcome == TOutcome::Pending) {
        TWaitResult w = WaitReadable(nl_.Get(), cancel_, deadline);
        if (w == TWaitResult::Cancelled) return false;
        if (w == TWaitResult::TimedOut) break;
        outcome = Receive(link, wireIP, mac);
    }
    return outcome == TOutcome::Found;
}

}  // namespace

std::unique_ptr<TArpProbe> CreateNeighArpProbe() { return std::make_unique<TArpProbeNeigh>(); }
