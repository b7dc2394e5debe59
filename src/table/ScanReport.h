// What a scan met that the administrator must hear of, told once at its end in one plain text:
// addresses whose MAC changed, addresses for which different MACs answered, files not written.
// The window shows it in a box, the scan mode writes it to stderr.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "AddressTable.h"
#include "ArpProbe.h"
#include "Vendor.h"

// Told when the list file exists but cannot be read.
inline constexpr char kUnreadableListText[] =
    "无法读取地址列表文件“ArpList.ini”。\n为保护其中的地址，本次运行不会改写该文件，"
    "也不会改写“BindArp.bat”和“BindDhcp.bat”。";

// A row whose hardware address a scan replaced.
struct TMacChange {
    std::string IP;
    std::string OldMAC;  // the cell as it stood when the scan began
    std::string NewMAC;  // the cell now (colon form)
};

// One part of the report: a heading and its entries, one a line.
struct TReportSection {
    std::string Heading;
    std::vector<std::string> Entries;
};

class TScanReport {
  public:
    // Call before the table merges a find (hostIP in host order, mac 6 bytes): remembers the
    // MAC the address's row held, the first time it is found in this scan. A cell that does not
    // read as a MAC counts as another address.
    void NoteFind(TAddressTable& table, std::uint32_t hostIP, const std::uint8_t* mac);
    void NoteContested(const std::vector<TContested>& contested);
    bool HasContested() const { return !contested_.empty(); }
    // Names each changed MAC's vendor from registry (none: MACs alone).
    void SetVendors(const TVendorRegistry* registry) { vendors_ = registry; }
    // Why the scan could not ask the network (told first: its "not found" means nothing).
    void NoteFault(const TProbeFault& fault) { fault_ = fault; }
    bool CouldNotProbe() const { return fault_.Kind != TProbeFaultKind::None; }
    // The last save of a scan decides: a file it wrote holds every row, whatever earlier saves
    // met.
    void NoteSaves(const TSaveReport& saves) { saves_ = saves; }

    // The rows whose MAC differs now from the scan's start, in the order first found.
    std::vector<TMacChange> Changes() const;
    const std::optional<TSaveReport>& Saves() const { return saves_; }
    bool SavesFailed() const { return saves_ && !*saves_; }

    // The report's sections, in order, each only when it has something to tell.
    std::vector<TReportSection> Sections() const;
    // The whole report; empty when there is nothing to tell.
    std::string Text() const;

  private:
    std::vector<TMacChange> found_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<TContested> contested_;
    TProbeFault fault_;
    std::optional<TSaveReport> saves_;
    const TVendorRegistry* vendors_ = nullptr;
};

// The sections joined; each lists its first 50 entries, then how many more there are.
std::string JoinSections(const std::vector<TReportSection>& sections);

// Each file a save left unwritten and why (the report's last section, and the message a
// deletion gives at once).
TReportSection UnsavedSection(const TSaveReport& saves);
std::string UnsavedText(const TSaveReport& saves);
