// The range of a scan named in text: on the command line, or proposed from the local address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Host order, both ends included.
struct TScanRange {
    std::uint32_t First = 0;
    std::uint32_t Last = 0;
    bool operator==(const TScanRange&) const = default;
};

// An address read as the address fields read their text: four numbers between dots, each by the
// integer reading rule. A number outside 0..255, or text that is no such address, gives nothing
// (never 0.0.0.0: a typo must not start a scan from there). Host order.
std::optional<std::uint32_t> ReadIPAddress(std::string_view text);

// "FIRST-LAST", "FIRST" "LAST", or a block "BASE/BITS" (every address of it, BASE's host bits
// ignored). Nothing, and the reason in error, when the arguments name no range or its end lies
// below its start.
std::optional<TScanRange> ReadScanRange(const std::vector<std::string>& args, std::string& error);

// The range the window proposes from the local address: its /24 network from .1 to .255.
std::optional<TScanRange> ProposedRange(std::string_view localIP);
