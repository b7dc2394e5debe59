#include "LocalIP.h"

#include "UTypes.h"

std::string ChooseLocalIP(const std::vector<std::uint32_t>& wireAddresses) {
    std::string result;
    for (std::uint32_t wire : wireAddresses) {
        if ((wire & 0xFF) == 127) continue;  // 127.0.0.0/8: a Debian host name resolves here
        result = IPToStr(wire);
    }
    return result;
}
