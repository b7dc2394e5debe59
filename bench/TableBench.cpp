// Times the table operations on a large table (a whole /16): duplicate marks, loading the list
// file, and one new find with its three file writes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "AddressTable.h"
#include "UTypes.h"

namespace {

template <typename F>
double Millis(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main() {
    const int kRows = 65536;
    std::string dir = (std::filesystem::temp_directory_path() / "quorvel-table-bench").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir);
    table.SetLocalIPSource([] { return std::string("10.20.0.1"); });
    for (int i = 0; i < kRows; ++i) {
        std::uint8_t mac[6] = {
            0x02, 0, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i % 40000)};
        // every address but 10.20.1.1, which the find below adds
        std::uint32_t host = 0x0A140000u + static_cast<std::uint32_t>(i == 257 ? 0xFFFF : i);
        rows.Append(IPToStr(HostToNet(host)), MacToColonStr(mac));
    }
    table.SortByAddress();
    double marks = Millis([&] { table.MarkDuplicates(); });
    table.SaveAll();

    TMemoryRows loaded;
    TAddressTable loader(loaded);
    loader.SetDirectory(dir);
    double load = Millis([&] { loader.LoadArpList(); });

    const std::uint8_t mac[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    double merge = Millis([&] { loader.MergeFound(0x0A140101u, mac); });

    std::printf("rows                       %d\n", loaded.Count());
    std::printf("MarkDuplicates             %8.1f ms\n", marks);
    std::printf("LoadArpList                %8.1f ms\n", load);
    std::printf("MergeFound (new) + SaveAll %8.1f ms\n", merge);
    std::filesystem::remove_all(dir);
    return 0;
}
