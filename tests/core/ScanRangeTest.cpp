#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScanRange.h"
#include "UTypes.h"

namespace {

std::uint32_t H(const char* ip) { return NetToHost(StrToIP(ip)); }

struct RangeCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<TScanRange> range;
    std::string error;
};

TEST(ScanRange, ReadsTheFormsOfTheCommandLine) {
    const RangeCase cases[] = {
        {"dash", {"198.18.0.1-198.18.0.20"}, TScanRange{H("198.18.0.1"), H("198.18.0.20")}, ""},
        {"two arguments",
         {"198.18.0.1", "198.18.1.2"},
         TScanRange{H("198.18.0.1"), H("198.18.1.2")},
         ""},
        {"one address", {"198.18.0.7"}, TScanRange{H("198.18.0.7"), H("198.18.0.7")}, ""},
        {"block, every address",
         {"198.18.0.0/22"},
         TScanRange{H("198.18.0.0"), H("198.18.3.255")},
         ""},
        {"block from a host's address",
         {"198.18.0.77/24"},
         TScanRange{H("198.18.0.0"), H("198.18.0.255")},
         ""},
        {"/32", {"198.18.0.9/32"}, TScanRange{H("198.18.0.9"), H("198.18.0.9")}, ""},
        {"/0", {"1.2.3.4/0"}, TScanRange{0, 0xFFFFFFFFu}, ""},
        {"the fields' number rule",
         {"$C6.18.0.1", " 198.18.0.2"},
         TScanRange{H("198.18.0.1"), H("198.18.0.2")},
         ""},
        {"unreadable",
         {"198.18.0.x-198.18.0.9"},
         std::nullopt,
         "'198.18.0.x' is not an IPv4 address"},
        {"octet above 255",
         {"198.18.0.256"},
         std::nullopt,
         "'198.18.0.256' is not an IPv4 address"},
        {"three octets", {"198.18.0"}, std::nullopt, "'198.18.0' is not an IPv4 address"},
        {"five octets", {"198.18.0.1.2"}, std::nullopt, "'198.18.0.1.2' is not an IPv4 address"},
        {"empty end", {"198.18.0.1-"}, std::nullopt, "'' is not an IPv4 address"},
        {"end below start",
         {"198.18.0.9", "198.18.0.1"},
         std::nullopt,
         "the range ends at 198.18.0.1, below its start 198.18.0.9"},
        {"prefix too long",
         {"198.18.0.0/33"},
         std::nullopt,
         "'33' is not a prefix length (0 to 32)"},
        {"three arguments",
         {"198.18.0.1", "198.18.0.2", "198.18.0.3"},
         std::nullopt,
         "RANGE is FIRST-LAST, FIRST LAST or a block such as 198.18.0.0/24"},
    };
    for (const RangeCase& c : cases) {
        std::string error;
        EXPECT_EQ(ReadScanRange(c.args, error), c.range) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

TEST(ScanRange, ProposedAsTheWindowDoes) {
    EXPECT_EQ(ProposedRange("192.168.1.20"), (TScanRange{H("192.168.1.1"), H("192.168.1.255")}));
    EXPECT_EQ(ProposedRange(""), std::nullopt);
}

}  // namespace
