#include "ScanMode.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
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
#include "TextFile.h"
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

// A closed stdout (a reader gone: head, a dropped ssh session) must end the printing, not the
// process between a find's merge and its save: the failed write says so instead.
void IgnoreBrokenPipe() {
#ifndef _WIN32
    signal(SIGPIPE, SIG_IGN);
#endif
}

// One find on stdout; false once stdout takes no more.
// False once stdout is closed (its reader gone: EPIPE).
bool PrintLine(const std::string& line) {
    return std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

int BadArguments(const std::string& why) {
    std::fprintf(stderr, "quorvel: %s\n", why.c_str());
    return kScanBadArguments;
}

// The files' folder, opened once for the whole run: a name swapped for a link after the start
// changes nothing. Nothing when the table may go on; else the exit status, said why.
std::optional<int> UseFolder(const std::string& path, TAddressTable& table, TFolder& folder) {
    if (path.empty()) return std::nullopt;
#ifdef _WIN32
    (void)folder;
    std::error_code ec;
    const std::u8string utf8(path.begin(), path.end());  // as the file code takes it
    if (!std::filesystem::is_directory(std::filesystem::path(utf8), ec))
        return BadArguments("'" + path + "' is not a folder");
    table.SetDirectory(path);
#else
    const TFileResult opened = OpenFolder(path, folder);
    if (opened.Fault == TFileFault::LinkRefused) {
        std::fprintf(stderr,
                     "quorvel: the folder '%s' is refused: it is reached through a link that "
                     "another user could have aimed at any folder\n",
                     path.c_str());
        return kScanUnsaved;
    }
    if (opened.Error == ENOENT || opened.Error == ENOTDIR)
        return BadArguments("'" + path + "' is not a folder");
    if (!opened) {
        std::fprintf(stderr, "quorvel: the folder '%s' cannot be opened: %s\n", path.c_str(),
                     SystemErrorText(opened.Error).c_str());
        return kScanUnsaved;
    }
    table.SetFolder(folder.Fd());
#endif
    return std::nullopt;
}

}  // namespace

int ScanExitStatus(bool couldNotProbe, bool listUnreadable, bool savesFailed, bool outputCut) {
    if (couldNotProbe) return kScanCouldNotProbe;
    if (listUnreadable || savesFailed) return kScanUnsaved;
    if (outputCut) return kScanOutputCut;
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

    // Loaded as the window loads it: an unreadable list is told and never written over.
    TMemoryRows rows;
    TAddressTable table(rows);
    TFolder folder;
    if (std::optional<int> refused = UseFolder(request.Folder, table, folder)) return *refused;
    ShowTrayIcon = true;
    const bool listUnreadable = table.LoadArpList() == TLoadStatus::Unreadable;
    if (listUnreadable) std::fprintf(stderr, "%s\n", kUnreadableListText);
    const auto began = std::chrono::steady_clock::now();
    TScanOutput output(request.Format, rows, *range);
    const char* probeMethod = "";

    IgnoreBrokenPipe();
    auto dispatcher = std::make_shared<TQueueDispatcher>();
    TScanIPThread* thread = nullptr;
    int stops = 0;
    // A first stop ends the scan after the address in progress, as the stop button does; a
    // second one wakes that probe too.
    auto stop = [&thread, &stops] {
        if (thread == nullptr) return;
        if (++stops == 1) {
            thread->Terminate();
        } else {
            thread->Cancel();
        }
    };
    TStopSignals signals([dispatcher, &stop] { dispatcher->Queue(stop); });
    // Only once the stop signals are blocked: a thread started before would take them.
    StartLoadingVendors();

    TScanReport report;
    TProgress progress(std::uint64_t{range->Last} - range->First + 1);
    // The files are written beside the scan, as the window writes them; the scan is done once
    // its last save has completed.
    TSaveWriter writer([&table] { return table.Snapshot(); }, dispatcher);
    bool changed = false;
    bool ended = false;
    bool outputCut = false;
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
            if (!outputCut && !PrintLine(line)) {
                outputCut = true;
                if (stops == 0) stop();
            }
        }
        progress.Step(Found);
    };
    thread->OnTerminate = [&] {
        probeMethod = probeSeen->Method();
        if (!outputCut) PrintLine(output.Contested(thread->Contested()));
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
    // A save whose report nobody waited for is the newest: it decides too.
    if (const std::optional<TSaveReport> unheard = writer.Flush()) report.NoteSaves(*unheard);
    progress.Clear();

    report.SetVendors(&Vendors());
    const std::string text = report.Text();
    if (!text.empty()) std::fprintf(stderr, "%s\n\n", text.c_str());
    // A scan that could not ask has no new or missing hosts to tell of.
    if (!report.CouldNotProbe()) std::fprintf(stderr, "%s\n", output.Text(report).c_str());
    if (outputCut)
        std::fprintf(stderr, "quorvel: standard output was closed: the scan stopped there\n");
    int status =
        ScanExitStatus(report.CouldNotProbe(), listUnreadable, report.SavesFailed(), outputCut);
    // Only a scan that ran to its end: a stopped one has not looked at every address.
    if (status == kScanDone && request.ExitOnChange && stops == 0 &&
        (!report.Changes().empty() || report.HasContested()))
        status = kScanChanged;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    if (!outputCut)
        PrintLine(output.Summary(report, {report.Saves(), listUnreadable, probeMethod, took.count(),
                                          stops > 0, status}));
    return status;
}
