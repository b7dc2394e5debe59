#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LocalLink.h"

namespace {

TLocalLink Link(const char* name, int index, const char* ip, const char* mask) {
    TLocalLink l;
    l.Name = name;
    l.Index = index;
    l.IP = StrToIP(ip);
    l.Netmask = StrToIP(mask);
    l.Mac = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(index)};
    return l;
}

const std::vector<TLocalLink> Links = {
    Link("eth0", 2, "198.18.0.1", "255.255.255.0"),
    Link("eth1", 3, "198.19.0.1", "255.255.0.0"),
    Link("eth2", 4, "198.18.0.200", "255.255.255.0"),  // a second address on eth0's network
    Link("p2p", 5, "198.19.255.254", "255.255.255.254"),
    Link("host", 6, "198.18.9.9", "255.255.255.255"),
};

struct LinkCase {
    const char* ip;
    TLinkMatch match;
    const char* link;
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.ip; }

class FindLinks : public testing::TestWithParam<LinkCase> {};

TEST_P(FindLinks, ChoosesTheConnectedNetwork) {
    const LinkCase& c = GetParam();
    TLocalLink found;
    EXPECT_EQ(FindLink(Links, StrToIP(c.ip), &found), c.match);
    if (c.match != TLinkMatch::None) {
        EXPECT_EQ(found.Name, c.link);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindLinks,
    testing::Values(LinkCase{"198.18.0.10", TLinkMatch::OnLink, "eth0"},
                    LinkCase{"198.18.0.1", TLinkMatch::Own, "eth0"},
                    LinkCase{"198.18.0.200", TLinkMatch::Own, "eth2"},
                    LinkCase{"198.19.200.7", TLinkMatch::OnLink, "eth1"},
                    LinkCase{"198.18.1.10", TLinkMatch::None, ""},
                    LinkCase{"203.0.113.5", TLinkMatch::None, ""},
                    LinkCase{"198.18.0.0", TLinkMatch::None, ""},    // network address
                    LinkCase{"198.18.0.255", TLinkMatch::None, ""},  // broadcast address
                    LinkCase{"198.19.0.0", TLinkMatch::None, ""},
                    LinkCase{"198.19.255.255", TLinkMatch::None, ""},
                    LinkCase{"198.19.255.0", TLinkMatch::OnLink, "eth1"},  // inside a /16
                    LinkCase{"198.19.255.254", TLinkMatch::Own, "p2p"},
                    LinkCase{"198.18.9.9", TLinkMatch::Own, "host"},
                    LinkCase{"0.0.0.0", TLinkMatch::None, ""}));

TEST(FindLink, PointToPointPeerIsOnLink) {
    std::vector<TLocalLink> p2p = {Link("p2p", 5, "198.19.255.254", "255.255.255.254")};
    TLocalLink found;
    EXPECT_EQ(FindLink(p2p, StrToIP("198.19.255.255"), &found), TLinkMatch::OnLink);
    EXPECT_EQ(FindLink({}, StrToIP("198.18.0.10"), &found), TLinkMatch::None);
}

TEST(CoveringLink, HoldsTheFirstAddressElseAnyOfTheRange) {
    auto name = [](const TLocalLink* l) { return l == nullptr ? std::string() : l->Name; };
    auto host = [](const char* ip) { return NetToHost(StrToIP(ip)); };
    EXPECT_EQ(name(CoveringLink(Links, host("198.18.0.0"), host("198.18.0.255"))), "eth0");
    EXPECT_EQ(name(CoveringLink(Links, host("198.19.3.1"), host("198.19.3.9"))), "eth1");
    EXPECT_EQ(name(CoveringLink(Links, host("198.17.255.0"), host("198.18.0.20"))), "eth0");
    EXPECT_EQ(name(CoveringLink(Links, host("198.18.1.0"), host("198.18.1.255"))), "");
    EXPECT_EQ(name(CoveringLink({}, host("198.18.0.1"), host("198.18.0.9"))), "");
}

}  // namespace
