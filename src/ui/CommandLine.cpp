#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <shellapi.h>
#endif

#include "NpcapState.h"
#include "Vendor.h"

namespace {

// A path as the file code takes it: UTF-8 on Windows (its wide-character calls take any name),
// elsewhere the bytes given.
std::string PathText(const QString& path) {
#ifdef _WIN32
    return path.toStdString();
#else
    return path.toLocal8Bit().toStdString();
#endif
}

// A usage error, as the shell's tools report it.
constexpr int kUsageExit = 2;

// Options the toolkit reads and removes from argv itself when the application object is made.
void AddToolkitOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {
        "platform",      "platformpluginpath", "platformtheme", "plugin",
        "qmljsdebugger", "qwindowgeometry",    "geometry",      "qwindowtitle",
        "title",         "qwindowicon",        "icon",          "session",
        "style",         "stylesheet",         "display",       "name",
        "visual"};
    const char* const flags[] = {"reverse", "widgetcount", "sync",
                                 "nograb",  "dograb",      "testability"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

TCommandLineAnswer Refuse(const QString& name, const QString& why) {
    return {false, kUsageExit, QString(),
            QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(name, why),
            std::nullopt};
}

TCommandLineAnswer ReadScan(const QString& name, const QStringList& rangeArgs,
                            const QString& folder, const QString& format, bool exitOnChange) {
    TScanRequest request;
    request.Folder = PathText(folder);
    request.ExitOnChange = exitOnChange;
    if (format == QLatin1String("json")) {
        request.Format = TScanFormat::Json;
    } else if (format != QLatin1String("tsv")) {
        return Refuse(name, QStringLiteral("--format takes tsv or json, not '%1'.").arg(format));
    }
    if (!rangeArgs.isEmpty()) {
        std::vector<std::string> args;
        for (const QString& a : rangeArgs) args.push_back(a.toLocal8Bit().toStdString());
        std::string error;
        request.Range = ReadScanRange(args, error);
        if (!request.Range) return Refuse(name, QString::fromLocal8Bit(error.c_str()) + '.');
    }
    TCommandLineAnswer answer;
    answer.Scan = request;
    return answer;
}

// On Windows, what the capture driver's state means for the scans, read now.
QString NpcapLine() {
#ifdef _WIN32
    return QStringLiteral("\n\n") + QString::fromStdString(NpcapHelp(ReadNpcapState()));
#else
    return {};
#endif
}

}  // namespace

QString RegistryLine(const TVendorRegistry& registry) {
    if (registry.Empty()) return QStringLiteral("IEEE registry: none found (no vendor names)");
    return QStringLiteral("IEEE registry: %1").arg(QString::fromStdString(registry.Date()));
}

TCommandLineAnswer ReadCommandLine(const QStringList& arguments) {
    const QString name =
        arguments.isEmpty() ? QStringLiteral("quorvel") : QFileInfo(arguments.first()).fileName();
    QCommandLineParser parser;
    // Single-dash words are the toolkit's long options (-platform), not bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QString description = QStringLiteral(
        "Finds the MAC address behind each IPv4 address of a range on the local network.\n"
        "The table (ArpList.ini) and the scripts made from it (BindArp.bat, BindDhcp.bat)\n"
        "are kept in the current directory.\n"
        "\n"
        "With --scan it scans without a window: RANGE is FIRST-LAST, FIRST LAST or a block\n"
        "such as 198.18.0.0/24 (all its addresses); without RANGE, the local /24 network\n"
        "from .1 to .255, as the window proposes. Each host found is written to standard\n"
        "output as IP<TAB>MAC and saved to the three files at once; what the administrator\n"
        "must hear of (MACs that changed, addresses answered by several MACs, files not\n"
        "written) goes to standard error at the end. Ctrl+C (SIGINT, SIGTERM) stops after\n"
        "the address in progress. Exit status: 0 scanned and saved, 1 a file not written or\n"
        "the list unreadable, 2 bad arguments, 3 the scan could not probe, 4 (with\n"
        "--exit-on-change) scanned and saved, but a MAC changed or was contested.");
    parser.setApplicationDescription(description);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    const QCommandLineOption scan(QStringLiteral("scan"),
                                  QStringLiteral("Scans RANGE without a window, then ends."));
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QStringLiteral("Keeps the three files in <dir> instead of the current directory."),
        QStringLiteral("dir"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("With --scan: what goes to standard output, tsv (IP<TAB>MAC lines, the "
                       "default) or json (JSON Lines: one object per host found, then one "
                       "summing the scan)."),
        QStringLiteral("tsv|json"), QStringLiteral("tsv"));
    const QCommandLineOption exitOnChange(
        QStringLiteral("exit-on-change"),
        QStringLiteral(
            "With --scan: exit with status 4 when the scan ran to its end and saved but a "
            "MAC changed or several MACs answered for an address."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(scan);
    parser.addOption(folder);
    parser.addOption(format);
    parser.addOption(exitOnChange);
    parser.addPositionalArgument(QStringLiteral("RANGE"),
                                 QStringLiteral("With --scan: the addresses to scan."),
                                 QStringLiteral("[RANGE]"));
    AddToolkitOptions(parser);

    if (!parser.parse(arguments)) return Refuse(name, parser.errorText());
    if (parser.isSet(help)) {
        // The parser names the program by the application object's arguments, which come later.
        // Npcap's state is read for the help alone, not at every start.
        parser.setApplicationDescription(description + NpcapLine());
        QString text = parser.helpText();
        text.replace(
            0, text.indexOf(QLatin1Char('\n')),
            QStringLiteral(
                "Usage: %1 [options]\n       %1 --scan [--folder <dir>] [--format tsv|json] "
                "[--exit-on-change] [RANGE]")
                .arg(name));
        return {false, 0, text, QString(), std::nullopt};
    }
    if (parser.isSet(version)) {
        return {false, 0,
                QStringLiteral("%1 %2\n%3\n")
                    .arg(name, QStringLiteral(QUORVEL_VERSION), RegistryLine(Vendors())),
                QString(), std::nullopt};
    }
    if (parser.isSet(scan))
        return ReadScan(name, parser.positionalArguments(), parser.value(folder),
                        parser.value(format), parser.isSet(exitOnChange));
    for (const QCommandLineOption* only : {&folder, &format, &exitOnChange})
        if (parser.isSet(*only))
            return Refuse(name,
                          QStringLiteral("--%1 goes with --scan.").arg(only->names().first()));
    if (!parser.positionalArguments().isEmpty())
        return Refuse(
            name,
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    return {};
}

TCommandLineAnswer AnswerCommandLine(int argc, char** argv) {
    QStringList arguments;
#ifdef _WIN32
    // The wide-character command line holds every name; argv only what the code page holds.
    (void)argc;
    (void)argv;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) arguments << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
    }
#else
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
#endif
    TCommandLineAnswer answer = ReadCommandLine(arguments);
    std::fputs(answer.Out.toLocal8Bit().constData(), stdout);
    std::fputs(answer.Err.toLocal8Bit().constData(), stderr);
    return answer;
}
