#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "ArpProbe.h"
#include "UTypes.h"

namespace {

// Only the failure path can be checked without a network of our own: the loopback address has
// no hardware address and no request leaves the host. (Under Wine SendARP always fails.) What
// the worker does with an answer is covered by its tests with a scripted probe.
TEST(ArpProbeWin, LoopbackGivesNoAnswerAndLeavesTheMacAlone) {
    std::unique_ptr<TArpProbe> probe = CreateArpProbe();
    ASSERT_NE(probe, nullptr);
    std::array<std::uint8_t, 8> mac = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(probe->SendArp(StrToIP("127.0.0.1"), mac.data()));
    EXPECT_EQ(mac, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
