#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ArpPacket.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::uint8_t> bytes;
    unsigned v;
    while (in >> std::hex >> v) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

const std::uint32_t Scanner = StrToIP("198.18.0.1");
const std::uint32_t Target = StrToIP("198.18.0.10");
const TMacAddr ScannerMac{0x02, 0x51, 0xFF, 0x00, 0x00, 0x01};

// Ethernet II, then ARP: Ethernet, IPv4, lengths 6/4, opcode, sender MAC/IP, target MAC/IP.
const char* const Reply =
    "02 51 ff 00 00 01  02 51 00 00 00 01  08 06"
    "  00 01 08 00 06 04 00 02  02 51 00 00 00 01 c6 12 00 0a  02 51 ff 00 00 01 c6 12 00 01";

TEST(ArpPacket, BuildsBroadcastWhoHas) {
    auto frame = BuildArpRequest(ScannerMac, Scanner, Target);
    auto expected = Hex(
        "ff ff ff ff ff ff  02 51 ff 00 00 01  08 06"
        "  00 01 08 00 06 04 00 01  02 51 ff 00 00 01 c6 12 00 01  00 00 00 00 00 00 c6 12 00 0a");
    EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.end()), expected);
}

TEST(ArpPacket, ReadsReply) {
    auto f = Hex(Reply);
    auto m = ParseArpFrame(f.data(), f.size());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Op, ArpReply);
    EXPECT_EQ(m->SenderIP, Target);
    EXPECT_EQ(m->SenderMac, (TMacAddr{0x02, 0x51, 0, 0, 0, 0x01}));
    EXPECT_EQ(m->TargetIP, Scanner);
    EXPECT_EQ(m->TargetMac, ScannerMac);
    EXPECT_TRUE(IsReplyFrom(*m, Target));
    EXPECT_TRUE(IsAnswerTo(*m, Target, Scanner, ScannerMac));
    // A reply to another host (its address or its MAC as the target) answers nothing we asked.
    EXPECT_FALSE(IsAnswerTo(*m, Target, StrToIP("198.18.0.2"), ScannerMac));
    EXPECT_FALSE(IsAnswerTo(*m, Target, Scanner, TMacAddr{0x02, 0x51, 0xFF, 0, 0, 0x02}));
}

struct FrameCase {
    const char* name;
    std::vector<std::uint8_t> frame;
    bool parses;
    bool answersTarget;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> Edited(std::size_t at, const std::string& bytes) {
    auto f = Hex(Reply);
    auto b = Hex(bytes);
    std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
    return f;
}

std::vector<std::uint8_t> Cut(std::size_t len) {
    auto f = Hex(Reply);
    f.resize(len);
    return f;
}

std::vector<std::uint8_t> Padded() {
    auto f = Hex(Reply);
    f.resize(60, 0);
    return f;
}

std::vector<std::uint8_t> VlanTagged() {
    auto f = Hex(Reply);
    auto tag = Hex("81 00 00 05");
    f.insert(f.begin() + 12, tag.begin(), tag.end());
    return f;
}

class ArpFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(ArpFrames, ParseAndMatch) {
    const FrameCase& c = GetParam();
    auto m = ParseArpFrame(c.frame.data(), c.frame.size());
    EXPECT_EQ(m.has_value(), c.parses);
    EXPECT_EQ(m && IsReplyFrom(*m, Target), c.answersTarget);
}

INSTANTIATE_TEST_SUITE_P(
    Wire, ArpFrames,
    testing::Values(
        FrameCase{"Reply", Hex(Reply), true, true}, FrameCase{"PaddedTo60", Padded(), true, true},
        FrameCase{"VlanTagged", VlanTagged(), true, true}, FrameCase{"Empty", {}, false, false},
        FrameCase{"HeaderOnly", Cut(14), false, false},
        FrameCase{"CutInTargetIP", Cut(41), false, false},
        FrameCase{"VlanTagCut", Hex("ff ff ff ff ff ff 02 51 00 00 00 01 81 00 00"), false, false},
        FrameCase{"EtherTypeIPv4", Edited(12, "08 00"), false, false},
        FrameCase{"HardwareNotEthernet", Edited(14, "00 06"), false, false},
        FrameCase{"ProtocolIPv6", Edited(16, "86 dd"), false, false},
        FrameCase{"HardwareLength8", Edited(18, "08"), false, false},
        FrameCase{"ProtocolLength16", Edited(19, "10"), false, false},
        FrameCase{"RequestFromTarget", Edited(20, "00 01"), true, false},
        FrameCase{"UnknownOpcode", Edited(20, "00 09"), true, false},
        FrameCase{"ReplyFromOtherAddress", Edited(28, "c6 12 00 0b"), true, false},
        FrameCase{"BroadcastSenderMac", Edited(22, "ff ff ff ff ff ff"), true, false},
        FrameCase{"MulticastSenderMac", Edited(22, "01 00 5e 00 00 01"), true, false},
        FrameCase{"ZeroSenderMac", Edited(22, "00 00 00 00 00 00"), true, false}),
    [](const testing::TestParamInfo<FrameCase>& i) { return std::string(i.param.name); });

}  // namespace
