// The IEEE registry's CSV reader and the compact file on arbitrary bytes: whatever it accepts,
// the compact form reads back to the same lookups, and no name holds a line break or a tab.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "Vendor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TVendorRegistry csv;
    csv.AddCsv(text);
    csv.Finish();
    TVendorRegistry compact;
    if (!compact.ReadCompact(csv.Compact()) || compact.Prefixes() != csv.Prefixes()) std::abort();

    std::istringstream lines(csv.Compact());
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find_first_of("\t\r", tab + 1) != std::string::npos)
            std::abort();
        const std::uint64_t prefix = std::stoull(line.substr(0, tab), nullptr, 16);
        const int bits = static_cast<int>(tab) * 4;
        std::uint8_t mac[6];
        for (int i = 0; i < 6; ++i)
            mac[i] = static_cast<std::uint8_t>((prefix << (48 - bits)) >> (40 - 8 * i));
        if (csv.Find(mac) != compact.Find(mac) || csv.Find(mac).empty()) std::abort();
    }
    // The compact reader on the same bytes: a registry or nothing.
    TVendorRegistry other;
    if (!other.ReadCompact(text) && !other.Empty()) std::abort();
    return 0;
}
