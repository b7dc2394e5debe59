#include "LocalLink.h"

#include <bit>
#include <cstring>
#include <string>

TLinkMatch FindLink(const std::vector<TLocalLink>& links, std::uint32_t ip, TLocalLink* link) {
    for (const TLocalLink& l : links) {
        if (l.IP == ip) {
            if (link != nullptr) *link = l;
            return TLinkMatch::Own;
        }
    }
    std::uint32_t host = NetToHost(ip);
    for (const TLocalLink& l : links) {
        std::uint32_t mask = NetToHost(l.Netmask);
        if (mask == 0 || (host & mask) != (NetToHost(l.IP) & mask)) continue;
        // /31 and /32 networks have no network or broadcast address of their own
        bool special = mask < 0xFFFFFFFEu && ((host & ~mask) == 0 || (host | mask) == 0xFFFFFFFFu);
        if (special) return TLinkMatch::None;
        if (link != nullptr) *link = l;
        return TLinkMatch::OnLink;
    }
    return TLinkMatch::None;
}

const TLocalLink* CoveringLink(const std::vector<TLocalLink>& links, std::uint32_t first,
                               std::uint32_t last) {
    const TLocalLink* overlapping = nullptr;
    for (const TLocalLink& l : links) {
        const std::uint32_t mask = NetToHost(l.Netmask);
        const std::uint32_t low = NetToHost(l.IP) & mask;
        const std::uint32_t high = low | ~mask;
        if (first >= low && first <= high) return &l;
        if (overlapping == nullptr && first <= high && last >= low) overlapping = &l;
    }
    return overlapping;
}

std::optional<bool> DecideWithoutAsking(const std::vector<TLocalLink>& links, std::uint32_t ip,
                                        TLocalLink* link, std::uint8_t* mac) {
    switch (FindLink(links, ip, link)) {
        case TLinkMatch::None:
            return false;
        case TLinkMatch::Own:
            std::memcpy(mac, link->Mac.data(), link->Mac.size());
            return true;
        case TLinkMatch::OnLink:
            break;
    }
    return std::nullopt;
}

TProbeFault TCoverage::Fault(const std::vector<TLocalLink>& links) const {
    if (covered_ > 0 || uncovered_ == 0) return {};
    std::string networks;
    for (const TLocalLink& l : links) {
        if (!networks.empty()) networks += "，";
        networks += l.Name + " " + IPToStr(l.IP) + "/" + std::to_string(std::popcount(l.Netmask));
    }
    if (networks.empty()) networks = "（无）";
    return {TProbeFaultKind::NoLink, "本机所在的网络：" + networks};
}
