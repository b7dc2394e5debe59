// A scan measured against the list it started from, over the scanned range: which finds are new
// addresses, which answered with another MAC, and which rows of the range did not answer (their
// rows stay in the list).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ArpProbe.h"
#include "Rows.h"
#include "ScanReport.h"
#include "Vendor.h"

enum class TFindState { New, Changed, Same };

const char* FindStateName(TFindState state);  // "new", "changed", "same"

struct TFindVerdict {
    TFindState State = TFindState::New;
    std::string OldMAC;  // the row's MAC at the start; empty when new
};

class TScanComparison {
  public:
    // Remembers the rows whose address lies in first..last (host order) as the scan starts; the
    // first row of an address counts, as the table's lookup finds it.
    TScanComparison(const TRows& rows, std::uint32_t first, std::uint32_t last);

    // Every address the scan handed off (hostIP in host order), found or not; mac when found.
    // Returns the find's verdict (meaningless when not found).
    TFindVerdict NoteProbe(std::uint32_t hostIP, bool found, const std::uint8_t* mac);
    // A contested address answered, though nobody was merged: its verdict against its first MAC
    // that is not the row's, if any.
    TFindVerdict NoteContested(const TContested& contested);

    std::size_t NewCount() const { return new_.size(); }
    // The rows of the range that were probed and never answered, in address order (host order).
    std::vector<std::uint32_t> Missing() const;

    // For the scan mode's text: the new addresses and the missing ones, each when there are any.
    // Each MAC with its vendor from registry (may be null).
    std::vector<TReportSection> Sections(const TVendorRegistry* registry) const;

  private:
    struct TStart {
        std::string MAC;
        bool Probed = false;
        bool Answered = false;
    };
    TFindVerdict Verdict(std::uint32_t hostIP, const std::uint8_t* mac);

    std::unordered_map<std::uint32_t, TStart> start_;
    std::vector<std::pair<std::uint32_t, TMacAddr>> new_;  // in the order found
    std::unordered_set<std::uint32_t> counted_;            // addresses found so far
};
