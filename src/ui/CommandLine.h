// The program's own command line: --help and --version answered before any window exists,
// --scan [RANGE] and --folder DIR read for the scan without a window, the toolkit's own options
// (-platform, -display, -style, ...) left for the application object.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "ScanMode.h"
#include "Vendor.h"

// --version's second line: the vendor registry's date, or that there is none.
QString RegistryLine(const TVendorRegistry& registry);

struct TCommandLineAnswer {
    bool Run = true;  // false: the program ends at once with ExitCode
    int ExitCode = 0;
    QString Out;                       // for standard output
    QString Err;                       // for standard error
    std::optional<TScanRequest> Scan;  // --scan: no window
};

// Reads the arguments, the program's own name first.
TCommandLineAnswer ReadCommandLine(const QStringList& arguments);

// Reads argv and prints what the answer has to say.
TCommandLineAnswer AnswerCommandLine(int argc, char** argv);
