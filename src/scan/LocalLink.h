// The local interfaces that hold directly connected IPv4 networks, and the choice of the one
// through which an address is asked for on the link. Addresses are wire-order values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ArpProbe.h"
#include "UTypes.h"

struct TLocalLink {
    std::string Name;
    int Index = 0;
    std::uint32_t IP = 0;
    std::uint32_t Netmask = 0;
    TMacAddr Mac{};
};

enum class TLinkMatch {
    None,    // on no directly connected network, or its network or broadcast address
    Own,     // one of this host's own addresses
    OnLink,  // a neighbour on that link
};

// The first link whose network holds ip (its own address first, over all links).
TLinkMatch FindLink(const std::vector<TLocalLink>& links, std::uint32_t ip, TLocalLink* link);

// The link to scan first..last (host order) through: the first whose network holds first, else
// the first whose network holds any address of the range; null when none does.
const TLocalLink* CoveringLink(const std::vector<TLocalLink>& links, std::uint32_t first,
                               std::uint32_t last);

// An address decided without asking the link: on no connected network (false), or one of this
// host's own (true, its interface's address in mac[0..5]). Nothing for a neighbour on link.
std::optional<bool> DecideWithoutAsking(const std::vector<TLocalLink>& links, std::uint32_t ip,
                                        TLocalLink* link, std::uint8_t* mac);

// Whether the addresses a scan asked for lay on a local link: a scan none of whose addresses did
// asked nothing, which is its fault (NoLink, naming the local networks).
class TCoverage {
  public:
    void Note(bool onLink) { (onLink ? covered_ : uncovered_) += 1; }
    TProbeFault Fault(const std::vector<TLocalLink>& links) const;

  private:
    std::uint64_t covered_ = 0;
    std::uint64_t uncovered_ = 0;
};

// The interfaces that are up, not loopback, with an Ethernet address and an IPv4 address, in
// the system's order (one entry per address).
std::vector<TLocalLink> ReadLocalLinks();

// The kernel's neighbour settings of one interface (defaults when they cannot be read).
struct TNeighParams {
    int McastSolicit = 3;  // broadcast requests for an unknown address
    int UcastSolicit = 3;  // unicast requests to re-verify a stale address
    int AppSolicit = 0;
    int McastResolicit = 0;
    int RetransMs = 1000;  // between requests
    int DelayFirstProbeMs = 5000;
    // Above this many entries (of all namespaces together) the kernel starts evicting entries.
    int GcThresh2 = 512;
};
TNeighParams ReadNeighParams(const std::string& ifName);
