#include "ArpPacket.h"

namespace {

constexpr std::uint16_t EtherTypeArp = 0x0806;
constexpr std::uint16_t EtherTypeIPv4 = 0x0800;
constexpr std::uint16_t EtherTypeVlan = 0x8100;  // 802.1Q tag: 2 more bytes, then the type
constexpr std::uint16_t HardwareEthernet = 1;
constexpr std::size_t ArpSize = 28;

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

// Wire order: the first octet on the wire is the least significant byte.
std::uint32_t GetIP(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void PutIP(std::uint8_t* p, std::uint32_t ip) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(ip >> (8 * i));
}

TMacAddr GetMac(const std::uint8_t* p) {
    TMacAddr m;
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = p[i];
    return m;
}

void PutMac(std::uint8_t* p, const TMacAddr& m) {
    for (std::size_t i = 0; i < m.size(); ++i) p[i] = m[i];
}

}  // namespace

std::array<std::uint8_t, ArpFrameSize> BuildArpRequest(const TMacAddr& srcMac, std::uint32_t srcIP,
                                                       std::uint32_t targetIP) {
    std::array<std::uint8_t, ArpFrameSize> f{};
    std::uint8_t* p = f.data();
    PutMac(p, TMacAddr{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    PutMac(p + 6, srcMac);
    Put16(p + 12, EtherTypeArp);
    p += 14;
    Put16(p, HardwareEthernet);
    Put16(p + 2, EtherTypeIPv4);
    p[4] = 6;  // hardware address length
    p[5] = 4;  // protocol address length
    Put16(p + 6, ArpRequest);
    PutMac(p + 8, srcMac);
    PutIP(p + 14, srcIP);
    // target hardware address stays zero: it is what we ask for
    PutIP(p + 24, targetIP);
    return f;
}

std::optional<TArpMessage> ParseArpFrame(const std::uint8_t* frame, std::size_t len) {
    std::size_t at = 12;
    if (len < at + 2) return std::nullopt;
    std::uint16_t type = Get16(frame + at);
    if (type == EtherTypeVlan) {
        at += 4;
        if (len < at + 2) return std::nullopt;
        type = Get16(frame + at);
    }
    at += 2;
    if (type != EtherTypeArp || len < at + ArpSize) return std::nullopt;
    const std::uint8_t* p = frame + at;
    if (Get16(p) != HardwareEthernet || Get16(p + 2) != EtherTypeIPv4 || p[4] != 6 || p[5] != 4)
        return std::nullopt;
    TArpMessage m;
    m.Op = Get16(p + 6);
    m.SenderMac = GetMac(p + 8);
    m.SenderIP = GetIP(p + 14);
    m.TargetMac = GetMac(p + 18);
    m.TargetIP = GetIP(p + 24);
    return m;
}

bool IsHostMac(const TMacAddr& mac) { return (mac[0] & 1) == 0 && mac != TMacAddr{}; }

bool IsReplyFrom(const TArpMessage& m, std::uint32_t ip) {
    return m.Op == ArpReply && m.SenderIP == ip && IsHostMac(m.SenderMac);
}

bool IsAnswerTo(const TArpMessage& m, std::uint32_t ip, std::uint32_t ownIP,
                const TMacAddr& ownMac) {
    return IsReplyFrom(m, ip) && m.TargetIP == ownIP && m.TargetMac == ownMac;
}
