#include "ScanMode.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "AddressTable.h"
#include "ArpProbe.h"
#include "LocalIP.h"
#include "QueueDispatcher.h"
#include "SaveWriter.h"
#include "ScanIPThread.h"
#include "ScanOutput.h"
#include "ScanReport.h"
#include "StopSignals.h"
#include "UTypes.h"
#include "Vendor.h"

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

// Addresses done and hosts found, on one line of stderr rewritten in place; only for a person
// at a terminal, never into a log.
class TProgress {
  public:
    explicit TProgress(std::uint64_t total) : total_(total), shown_(StderrIsTerminal()) {}

    void Step(bool found) {
        ++done_;
        if (found) ++found_;
        if (!shown_) return;
        line_ = "已扫描 " + std::to_string(done_) + "/" + std::to_string(total_) + "，找到 " +
                std::to_string(found_) + " 台主机";
        std::fprintf(stderr, "\r%s", line_.c_str());
    }
    void Clear() {
        if (line_.empty()) return;
        std::fprintf(stderr, "\r%s\r", std::string(line_.size(), ' ').c_str());
        line_.clear();
    }

  private:
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t found_ = 0;
    bool shown_;
    std::string line_;
};

int BadArguments(const std::string& why) {
    std::fprintf(stderr, "quorvel: %s\n", why.c_str());
    return kScanBadArguments;
}

}  // namespace

int ScanExitStatus(bool couldNotProbe, bool listUnreadable, bool savesFailed) {
    if (couldNotProbe) return kScanCouldNotProbe;
    if (listUnreadable || savesFailed) return kScanUnsaved;
    return kScanDone;
}

int RunScanMode(const TScanRequest& request) {
#ifdef _WIN32
    // The report is UTF-8 text.
    SetConsoleOutputCP(CP_UTF8);
#endif
    std::optional<TScanRange> range = request.Range;
    if (!range) range = ProposedRange(GetLocalIP());
    if (!range) return BadArguments("no local IPv4 address to propose a range from: name a RANGE");
    std::error_code ec;
    if (!request.Folder.empty() && !std::filesystem::is_directory(request.Folder, ec))
        return BadArguments("'" + request.Folder + "' is not a folder");

    // Loaded as the window loads it: an unreadable list is told and never written over.
    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(request.Folder);
    ShowTrayIcon = true;
    const bool listUnreadable = table.LoadArpList() == TLoadStatus::Unreadable;
    if (listUnreadable) std::fprintf(stderr, "%s\n", kUnreadableListText);
    const auto began = std::chrono::steady_clock::now();
    TScanOutput output(request.Format, rows, *range);
    const char* probeMethod = "";

    auto dispatcher = std::make_shared<TQueueDispatcher>();
    TScanIPThread* thread = nullptr;
    int stops = 0;
    // A first stop ends the scan after the address in progress, as the stop button does; a
    // second one wakes that probe too.
    TStopSignals signals([dispatcher, &thread, &stops] {
        dispatcher->Queue([&thread, &stops] {
            if (thread == nullptr) return;
            if (++stops == 1) {
                thread->Terminate();
            } else {
                thread->Cancel();
            }
        });
    });
    // Only once the stop signals are blocked: a thread started before would take them.
    StartLoadingVendors();

    TScanReport report;
    TProgress progress(std::uint64_t{range->Last} - range->First + 1);
    // The files are written beside the scan, as the window writes them; the scan is done once
    // its last save has completed.
    TSaveWriter writer([&table] { return table.Snapshot(); }, dispatcher);
    bool changed = false;
    bool ended = false;
    std::unique_ptr<TArpProbe> probe = CreateArpProbe();
    const TArpProbe* probeSeen = probe.get();  // alive until OnTerminate has run
    thread = new TScanIPThread(range->First, range->Last, true, std::move(probe), dispatcher);
    thread->OnScan = [&] {
        const std::string line = output.Probed(CurrentIP, Found, MacAddr);
        if (Found) {
            report.NoteFind(table, CurrentIP, MacAddr);
            table.MergeFound(CurrentIP, MacAddr);
            changed = true;
            writer.Changed();
            progress.Clear();
            std::fputs(line.c_str(), stdout);
            std::fflush(stdout);
        }
        progress.Step(Found);
    };
    thread->OnTerminate = [&] {
        probeMethod = probeSeen->Method();
        std::fputs(output.Contested(thread->Contested()).c_str(), stdout);
        report.NoteContested(thread->Contested());
        report.NoteFault(thread->Fault());
        thread = nullptr;
        writer.AfterSave([&](const TSaveReport& saves) {
            // The last save of the scan decides: a file it wrote holds every row.
            if (changed) report.NoteSaves(saves);
            ended = true;
        });
    };
    thread->Start();
    while (!dispatcher->RunUntil([&] { return ended; }, std::chrono::hours(1))) {
    }
    progress.Clear();

    report.SetVendors(&Vendors());
    const std::string text = report.Text();
    if (!text.empty()) std::fprintf(stderr, "%s\n\n", text.c_str());
    // A scan that could not ask has no new or missing hosts to tell of.
    if (!report.CouldNotProbe()) std::fprintf(stderr, "%s\n", output.Text(report).c_str());
    int status = ScanExitStatus(report.CouldNotProbe(), listUnreadable, report.SavesFailed());
    // Only a scan that ran to its end: a stopped one has not looked at every address.
    if (status == kScanDone && request.ExitOnChange && stops == 0 &&
        (!report.Changes().empty() || report.HasContested()))
        status = kScanChanged;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    std::fputs(output
                   .Summary(report, {report.Saves(), listUnreadable, probeMethod, took.count(),
                                     stops > 0, status})
                   .c_str(),
               stdout);
    std::fflush(stdout);
    return status;
}
