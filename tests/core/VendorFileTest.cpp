// The compact file made at build time for Windows answers every lookup as the CSVs it was made
// from do: every assigned prefix, with random tails, and random MACs besides.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "Vendor.h"

TEST(VendorFile, GivesTheLookupsOfItsCsvs) {
    const TVendorRegistry csv = ReadIeeeFolder(QUORVEL_IEEE_DATA_DIR);
    std::ifstream in(QUORVEL_VENDOR_FILE, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    TVendorRegistry file;
    ASSERT_TRUE(file.ReadCompact(text.str())) << QUORVEL_VENDOR_FILE;
    ASSERT_FALSE(csv.Empty());
    EXPECT_EQ(file.Date(), csv.Date());
    EXPECT_EQ(file.Prefixes(), csv.Prefixes());

    const char* seedText = std::getenv("QUORVEL_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                                   : std::random_device{}();
    std::mt19937_64 random(seed);
    const auto same = [&](std::uint64_t mac48) {
        std::uint8_t mac[6];
        for (int i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(mac48 >> (40 - 8 * i));
        return csv.Find(mac) == file.Find(mac);
    };
    // Each prefix of the CSVs (one per line of their compact form) with a random tail.
    std::istringstream lines(csv.Compact());
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        const std::string hex = line.substr(0, line.find('\t'));
        const int bits = static_cast<int>(hex.size()) * 4;
        const std::uint64_t tail = random() & ((std::uint64_t{1} << (48 - bits)) - 1);
        ASSERT_TRUE(same((std::stoull(hex, nullptr, 16) << (48 - bits)) | tail))
            << hex << " (QUORVEL_SEED=" << seed << ")";
    }
    for (int k = 0; k < 100000; ++k)
        ASSERT_TRUE(same(random() & 0xFFFFFFFFFFFF)) << "QUORVEL_SEED=" << seed;
}
