// "BindArp.bat" and "BindDhcp.bat" from a list file of arbitrary bytes (its first line stands
// for the local address). Properties: a script that is written holds nothing but its fixed lines
// and rows of an address and a MAC; it is refused exactly when a row's address is not digits and
// dots or its MAC cell has a pair that is no hexadecimal number.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/support/ScriptLines.h"
#include "ArpListFile.h"
#include "BindScripts.h"
#include "Sort.h"
#include "TextFile.h"

namespace {

bool HexPairReadable(std::string_view pair) {
    if (pair.empty()) return false;
    for (char c : pair) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    return true;
}

// Four dotted decimal numbers 0..255, leading zeros allowed.
bool DottedDecimal(std::string_view ip) {
    int parts = 0;
    while (true) {
        std::size_t dot = ip.find('.');
        std::string_view part = ip.substr(0, dot);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        part.remove_prefix(std::min(part.find_first_not_of('0'), part.size()));
        if (part.size() > 3 || (part.size() == 3 && part > "255")) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        ip.remove_prefix(dot + 1);
    }
    return parts == 4;
}

bool RowWritable(const TRow& row) {
    if (!DottedDecimal(row.IP)) return false;
    for (std::size_t k = 0; k < 6; ++k) {
        std::size_t pos = 3 * k;
        if (pos >= row.MAC.size() || !HexPairReadable(std::string_view(row.MAC).substr(pos, 2))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t firstEnd = bytes.find('\n');
    std::string localIP(bytes.substr(0, firstEnd));
    std::string_view list = firstEnd == std::string_view::npos ? "" : bytes.substr(firstEnd + 1);

    TMemoryRows rows;
    bool tray = true;
    ParseArpList(SplitLines(list), rows, tray);
    SortRows(rows);
    bool writable = true;
    for (const TRow& row : rows.Rows()) writable = writable && RowWritable(row);

    std::vector<std::string> arp, dhcp;
    bool arpBuilt = BuildBindArp(rows, arp);
    bool dhcpBuilt = BuildBindDhcp(rows, localIP, dhcp);
    if (arpBuilt != writable || dhcpBuilt != writable) std::abort();
    if (arpBuilt && !script_lines::IsSafeBindArp(JoinLines(arp))) std::abort();
    if (dhcpBuilt && !script_lines::IsSafeBindDhcp(JoinLines(dhcp))) std::abort();
    if (arpBuilt && arp.size() != static_cast<std::size_t>(rows.Count()) + 2) std::abort();
    return 0;
}
