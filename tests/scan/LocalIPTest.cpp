#include <gtest/gtest.h>

#include "LocalIP.h"
#include "UTypes.h"

namespace {

std::uint32_t Wire(const char* ip) { return StrToIP(ip); }

TEST(LocalIP, TakesTheLastNonLoopbackAddress) {
    EXPECT_EQ(ChooseLocalIP({Wire("10.0.0.5"), Wire("192.168.1.20")}), "192.168.1.20");
    EXPECT_EQ(ChooseLocalIP({Wire("198.18.0.7")}), "198.18.0.7");
    EXPECT_EQ(ChooseLocalIP({Wire("10.0.0.5"), Wire("127.0.1.1")}), "10.0.0.5");
    EXPECT_EQ(ChooseLocalIP({Wire("127.0.0.1"), Wire("127.0.1.1")}), "");
    EXPECT_EQ(ChooseLocalIP({}), "");
}

TEST(LocalIP, ThisHostNeverGivesLoopback) {
    std::string ip = GetLocalIP();
    EXPECT_FALSE(ip.starts_with("127.")) << ip;
    if (!ip.empty()) {
        EXPECT_EQ(IPToStr(StrToIP(ip)), ip);
    }
}

}  // namespace
