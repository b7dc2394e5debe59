// ParseArpFrame on arbitrary bytes. Properties: a message is read only from a whole ARP-for-IPv4
// frame, its fields are the bytes at their places, padding after the message changes nothing,
// and a request built from the input's bytes reads back as built.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "ArpPacket.h"

namespace {

std::uint32_t IPAt(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

bool SameMessage(const TArpMessage& a, const TArpMessage& b) {
    return a.Op == b.Op && a.SenderMac == b.SenderMac && a.SenderIP == b.SenderIP &&
           a.TargetMac == b.TargetMac && a.TargetIP == b.TargetIP;
}

void CheckParsed(const std::uint8_t* data, std::size_t size) {
    std::optional<TArpMessage> m = ParseArpFrame(data, size);
    if (!m) return;
    bool tagged = data[12] == 0x81 && data[13] == 0x00;
    std::size_t at = tagged ? 18 : 14;
    if (size < at + 28) std::abort();
    const std::uint8_t* arp = data + at;
    if (data[at - 2] != 0x08 || data[at - 1] != 0x06) std::abort();
    if (arp[0] != 0 || arp[1] != 1 || arp[2] != 0x08 || arp[3] != 0 || arp[4] != 6 || arp[5] != 4) {
        std::abort();
    }
    if (m->Op != (arp[6] << 8 | arp[7]) || std::memcmp(m->SenderMac.data(), arp + 8, 6) != 0 ||
        m->SenderIP != IPAt(arp + 14) || std::memcmp(m->TargetMac.data(), arp + 18, 6) != 0 ||
        m->TargetIP != IPAt(arp + 24)) {
        std::abort();
    }
    // Padding after the message is ignored.
    std::optional<TArpMessage> whole = ParseArpFrame(data, at + 28);
    if (!whole || !SameMessage(*whole, *m)) std::abort();
    if (IsReplyFrom(*m, m->SenderIP) &&
        (m->Op != ArpReply || (m->SenderMac[0] & 1) != 0 || m->SenderMac == TMacAddr{})) {
        std::abort();
    }
}

void CheckBuilt(const std::uint8_t* data, std::size_t size) {
    if (size < 14) return;
    TMacAddr mac;
    std::memcpy(mac.data(), data, 6);
    std::uint32_t src = IPAt(data + 6);
    std::uint32_t target = IPAt(data + 10);
    auto frame = BuildArpRequest(mac, src, target);
    std::optional<TArpMessage> m = ParseArpFrame(frame.data(), frame.size());
    if (!m || m->Op != ArpRequest || m->SenderMac != mac || m->SenderIP != src ||
        m->TargetIP != target || m->TargetMac != TMacAddr{}) {
        std::abort();
    }
    // A request is never taken for a reply.
    if (IsReplyFrom(*m, src)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckParsed(data, size);
    CheckBuilt(data, size);
    return 0;
}
