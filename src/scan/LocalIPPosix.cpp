#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "LocalIP.h"

std::string GetLocalIP() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    std::vector<std::uint32_t> addresses;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
    return ChooseLocalIP(addresses);
}
