// ARP over Ethernet for IPv4: building the who-has frame and reading frames off the wire.
// Addresses are wire-order values (first octet in the least significant byte).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "UTypes.h"

constexpr std::uint16_t ArpRequest = 1;
constexpr std::uint16_t ArpReply = 2;
constexpr std::size_t ArpFrameSize = 42;  // Ethernet header 14 + ARP for IPv4 28

struct TArpMessage {
    std::uint16_t Op = 0;
    TMacAddr SenderMac{};
    std::uint32_t SenderIP = 0;
    TMacAddr TargetMac{};
    std::uint32_t TargetIP = 0;
};

// A broadcast who-has for targetIP, from srcMac/srcIP.
std::array<std::uint8_t, ArpFrameSize> BuildArpRequest(const TMacAddr& srcMac, std::uint32_t srcIP,
                                                       std::uint32_t targetIP);

// The ARP message of an Ethernet frame (one 802.1Q tag allowed), or nothing when the frame is
// not ARP for IPv4 over Ethernet or is cut short. Padding after the message is ignored.
std::optional<TArpMessage> ParseArpFrame(const std::uint8_t* frame, std::size_t len);

// True when the message is a reply that tells a unicast hardware address for ip.
// False for a zero or group (multicast, broadcast) address, which names no host.
bool IsHostMac(const TMacAddr& mac);
bool IsReplyFrom(const TArpMessage& m, std::uint32_t ip);
// True when the message is a reply from ip addressed to the host that asked from ownIP/ownMac.
bool IsAnswerTo(const TArpMessage& m, std::uint32_t ip, std::uint32_t ownIP,
                const TMacAddr& ownMac);
