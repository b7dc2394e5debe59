// The program's own command line: --help and --version answered before any window exists, the
// toolkit's own options (-platform, -display, -style, ...) left for the application object.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct TCommandLineAnswer {
    bool Run = true;  // false: the program ends at once with ExitCode
    int ExitCode = 0;
    QString Out;  // for standard output
    QString Err;  // for standard error
};

// Reads the arguments, the program's own name first.
TCommandLineAnswer ReadCommandLine(const QStringList& arguments);

// Reads argv and prints the answer; gives the exit code when the program ends here.
std::optional<int> AnswerCommandLine(int argc, char** argv);
