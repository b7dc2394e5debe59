#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

namespace {

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
            QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(name, why)};
}

}  // namespace

TCommandLineAnswer ReadCommandLine(const QStringList& arguments) {
    const QString name =
        arguments.isEmpty() ? QStringLiteral("quorvel") : QFileInfo(arguments.first()).fileName();
    QCommandLineParser parser;
    // Single-dash words are the toolkit's long options (-platform), not bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Finds the MAC address behind each IPv4 address of a range on the local network.\n"
        "The table (ArpList.ini) and the scripts made from it (BindArp.bat, BindDhcp.bat)\n"
        "are kept in the current directory."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(help);
    parser.addOption(version);
    AddToolkitOptions(parser);

    if (!parser.parse(arguments)) return Refuse(name, parser.errorText());
    if (parser.isSet(help)) {
        // The parser names the program by the application object's arguments, which come later.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: %1 [options]").arg(name));
        return {false, 0, text, QString()};
    }
    if (parser.isSet(version))
        return {false, 0, QStringLiteral("%1 %2\n").arg(name, QStringLiteral(QUORVEL_VERSION)),
                QString()};
    if (!parser.positionalArguments().isEmpty())
        return Refuse(
            name,
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    return {};
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const TCommandLineAnswer answer = ReadCommandLine(arguments);
    std::fputs(answer.Out.toLocal8Bit().constData(), stdout);
    std::fputs(answer.Err.toLocal8Bit().constData(), stderr);
    if (answer.Run) return std::nullopt;
    return answer.ExitCode;
}
