#include <winsock2.h>

#include "LocalIP.h"

std::string GetLocalIP() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return "";
    std::vector<std::uint32_t> addresses;
    char name[64] = {};
    if (gethostname(name, sizeof name) == 0) {
        if (hostent* host = gethostbyname(name); host != nullptr && host->h_addrtype == AF_INET) {
            for (char** a = host->h_addr_list; *a != nullptr; ++a) {
                addresses.push_back(reinterpret_cast<in_addr*>(*a)->s_addr);
            }
        }
    }
    WSACleanup();
    return ChooseLocalIP(addresses);
}
