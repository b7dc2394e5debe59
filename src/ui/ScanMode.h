// The scan without a window (quorvel --scan): the window's start, table, probe, worker and files,
// driven from the command line. Each find goes to stdout as "IP<TAB>MAC", the end report to
// stderr. No toolkit object is made, so it runs where there is no display.
#pragma once

#include <optional>
#include <string>

#include "ScanRange.h"

// What goes to stdout: one IP<TAB>MAC line per find, or JSON Lines.
enum class TScanFormat { Tsv, Json };

struct TScanRequest {
    std::optional<TScanRange> Range;  // none: the range the window proposes
    std::string Folder;               // the three files' folder; empty: the current one
    TScanFormat Format = TScanFormat::Tsv;
    bool ExitOnChange = false;  // kScanChanged for a changed MAC or a contested address
    bool operator==(const TScanRequest&) const = default;
};

// The scan mode's exit statuses.
enum TScanExit : int {
    kScanDone = 0,          // scanned (to the end or until stopped) and saved
    kScanUnsaved = 1,       // a file not written, or the list unreadable (nothing written then)
    kScanBadArguments = 2,  // with a message on stderr
    kScanCouldNotProbe = 3,
    kScanChanged = 4,  // with --exit-on-change: scanned and saved, but a MAC changed or was
                       // contested
    // stdout was closed (its reader gone): the scan stopped there, as on SIGTERM, and saved
    // every find, printed or not
    kScanOutputCut = 5,
};

int ScanExitStatus(bool couldNotProbe, bool listUnreadable, bool savesFailed, bool outputCut);

// Scans until the range ends, SIGINT/SIGTERM/SIGHUP (Ctrl+C or the console's close on Windows)
// asks it to stop after the address in progress, or stdout is closed; returns the exit status.
int RunScanMode(const TScanRequest& request);
