#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "UTypes.h"
#include "Vendor.h"

namespace {

namespace fs = std::filesystem;

// A registry folder as ieee-data lays it out: MA-L, MA-M and MA-S nested in one another, a name
// quoted around a comma, one malformed line, a stamp, and no iab.csv.
class VendorFolder : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               (std::string("quorvel-vendor-") +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        Write("oui.csv",
              "Registry,Assignment,Organization Name,Organization Address\r\n"
              "MA-L,001122,Alpha Ltd,Road 1\r\n"
              "MA-L,021122,Local Co,Road 2\r\n"
              "MA-L,A0B0C0,\"Delta, Inc.\",\"Road 3, Town\"\r\n");
        Write("mam.csv",
              "Registry,Assignment,Organization Name,Organization Address\n"
              "MA-M,0011223,Beta GmbH,\n"
              "MA-M,00112G4,Broken hex,\n");
        Write("oui36.csv",
              "Registry,Assignment,Organization Name,Organization Address\n"
              "MA-S,001122334,Gamma SA,\n");
        Write(".lastupdate", "1661630937\n");
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const char* name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    fs::path dir_;
};

struct TCase {
    const char* what;
    const char* mac;
    const char* vendor;
};

TEST_F(VendorFolder, LongestPrefixWinsAndLocalBitNamesNoVendor) {
    const TVendorRegistry registry = ReadIeeeFolder(dir_.string());
    EXPECT_EQ(registry.Date(), "2022-08-27");
    EXPECT_EQ(registry.Prefixes(), 5u);  // the malformed line left out
    const TCase cases[] = {
        {"MA-L only", "00:11:22:FF:00:01", "Alpha Ltd"},
        {"MA-M inside MA-L", "00:11:22:3F:00:01", "Beta GmbH"},
        {"MA-S inside MA-M", "00:11:22:33:4F:01", "Gamma SA"},
        {"quoted name", "A0:B0:C0:00:00:01", "Delta, Inc."},
        {"unassigned", "00:11:23:00:00:01", ""},
        {"malformed line's prefix", "00:11:22:40:00:01", "Alpha Ltd"},
        {"locally administered, even if assigned", "02:11:22:00:00:01", kLocallyAdministeredText},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(VendorOf(&registry, StrToMac(c.mac).data()), c.vendor) << c.what;

    // The compact file gives the same answers.
    TVendorRegistry compact;
    ASSERT_TRUE(compact.ReadCompact(registry.Compact()));
    EXPECT_EQ(compact.Date(), registry.Date());
    for (const TCase& c : cases)
        EXPECT_EQ(VendorOf(&compact, StrToMac(c.mac).data()), c.vendor) << c.what;
}

TEST_F(VendorFolder, MissingOrUnreadableFilesOnlyLoseTheirNames) {
    fs::remove(dir_ / "oui.csv");
    fs::remove(dir_ / "mam.csv");
    fs::create_directory(dir_ / "mam.csv");  // not a file: cannot be read
    const TVendorRegistry some = ReadIeeeFolder(dir_.string());
    EXPECT_EQ(VendorOf(&some, StrToMac("00:11:22:33:4F:01").data()), "Gamma SA");
    EXPECT_EQ(VendorOf(&some, StrToMac("00:11:22:FF:00:01").data()), "");

    const TVendorRegistry none = ReadIeeeFolder((dir_ / "absent").string());
    EXPECT_TRUE(none.Empty());
    EXPECT_EQ(none.Date(), "");
    EXPECT_EQ(VendorOf(&none, StrToMac("00:11:22:FF:00:01").data()), "");
    EXPECT_EQ(VendorOf(nullptr, StrToMac("06:00:00:00:00:01").data()), kLocallyAdministeredText);
    TVendorRegistry notCompact;
    EXPECT_FALSE(notCompact.ReadCompact("#quorvel-vendors 2022-08-27\nXYZ\tname\n"));
    EXPECT_TRUE(notCompact.Empty());
}

}  // namespace
