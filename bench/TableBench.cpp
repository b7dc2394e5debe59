// Times the table operations on a large table (a whole /16): duplicate marks, loading the list
// file, and one new find with its three file writes. Then 10,000 finds merged into a table of a
// million rows with the background writer saving beside them, as a scan of the window does: the
// main thread's time per find. Then the peak memory of loading a hand-kept list of a million
// rows (measured in a process of its own, Linux only).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "AddressTable.h"
#include "SaveWriter.h"
#include "UTypes.h"

namespace {

template <typename F>
double Millis(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    }
    return -1;
}

#ifdef __linux__
// The list as an administrator might keep it: shuffled, LF endings, blanks around the bar,
// every thousandth MAC repeated.
void WriteMillionRowList(const std::string& path) {
    std::vector<std::uint32_t> order(1000000);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    std::ofstream out(path, std::ios::binary);
    out << "; a million rows\n";
    for (std::uint32_t i : order) {
        std::uint32_t m = i % 1000 == 999 ? i - 1 : i;
        std::uint8_t mac[6] = {0x02,
                               0,
                               0,
                               static_cast<std::uint8_t>(m >> 16),
                               static_cast<std::uint8_t>(m >> 8),
                               static_cast<std::uint8_t>(m)};
        out << IPToStr(HostToNet(0xC6120000u + i)) << " | " << MacToColonStr(mac) << "\n";
    }
}
#endif

// Run as "table_bench --load-peak DIR": loads DIR/ArpList.ini into rows in memory and prints
// the growth of the resident memory at its peak, and what the loaded rows keep.
int LoadPeak(const std::string& dir) {
    const auto size = static_cast<double>(std::filesystem::file_size(dir + "/ArpList.ini"));
    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir);
    const long before = StatusKb("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    bool loaded = false;
    const double millis = Millis([&] { loaded = table.LoadArpList() == TLoadStatus::Loaded; });
    const long peak = StatusKb("VmHWM:") - before;
    const long kept = StatusKb("VmRSS:") - before;
    std::printf("list of %d rows            %8.1f MiB%s\n", rows.Count(), size / (1 << 20),
                loaded ? "" : " (NOT LOADED)");
    std::printf("LoadArpList (a million)    %8.1f ms\n", millis);
    std::printf("LoadArpList peak memory    %8.1f MiB = %.2f x the file (at most 5)\n",
                peak / 1024.0, peak * 1024.0 / size);
    std::printf("  kept by the loaded rows  %8.1f MiB = %.2f x the file\n", kept / 1024.0,
                kept * 1024.0 / size);
    return loaded ? 0 : 1;
}

// The main thread's queue of the writer's reports, served between finds.
class TPolledDispatcher : public TDispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void Queue(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    void Serve() {
        std::vector<std::function<void()>> due;
        {
            std::lock_guard lock(mutex_);
            due.swap(queue_);
        }
        for (auto& fn : due) fn();
    }

  private:
    std::mutex mutex_;
    std::vector<std::function<void()>> queue_;
};

// A million rows at the even addresses from 10.0.0.0; the finds fall between them at random,
// a tenth of them on a row already there with another MAC.
void MillionRowFinds(const std::string& dir) {
    const int kRows = 1000000, kFinds = 10000;
    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir);
    table.SetLocalIPSource([] { return std::string("10.0.0.1"); });
    rows.Reserve(kRows + kFinds);
    for (int i = 0; i < kRows; ++i) {
        const auto m = static_cast<std::uint32_t>(i);
        std::uint8_t mac[6] = {0x02,
                               0,
                               0,
                               static_cast<std::uint8_t>(m >> 16),
                               static_cast<std::uint8_t>(m >> 8),
                               static_cast<std::uint8_t>(m)};
        rows.Append(IPToStr(HostToNet(0x0A000000u + 2 * m)), MacToColonStr(mac));
    }
    table.SortByAddress();
    table.MarkDuplicates();

    auto dispatcher = std::make_shared<TPolledDispatcher>();
    int saves = 0;
    double snapshots = 0;
    TSaveWriter writer(
        [&] {
            ++saves;
            std::function<TSaveReport()> save;
            snapshots += Millis([&] { save = table.Snapshot(); });
            return save;
        },
        dispatcher);
    std::mt19937 rng(3);
    std::vector<double> each;
    each.reserve(kFinds);
    const double loop = Millis([&] {
        for (int i = 0; i < kFinds; ++i) {
            const std::uint32_t at = static_cast<std::uint32_t>(rng() % kRows);
            const std::uint32_t ip = 0x0A000000u + 2 * at + (i % 10 == 0 ? 0 : 1);
            const std::uint8_t mac[6] = {
                0x02, 0xAA, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
            each.push_back(Millis([&] {
                table.MergeFound(ip, mac);
                writer.Changed();
                dispatcher->Serve();
            }));
        }
    });
    const int savesDuringFinds = saves;
    const double flush = Millis([&] { writer.Flush(); });
    const double firstFind = each.front();
    std::sort(each.begin(), each.end());
    std::printf("finds into a million rows  %d finds, %d rows at the end\n", kFinds, rows.Count());
    std::printf("  main thread per find     %8.3f ms mean (at most 1), median %.3f, max %.1f\n",
                loop / kFinds, each[each.size() / 2], each.back());
    std::printf("  of it taking snapshots   %8.3f ms per find (%d saves during the finds)\n",
                snapshots / kFinds, savesDuringFinds);
    std::printf(
        "  the first find           %8.1f ms (indexes the MACs, takes the first snapshot)\n",
        firstFind);
    std::printf("  last save at the end     %8.1f ms (waited for, as on closing)\n", flush);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--load-peak") == 0) return LoadPeak(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--finds") == 0) {
        MillionRowFinds(argv[2]);
        return 0;
    }
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
    double merge = Millis([&] {
        loader.MergeFound(0x0A140101u, mac);
        loader.SaveAll();
    });

    std::printf("rows                       %d\n", loaded.Count());
    std::printf("MarkDuplicates             %8.1f ms\n", marks);
    std::printf("LoadArpList                %8.1f ms\n", load);
    std::printf("MergeFound (new) + SaveAll %8.1f ms\n", merge);
    std::filesystem::remove_all(dir);

    std::filesystem::create_directories(dir);
    MillionRowFinds(dir);
    std::filesystem::remove_all(dir);

#ifdef __linux__
    // A fresh process, so that memory this one has used and freed does not hide the peak.
    std::filesystem::create_directories(dir);
    WriteMillionRowList(dir + "/ArpList.ini");
    const std::string command = std::string("\"") + argv[0] + "\" --load-peak \"" + dir + "\"";
    std::fflush(stdout);
    const int status = std::system(command.c_str());
    std::filesystem::remove_all(dir);
    return status == 0 ? 0 : 1;
#else
    (void)argv;
    return 0;
#endif
}
