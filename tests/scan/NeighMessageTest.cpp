#include <gtest/gtest.h>
#include <linux/neighbour.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "NeighMessage.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::uint8_t> bytes;
    unsigned v;
    while (in >> std::hex >> v) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

std::vector<std::uint8_t> Join(std::vector<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// An RTM_NEWNEIGH event as the kernel sends it (x86-64, little-endian): nlmsghdr (length 76,
// type 28, flags 0, seq 0, pid 0), ndmsg (AF_INET, ifindex 2, REACHABLE, type unicast), then
// NDA_DST 198.18.0.10, NDA_LLADDR 02:51:00:00:00:01 (padded), NDA_CACHEINFO, NDA_PROBES.
const char* const Event =
    "4c 00 00 00 1c 00 00 00 00 00 00 00 00 00 00 00"
    " 02 00 00 00 02 00 00 00 02 00 00 01"
    " 08 00 01 00 c6 12 00 0a"
    " 0a 00 02 00 02 51 00 00 00 01 00 00"
    " 14 00 03 00 0a 00 00 00 0a 00 00 00 0a 00 00 00 01 00 00 00"
    " 08 00 04 00 01 00 00 00";

std::vector<std::uint8_t> EventWith(std::size_t at, const std::string& bytes) {
    auto f = Hex(Event);
    auto b = Hex(bytes);
    std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
    return f;
}

const std::uint32_t Target = StrToIP("198.18.0.10");
const TMacAddr TargetMac{0x02, 0x51, 0, 0, 0, 0x01};

TEST(NeighMessage, ReadsEvent) {
    auto d = Hex(Event);
    bool malformed = true;
    auto notes = ParseNeighDatagram(d.data(), d.size(), &malformed);
    EXPECT_FALSE(malformed);
    ASSERT_EQ(notes.size(), 1u);
    const TNeighEntry& e = notes[0].Neigh;
    EXPECT_EQ(notes[0].Kind, TNeighNote::Entry);
    EXPECT_EQ(notes[0].Seq, 0u);
    EXPECT_FALSE(e.Deleted);
    EXPECT_EQ(e.IfIndex, 2);
    EXPECT_EQ(e.State, NUD_REACHABLE);
    EXPECT_EQ(e.IP, Target);
    EXPECT_TRUE(e.HasMac);
    EXPECT_EQ(e.Mac, TargetMac);
}

TEST(NeighMessage, BuildsGetForOneAddress) {
    auto req = BuildNeighGet(7, 2, Target);
    // nlmsghdr (36 bytes, RTM_GETNEIGH 30, NLM_F_REQUEST, seq 7), ndmsg (AF_INET, ifindex 2),
    // NDA_DST.
    EXPECT_EQ(req, Hex("24 00 00 00 1e 00 01 00 07 00 00 00 00 00 00 00"
                       " 02 00 00 00 02 00 00 00 00 00 00 00"
                       " 08 00 01 00 c6 12 00 0a"));
}

TEST(NeighMessage, BuildsDumpOfIPv4Table) {
    // nlmsghdr (28 bytes, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, seq 9), ndmsg (AF_INET).
    EXPECT_EQ(BuildNeighDump(9), Hex("1c 00 00 00 1e 00 01 03 09 00 00 00 00 00 00 00"
                                     " 02 00 00 00 00 00 00 00 00 00 00 00"));
}

struct DatagramCase {
    const char* name;
    std::vector<std::uint8_t> data;
    std::size_t entries;
    bool malformed;
    bool hasMac;
};
void PrintTo(const DatagramCase& c, std::ostream* os) { *os << c.name; }

class NeighDatagrams : public testing::TestWithParam<DatagramCase> {};

TEST_P(NeighDatagrams, ReadWhatFits) {
    const DatagramCase& c = GetParam();
    bool malformed = !c.malformed;
    auto notes = ParseNeighDatagram(c.data.data(), c.data.size(), &malformed);
    std::size_t entries = 0;
    for (const auto& n : notes) {
        if (n.Kind != TNeighNote::Entry) continue;
        ++entries;
        EXPECT_EQ(n.Neigh.IP, Target);
        EXPECT_EQ(n.Neigh.HasMac, c.hasMac);
        if (n.Neigh.HasMac) {
            EXPECT_EQ(n.Neigh.Mac, TargetMac);
        }
    }
    EXPECT_EQ(entries, c.entries);
    EXPECT_EQ(malformed, c.malformed);
}

std::vector<std::uint8_t> Truncated(std::size_t len) {
    auto d = Hex(Event);
    d.resize(len);
    return d;
}

// A FAILED entry carries no link-layer address: its NDA_LLADDR is left out.
std::vector<std::uint8_t> WithoutMac() {
    auto d = Hex(Event);
    d.erase(d.begin() + 36, d.begin() + 48);
    d[0] = 64;
    d[20] = 0x20;  // NUD_FAILED
    return d;
}

// A link-layer address of 4 bytes (not Ethernet) is no MAC.
std::vector<std::uint8_t> ShortMac() {
    auto d = Hex(Event);
    auto attr = Hex("08 00 02 00 0a 0b 0c 0d");
    d.erase(d.begin() + 36, d.begin() + 48);
    d.insert(d.begin() + 36, attr.begin(), attr.end());
    d[0] = 72;
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Wire, NeighDatagrams,
    testing::Values(
        DatagramCase{"OneEvent", Hex(Event), 1, false, true},
        DatagramCase{"TwoEvents", Join({Hex(Event), Hex(Event)}), 2, false, true},
        DatagramCase{"Empty", {}, 0, false, false},
        DatagramCase{"ShorterThanHeader", Truncated(10), 0, true, false},
        DatagramCase{"LengthPastEnd", Truncated(60), 0, true, false},
        DatagramCase{"SecondCut", Join({Hex(Event), Truncated(30)}), 1, true, true},
        DatagramCase{"LengthBelowHeader", EventWith(0, "08 00 00 00"), 0, true, false},
        DatagramCase{"BodyShorterThanNdmsg",
                     Hex("18 00 00 00 1c 00 00 00 00 00 00 00 00 00 00 00 02 00 00 00 02 00 00 00"),
                     0, true, false},
        DatagramCase{"AttributePastMessage", EventWith(28, "f0 00"), 0, true, false},
        DatagramCase{"AttributeLengthBelowHeader", EventWith(36, "02 00"), 0, true, false},
        DatagramCase{"UnknownAttributeSkipped", EventWith(38, "63 00"), 1, false, false},
        DatagramCase{"MacOfOtherLength", ShortMac(), 1, false, false},
        DatagramCase{"NoMacWhenFailed", WithoutMac(), 1, false, false},
        DatagramCase{"NoDestination", EventWith(30, "63 00"), 0, false, false},
        DatagramCase{"DestinationNotFourBytes", EventWith(28, "06 00"), 0, false, false},
        DatagramCase{"FamilyIPv6Passed", EventWith(16, "0a"), 0, false, false},
        DatagramCase{"OtherMessageTypePassed", EventWith(4, "18 00"), 0, false, false}),
    [](const testing::TestParamInfo<DatagramCase>& i) { return std::string(i.param.name); });

TEST(NeighMessage, ReadsErrorsAndDone) {
    // NLMSG_ERROR -ENOENT for seq 5 (the offending header follows), then NLMSG_DONE for seq 6.
    auto d =
        Hex("24 00 00 00 02 00 00 00 05 00 00 00 00 00 00 00  fe ff ff ff"
            " 24 00 00 00 1e 00 01 00 05 00 00 00 00 00 00 00"
            " 14 00 00 00 03 00 02 00 06 00 00 00 00 00 00 00  00 00 00 00");
    bool malformed = true;
    auto notes = ParseNeighDatagram(d.data(), d.size(), &malformed);
    EXPECT_FALSE(malformed);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Kind, TNeighNote::Error);
    EXPECT_EQ(notes[0].Seq, 5u);
    EXPECT_EQ(notes[0].ErrorCode, -2);
    EXPECT_EQ(notes[1].Kind, TNeighNote::Done);
    EXPECT_EQ(notes[1].Seq, 6u);
}

TEST(NeighMessage, VerifiedStates) {
    EXPECT_TRUE(IsVerifiedState(NUD_REACHABLE));
    EXPECT_TRUE(IsVerifiedState(NUD_PERMANENT));
    for (std::uint16_t s : {NUD_NONE, NUD_INCOMPLETE, NUD_STALE, NUD_DELAY, NUD_PROBE, NUD_FAILED})
        EXPECT_FALSE(IsVerifiedState(s)) << s;
}

}  // namespace
