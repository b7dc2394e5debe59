// Times one scan by our engine, headless, as the window runs it: the worker with the real probe,
// on the main thread a hand-off that merges each find into the table, and the background writer
// saving the three files (into a temporary folder); the scan ends once its last save has
// completed. Run it inside the network namespace to be scanned.
//
//   scan_bench raw|neigh|auto FIRST LAST     (on Windows: capture|auto FIRST LAST)
//
// Prints one line: back-end, addresses, wall seconds, hosts found, rows in the saved list, the
// longest hand-off on the main thread, the mean time per answering
// and per silent address (time between hand-offs: the probe's own time only while scanning
// strictly one address at a time), and the peak resident memory.
#ifdef _WIN32
#include <windows.h>
// windows.h before psapi.h
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "AddressTable.h"
#include "QueueDispatcher.h"
#include "SaveWriter.h"
#include "ScanIPThread.h"
#include "UTypes.h"
#ifdef _WIN32
#include "ArpProbeRaw.h"
#include "FrameLinkCapture.h"
#else
#include "ArpProbeLinux.h"
#endif

namespace {

using TTime = std::chrono::steady_clock::time_point;

double Seconds(TTime from, TTime to) { return std::chrono::duration<double>(to - from).count(); }

std::unique_ptr<TArpProbe> MakeProbe(const std::string& kind, std::uint32_t first,
                                     std::uint32_t last) {
#ifdef _WIN32
    if (kind == "capture") {
        auto link = OpenCaptureLink(first, last);
        return link ? CreateRawArpProbeOn(std::move(link)) : nullptr;
    }
#else
    (void)first, (void)last;
    if (kind == "raw") return CreateRawArpProbe();
    if (kind == "neigh") return CreateNeighArpProbe();
#endif
    return CreateArpProbe();
}

// A new empty folder for the three files; empty when none could be made.
std::string MakeTempDir() {
#ifdef _WIN32
    auto dir = std::filesystem::temp_directory_path() /
               ("quorvel-scan-bench-" + std::to_string(GetCurrentProcessId()));
    std::error_code ec;
    return std::filesystem::create_directory(dir, ec) ? dir.string() : std::string();
#else
    char dirTemplate[] = "/tmp/quorvel-scan-bench-XXXXXX";
    return mkdtemp(dirTemplate) == nullptr ? std::string() : std::string(dirTemplate);
#endif
}

long PeakMemoryKb() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS c{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) return 0;
    return static_cast<long>(c.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: scan_bench raw|neigh|capture|auto FIRST LAST\n");
        return 2;
    }
    std::uint32_t first = NetToHost(StrToIP(argv[2]));
    std::uint32_t last = NetToHost(StrToIP(argv[3]));
    auto probe = MakeProbe(argv[1], first, last);
    if (!probe || first == 0 || last < first) {
        std::fprintf(stderr, "scan_bench: no %s probe here, or a bad range\n", argv[1]);
        return 2;
    }
    const std::string dir = MakeTempDir();
    if (dir.empty()) return 2;

    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir);
    table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    TSaveWriter writer([&table] { return table.Snapshot(); }, dispatcher);

    int found = 0, answering = 0, silent = 0;
    double answeringTime = 0, silentTime = 0, longestHandOff = 0;
    std::string startField;  // what the window's start address field shows
    bool ended = false, ordered = true;
    std::uint32_t expect = first;
    TTime start = std::chrono::steady_clock::now(), previous = start;

    auto* worker = new TScanIPThread(first, last, true, std::move(probe), dispatcher);
    worker->OnScan = [&] {
        TTime now = std::chrono::steady_clock::now();
        ordered = ordered && CurrentIP == expect++;
        if (Found) {
            ++found;
            table.MergeFound(CurrentIP, MacAddr);
            writer.Changed();
            ++answering;
            answeringTime += Seconds(previous, now);
        } else {
            ++silent;
            silentTime += Seconds(previous, now);
        }
        if (CurrentIP != last) startField = IPToStr(HostToNet(CurrentIP + 1));
        previous = now;
        longestHandOff = std::max(longestHandOff, Seconds(now, std::chrono::steady_clock::now()));
    };
    worker->OnTerminate = [&] { writer.AfterSave([&](const TSaveReport&) { ended = true; }); };
    worker->Start();
    dispatcher->RunUntil([&] { return ended; }, std::chrono::hours(2));
    double wall = Seconds(start, std::chrono::steady_clock::now());

    int savedRows = 0;
    {
        std::ifstream list(dir + "/ArpList.ini");  // closed before the folder goes (Windows)
        for (std::string line; std::getline(list, line);)
            savedRows += line.find('|') != std::string::npos;
    }

    std::printf(
        "backend=%s addresses=%u wall_s=%.3f found=%d rows=%d saved_rows=%d ordered=%s "
        "handoff_max_ms=%.2f answering_ms=%.1f silent_ms=%.1f maxrss_kb=%ld\n",
        argv[1], last - first + 1, wall, found, rows.Count(), savedRows, ordered ? "yes" : "NO",
        1000 * longestHandOff, answering ? 1000 * answeringTime / answering : 0.0,
        silent ? 1000 * silentTime / silent : 0.0, PeakMemoryKb());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return ordered && ended && savedRows == rows.Count() ? 0 : 1;
}
