#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "UTypes.h"

namespace {

struct IntCase {
    const char* text;
    bool ok;
    std::int32_t value;
};
void PrintTo(const IntCase& c, std::ostream* os) { *os << '[' << c.text << ']'; }

class IntegerReading : public testing::TestWithParam<IntCase> {};

TEST_P(IntegerReading, ReadsOrRejects) {
    const IntCase& c = GetParam();
    std::int32_t v = 12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(v, c.value) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rule, IntegerReading,
    testing::Values(
        // decimal, blanks, signs
        IntCase{"0", true, 0}, IntCase{"012", true, 12}, IntCase{"  42", true, 42},
        IntCase{"+7", true, 7}, IntCase{"-7", true, -7}, IntCase{" -0", true, 0},
        IntCase{"2147483647", true, 2147483647}, IntCase{"-2147483648", true, INT32_MIN},
        IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
        IntCase{"99999999999999999999", false, 0}, IntCase{"", false, 0}, IntCase{"   ", false, 0},
        IntCase{"42 ", false, 0}, IntCase{"- 5", false, 0}, IntCase{"+-5", false, 0},
        IntCase{"\t5", false, 0}, IntCase{"1a", false, 0}, IntCase{"1.5", false, 0},
        // hexadecimal markers
        IntCase{"$ff", true, 255}, IntCase{"xFF", true, 255}, IntCase{"XfF", true, 255},
        IntCase{"0x10", true, 16}, IntCase{"0X10", true, 16}, IntCase{"-$10", true, -16},
        IntCase{"$FFFFFFFF", true, -1}, IntCase{"$80000000", true, INT32_MIN},
        IntCase{"$000000000001", true, 1}, IntCase{"$100000000", false, 0}, IntCase{"$", false, 0},
        IntCase{"0x", false, 0}, IntCase{"$g", false, 0}, IntCase{"$-1", false, 0},
        IntCase{"$ 1", false, 0}, IntCase{"0x1 ", false, 0}));

TEST(ConversionError, CarriesTheTextInItsMessage) {
    try {
        StrToInt("abc");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    EXPECT_EQ(StrToInt(" $1F"), 31);
}

TEST(HexToInt, AcceptsOnlyHexDigits) {
    EXPECT_EQ(HexToInt("1a"), 26);
    EXPECT_EQ(HexToInt("FF"), 255);
    EXPECT_EQ(HexToInt("ffffffff"), -1);
    for (const char* bad : {"", " 1", "-1", "+1", "1 ", "g", "0x1", "123456789"}) {
        EXPECT_THROW(HexToInt(bad), EConvertError) << bad;
    }
}

TEST(ByteOrder, SwapsAndRoundTrips) {
    EXPECT_EQ(HostToNet(0xC0A8010Au), 0x0A01A8C0u);
    EXPECT_EQ(NetToHost(0x0A01A8C0u), 0xC0A8010Au);
    EXPECT_EQ(IPToStr(HostToNet(0xC0A80101u)), "192.168.1.1");
    EXPECT_EQ(NetToHost(StrToIP("192.168.1.1")), 0xC0A80101u);
}

TEST(IPToStr, WritesLowByteFirstWithoutLeadingZeros) {
    EXPECT_EQ(IPToStr(0), "0.0.0.0");
    EXPECT_EQ(IPToStr(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(IPToStr(0x0501A8C0u), "192.168.1.5");
    for (std::uint32_t v : {0u, 1u, 0x80000000u, 0x12345678u, 0xFEDCBA98u}) {
        EXPECT_EQ(StrToIP(IPToStr(v)), v);
    }
}

struct IPCase {
    const char* text;
    std::uint32_t wire;
};
void PrintTo(const IPCase& c, std::ostream* os) { *os << '[' << c.text << ']'; }

class StrToIPCases : public testing::TestWithParam<IPCase> {};

TEST_P(StrToIPCases, Reads) {
    EXPECT_EQ(StrToIP(GetParam().text), GetParam().wire) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIPCases,
    testing::Values(IPCase{"10.0.0.1", 0x0100000Au}, IPCase{" 10.$0A.0.1", 0x01000A0Au},
                    IPCase{"192.168.001.5", 0x0501A8C0u},
                    // octets over 255 spill and wrap rather than fail
                    IPCase{"1.2.3.256", 0x00030201u}, IPCase{"1.2.3.300", 0x2C030201u},
                    IPCase{"1.2.300.4", 0x052C0201u}, IPCase{"1.2.3.-1", 0xFF030201u},
                    // unreadable: 0
                    IPCase{"10.0.0", 0}, IPCase{"", 0}, IPCase{"a.b.c.d", 0},
                    IPCase{"1.2.3.4.5", 0}, IPCase{"1.2.3.4 ", 0}, IPCase{"1..3.4", 0},
                    IPCase{"1.2.3.", 0}));

TEST(MacText, ThreeFormsUpperCase) {
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(MacToStr(mac, '-'), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(MacToStr(mac, 0), "001A2B3C4D5E");
    EXPECT_EQ(MacToColonStr(mac), "00:1A:2B:3C:4D:5E");
    const std::uint8_t high[6] = {0xab, 0xcd, 0xef, 0xff, 0x0a, 0xb0};
    EXPECT_EQ(MacToColonStr(high), "AB:CD:EF:FF:0A:B0");
}

TEST(StrToMac, ReadsColonAndDashFormsOfEitherCase) {
    const TMacAddr expected{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(StrToMac("00:1A:2B:3C:4D:5E"), expected);
    EXPECT_EQ(StrToMac("00-1a-2b-3c-4d-5e"), expected);
    EXPECT_EQ(StrToMac("00:1A:2B:3C:4D:5E trailing ignored"), expected);
    // 16 characters: the last pair is one digit
    EXPECT_EQ(StrToMac("00:1A:2B:3C:4D:5")[5], 0x05);
}

TEST(StrToMac, BareFormAndBadPairsRaiseAfterStoringEarlierBytes) {
    EXPECT_THROW(StrToMac("001A2B3C4D5E"), EConvertError);
    EXPECT_THROW(StrToMac(""), EConvertError);
    EXPECT_THROW(StrToMac("00:1A:2B:3C:4D"), EConvertError);
    std::uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_THROW(StrToMac("01:02:zz:04:05:06", mac), EConvertError);
    EXPECT_EQ(mac[0], 1);
    EXPECT_EQ(mac[1], 2);
    EXPECT_EQ(mac[2], 9);
}

}  // namespace
