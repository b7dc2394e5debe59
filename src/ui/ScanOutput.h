// What the scan mode tells beyond the end report: each find on stdout (IP<TAB>MAC, or with
// --format json JSON Lines: one object per find as it is found, then one summing the scan; the
// fields are described in the README), and the comparison with the list it started from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "AddressTable.h"
#include "ScanComparison.h"
#include "ScanMode.h"
#include "ScanRange.h"
#include "ScanReport.h"
#include "Vendor.h"

// What the scan mode knows at the end, for the summary.
struct TScanFacts {
    std::optional<TSaveReport> Saves;  // none: nothing was saved
    bool ListUnreadable = false;
    const char* Probe = "";
    double Seconds = 0;
    bool Stopped = false;
    int Exit = 0;
};

class TScanOutput {
  public:
    // rows: the list as loaded, before the scan merges anything. The vendors are the system's,
    // waited for when first needed.
    TScanOutput(TScanFormat format, const TRows& rows, TScanRange range);

    // Every address handed off, before the table merges a find: the line for stdout (empty
    // when nothing was found).
    std::string Probed(std::uint32_t hostIP, bool found, const std::uint8_t* mac);
    // At the scan's end: the contested addresses' lines (JSON only).
    std::string Contested(const std::vector<TContested>& contested);

    // The counts, then the new and missing addresses, for stderr.
    std::string Text(const TScanReport& report) const;
    // The last line for stdout (JSON only).
    std::string Summary(const TScanReport& report, const TScanFacts& facts) const;

  private:
    TScanFormat format_;
    TScanRange range_;
    TScanComparison comparison_;
    std::size_t contested_ = 0;
};
