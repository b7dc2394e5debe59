#include <gtest/gtest.h>

#ifdef __linux__
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "../support/RootOnly.h"
#endif
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

#ifdef __linux__
// In a network namespace of its own (a child process): with only the loopback up there is no
// local address; with an address on a second interface, that one.
TEST(LocalIP, OwnNamespaceGivesItsAddressNeverLoopback) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to make a network namespace";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0) _exit(10);
        if (std::system("ip link set lo up") != 0) _exit(11);
        if (GetLocalIP() != "") _exit(12);
        if (std::system(
                "ip link add q0 type veth peer name q1 && ip addr add 198.18.5.7/24 dev q0 && "
                "ip link set q0 up") != 0) {
            _exit(13);
        }
        _exit(GetLocalIP() == "198.18.5.7" ? 0 : 14);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 10, 11, 13: the namespace could not be made; 12: loopback given; 14: another address
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#else
TEST(LocalIP, ThisHostNeverGivesLoopback) {
    std::string ip = GetLocalIP();
    EXPECT_FALSE(ip.starts_with("127.")) << ip;
    if (!ip.empty()) {
        EXPECT_EQ(IPToStr(StrToIP(ip)), ip);
    }
}
#endif

}  // namespace
