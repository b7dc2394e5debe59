// The organisations the IEEE registration authority assigned MAC prefixes to (MA-L, MA-M, MA-S
// and the older IAB blocks), read from its CSV files or from the compact file made from them,
// and looked up by the longest prefix that matches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Named instead of a vendor for a MAC whose first octet has bit 0x02 set: the address was made up
// by its owner (randomised phone addresses, virtual machines), not assigned.
inline constexpr char kLocallyAdministeredText[] = "本地管理地址";

// The registry's files in a folder of Debian's ieee-data, longest prefixes last.
inline constexpr const char* kIeeeCsvFiles[] = {"oui.csv", "mam.csv", "oui36.csv", "iab.csv"};

// The compact file: a first line "#quorvel-vendors DATE", then one "HEX<TAB>NAME" line per
// prefix (6, 7 or 9 hex digits), in the order of the lookup's tables.
inline constexpr char kCompactVendorFile[] = "ieee-vendors.txt";

class TVendorRegistry {
  public:
    // Adds the assignments of one CSV file's text ("Registry,Assignment,Organization Name,...");
    // returns how many lines other than the heading it could not use (they are passed over).
    std::size_t AddCsv(std::string_view text);
    // Reads the compact file's text in place of everything added so far; false when it is not
    // one (the registry is then empty).
    bool ReadCompact(std::string_view text);
    // Sorts what was added for the lookup; an earlier assignment of a prefix wins over a later.
    void Finish();

    // The organisation the longest matching prefix of mac (6 bytes) was assigned to; empty when
    // none is. Only after Finish (or ReadCompact).
    std::string_view Find(const std::uint8_t* mac) const;
    bool Empty() const { return Prefixes() == 0; }
    std::size_t Prefixes() const;
    // The bytes the lookup keeps.
    std::size_t Bytes() const;

    // The day the registry's files were taken from the IEEE, as YYYY-MM-DD; empty when unknown.
    const std::string& Date() const { return date_; }
    void SetDate(std::string date) { date_ = std::move(date); }

    std::string Compact() const;

  private:
    struct TTable {
        int Bits;
        std::vector<std::uint64_t> Keys;   // sorted prefixes
        std::vector<std::uint32_t> Names;  // their names' numbers
    };
    void Add(std::string_view hex, std::string_view name);
    // Names are not shared between prefixes: looking each up while loading would cost more
    // (a third of the load) than the memory it saves.
    std::uint32_t AppendName(std::string_view name);
    std::string_view Name(std::uint32_t number) const;

    // Longest prefix first: MA-S and IAB (36 bits), MA-M (28), MA-L (24).
    std::array<TTable, 3> tables_{TTable{36, {}, {}}, TTable{28, {}, {}}, TTable{24, {}, {}}};
    std::string names_;                  // the names, one after another
    std::vector<std::uint32_t> starts_;  // where name k begins; one more at the end
    std::string date_;
};

// What to show for mac's maker: kLocallyAdministeredText, the organisation, or empty (unknown,
// or no registry).
std::string VendorOf(const TVendorRegistry* registry, const std::uint8_t* mac);

// The CSV files of kIeeeCsvFiles in folder (the missing or unreadable ones passed over), dated by
// the folder's .lastupdate or else oui.csv's time.
TVendorRegistry ReadIeeeFolder(const std::string& folder);

// The system's registry: on Linux the newer of /usr/share/ieee-data and /var/lib/ieee-data, on
// Windows the compact file beside the program. Missing or unreadable files give an empty
// registry.
TVendorRegistry LoadSystemVendors();

// LoadSystemVendors, once per program, on a thread of its own. StartLoadingVendors returns at
// once; LoadedVendors gives nullptr until the load is done; Vendors waits for it.
void StartLoadingVendors();
const TVendorRegistry* LoadedVendors();
const TVendorRegistry& Vendors();
