#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <cstring>
#include <fstream>
#include <map>

#include "LocalLink.h"

namespace {

std::uint32_t WireOf(const sockaddr* a) {
    return HostToNet(ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr));
}

int ReadInt(const std::string& path, int fallback) {
    std::ifstream in(path);
    int v = 0;
    return in >> v && v >= 0 ? v : fallback;
}

}  // namespace

std::vector<TLocalLink> ReadLocalLinks() {
    std::vector<TLocalLink> links;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return links;
    std::map<std::string, TMacAddr> macs;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) continue;
        auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        if (ll->sll_halen != 6) continue;
        TMacAddr mac;
        std::memcpy(mac.data(), ll->sll_addr, 6);
        macs[a->ifa_name] = mac;
    }
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        if ((a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & (IFF_LOOPBACK | IFF_NOARP)) != 0)
            continue;
        auto mac = macs.find(a->ifa_name);
        if (mac == macs.end() || a->ifa_netmask == nullptr) continue;
        TLocalLink l;
        l.Name = a->ifa_name;
        l.Index = static_cast<int>(if_nametoindex(a->ifa_name));
        l.IP = WireOf(a->ifa_addr);
        l.Netmask = WireOf(a->ifa_netmask);
        l.Mac = mac->second;
        if (l.Index > 0) links.push_back(l);
    }
    freeifaddrs(list);
    return links;
}

TNeighParams ReadNeighParams(const std::string& ifName) {
    TNeighParams p;
    if (ifName.empty() || ifName.find('/') != std::string::npos || ifName[0] == '.') return p;
    std::string dir = "/proc/sys/net/ipv4/neigh/" + ifName + "/";
    p.McastSolicit = ReadInt(dir + "mcast_solicit", p.McastSolicit);
    p.UcastSolicit = ReadInt(dir + "ucast_solicit", p.UcastSolicit);
    p.AppSolicit = ReadInt(dir + "app_solicit", p.AppSolicit);
    p.McastResolicit = ReadInt(dir + "mcast_resolicit", p.McastResolicit);
    p.RetransMs = ReadInt(dir + "retrans_time_ms", p.RetransMs);
    p.DelayFirstProbeMs = 1000 * ReadInt(dir + "delay_first_probe_time", 5);
    // Shown in the first namespace only; elsewhere the default stands.
    p.GcThresh2 = ReadInt("/proc/sys/net/ipv4/neigh/default/gc_thresh2", p.GcThresh2);
    return p;
}
