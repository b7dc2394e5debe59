// The kernel's neighbour (ARP) table over rtnetlink: building a request for one entry and
// reading the messages the kernel sends back or broadcasts. Addresses are wire-order values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "UTypes.h"

struct TNeighEntry {
    bool Deleted = false;  // RTM_DELNEIGH rather than RTM_NEWNEIGH
    int IfIndex = 0;
    std::uint16_t State = 0;  // NUD_* bits
    std::uint32_t IP = 0;
    bool HasMac = false;  // a 6-byte link-layer address came with it
    TMacAddr Mac{};
};

struct TNeighNote {
    enum TKind { Entry, Error, Done } Kind = Entry;
    std::uint32_t Seq = 0;
    int ErrorCode = 0;  // for Error: 0 is an acknowledgement, otherwise a negative errno
    TNeighEntry Neigh;
};

// An RTM_GETNEIGH request for the IPv4 entry of ip on interface ifIndex.
std::vector<std::uint8_t> BuildNeighGet(std::uint32_t seq, int ifIndex, std::uint32_t ip);

// An RTM_GETNEIGH dump request for the whole IPv4 neighbour table.
std::vector<std::uint8_t> BuildNeighDump(std::uint32_t seq);

// The notes of one netlink datagram, in order. IPv4 neighbour messages become entries, errors
// and the end of a dump become notes; other messages are passed over. Reading stops at the
// first message whose length does not fit; malformed is then set.
std::vector<TNeighNote> ParseNeighDatagram(const std::uint8_t* data, std::size_t len,
                                           bool* malformed = nullptr);

// The states in which the kernel holds a verified link-layer address.
bool IsVerifiedState(std::uint16_t state);
