// Errors escaping event handlers end in one message box and the program goes on; what a
// secure-execution start keeps for the toolkit.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../support/RootOnly.h"
#endif
#include "Application.h"
#include "CommandLine.h"
#include "Start.h"
#include "UTypes.h"

namespace {

const QEvent::Type kThrowEvent = QEvent::Type(QEvent::User + 1);

// Throws what it was given from its event handler.
class TThrowingObject : public QObject {
  public:
    enum TKind { Convert, Foreign };
    explicit TThrowingObject(TKind kind) : FKind(kind) {}
    int Handled = 0;

  protected:
    bool event(QEvent* e) override {
        if (e->type() != kThrowEvent) return QObject::event(e);
        ++Handled;
        if (FKind == Convert) throw EConvertError("abc");
        throw 42;
    }

  private:
    TKind FKind;
};

class TThrowingWidget : public QWidget {
  protected:
    bool event(QEvent* e) override {
        if (e->type() == kThrowEvent) StrToInt("x y");
        return QWidget::event(e);
    }
};

// Records every report and the thread it was shown on.
class ApplicationTest : public testing::Test {
  protected:
    void SetUp() override {
        TApplication::SetErrorBox([this](const QString& text) {
            Errors << text;
            Threads << QThread::currentThread();
        });
    }
    void TearDown() override { TApplication::SetErrorBox({}); }

    QStringList Errors;
    QList<QThread*> Threads;
};

TEST_F(ApplicationTest, ErrorFromAnEventHandlerIsReportedAndTheEventCountsAsHandled) {
    TThrowingObject object(TThrowingObject::Convert);
    QEvent event(kThrowEvent);
    EXPECT_TRUE(QCoreApplication::sendEvent(&object, &event));
    EXPECT_EQ(Errors, QStringList{"'abc' is not a valid integer value"});
}

TEST_F(ApplicationTest, EventLoopGoesOnAfterAnError) {
    TThrowingObject object(TThrowingObject::Convert);
    QCoreApplication::postEvent(&object, new QEvent(kThrowEvent));
    QCoreApplication::postEvent(&object, new QEvent(kThrowEvent));
    QCoreApplication::processEvents();
    EXPECT_EQ(object.Handled, 2);
    EXPECT_EQ(Errors.size(), 2);
}

TEST_F(ApplicationTest, ErrorFromAWidgetsHandlerIsReported) {
    TThrowingWidget widget;
    widget.show();
    QCoreApplication::postEvent(&widget, new QEvent(kThrowEvent));
    QCoreApplication::processEvents();
    EXPECT_EQ(Errors, QStringList{"'x y' is not a valid integer value"});
    EXPECT_TRUE(widget.isVisible());
}

TEST_F(ApplicationTest, ErrorsWithoutATextGetAGenericOne) {
    TThrowingObject object(TThrowingObject::Foreign);
    QEvent event(kThrowEvent);
    QCoreApplication::sendEvent(&object, &event);
    EXPECT_EQ(Errors, QStringList{"Unknown error"});
}

TEST_F(ApplicationTest, GuardedHandlerReportsInsteadOfThrowing) {
    static_assert(noexcept(Guarded([] {})), "an error never leaves Guarded");
    int ran = 0;
    Guarded([&ran] {
        ++ran;
        throw std::runtime_error("disk full");
    });
    Guarded([&ran] { ++ran; });  // a handler that ends well reports nothing
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(Errors, QStringList{"disk full"});
}

TEST_F(ApplicationTest, ErrorOnAnotherThreadIsShownOnTheMainThread) {
    QThread worker;
    worker.start();
    TThrowingObject object(TThrowingObject::Convert);
    object.moveToThread(&worker);
    QCoreApplication::postEvent(&object, new QEvent(kThrowEvent));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Errors.isEmpty(); }, 5000));
    QThread* main = QThread::currentThread();
    QMetaObject::invokeMethod(
        &object, [&] { object.moveToThread(main); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    ASSERT_EQ(Threads.size(), 1);
    EXPECT_EQ(Threads[0], main);
}

TEST(ApplicationMessageBox, ShowsTheErrorTextAndWaitsForOk) {
    QString shownText;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    Qt::TextFormat shownFormat = Qt::AutoText;
    // Answers the box from inside its own event loop.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shownText = box->text();
        shownIcon = box->icon();
        shownFormat = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(10);

    TThrowingObject object(TThrowingObject::Convert);
    QEvent event(kThrowEvent);
    QCoreApplication::sendEvent(&object, &event);

    EXPECT_EQ(shownText, "'abc' is not a valid integer value");
    EXPECT_EQ(shownIcon, QMessageBox::Critical);
    EXPECT_EQ(shownFormat, Qt::PlainText) << "the text may hold what a user pasted";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The command line is read before the application object exists; what ends the program there
// says so on the right stream with the right exit code, and the toolkit's own options pass.
struct TCommandLineCase {
    const char* Name;
    QStringList Arguments;
    bool Run;
    int ExitCode;
    QString Out;
    QString Err;
};

TEST(CommandLine, AnswersEachCaseBeforeAnyWindow) {
    const QString version =
        QStringLiteral("quorvel %1\n%2\n")
            .arg(QCoreApplication::applicationVersion(), RegistryLine(Vendors()));
    const QString tryHelp = QStringLiteral("Try 'quorvel --help' for more information.\n");
    const TCommandLineCase cases[] = {
        {"no options", {"quorvel"}, true, 0, "", ""},
        {"toolkit options",
         {"quorvel", "-platform", "offscreen", "-style=fusion", "--reverse", "-display", ":1"},
         true,
         0,
         "",
         ""},
        {"version", {"/usr/bin/quorvel", "--version"}, false, 0, version, ""},
        {"short version", {"quorvel", "-v"}, false, 0, version, ""},
        {"unknown option",
         {"quorvel", "--frobnicate"},
         false,
         2,
         "",
         "quorvel: Unknown option 'frobnicate'.\n" + tryHelp},
        {"argument",
         {"quorvel", "ArpList.ini"},
         false,
         2,
         "",
         "quorvel: Unexpected argument 'ArpList.ini'.\n" + tryHelp},
    };
    for (const TCommandLineCase& c : cases) {
        const TCommandLineAnswer answer = ReadCommandLine(c.Arguments);
        EXPECT_EQ(answer.Run, c.Run) << c.Name;
        EXPECT_EQ(answer.ExitCode, c.ExitCode) << c.Name;
        EXPECT_EQ(answer.Out, c.Out) << c.Name;
        EXPECT_EQ(answer.Err, c.Err) << c.Name;
    }
}

// --scan runs without a window: its range and folder are read here, a bad one ends the program
// with a usage error.
TEST(CommandLine, ScanTakesARangeAndAFolder) {
    const QString tryHelp = QStringLiteral("Try 'quorvel --help' for more information.\n");
    const std::uint32_t first = NetToHost(StrToIP("198.18.0.0"));
    struct TScanCase {
        const char* Name;
        QStringList Arguments;
        std::optional<TScanRequest> Scan;
        QString Err;
    } cases[] = {
        {"proposed range", {"quorvel", "--scan"}, TScanRequest{}, ""},
        {"block and folder",
         {"quorvel", "--scan", "--folder", "/srv/lan", "198.18.0.0/30"},
         TScanRequest{TScanRange{first, first + 3}, "/srv/lan"},
         ""},
        {"folder named in Chinese",
         {"quorvel", "--scan", "--folder", QString::fromUtf8("D:/扫描结果")},
         TScanRequest{std::nullopt, "D:/扫描结果"},
         ""},
        {"two ends",
         {"quorvel", "198.18.0.0", "--scan", "198.18.0.2"},
         TScanRequest{TScanRange{first, first + 2}, ""},
         ""},
        {"unreadable address",
         {"quorvel", "--scan", "198.18.0.300"},
         std::nullopt,
         "quorvel: '198.18.0.300' is not an IPv4 address.\n" + tryHelp},
        {"end below start",
         {"quorvel", "--scan", "198.18.0.9-198.18.0.1"},
         std::nullopt,
         "quorvel: the range ends at 198.18.0.1, below its start 198.18.0.9.\n" + tryHelp},
        {"folder without scan",
         {"quorvel", "--folder", "/srv/lan"},
         std::nullopt,
         "quorvel: --folder goes with --scan.\n" + tryHelp},
        {"json, exit on change",
         {"quorvel", "--scan", "--format", "json", "--exit-on-change", "198.18.0.0/30"},
         TScanRequest{TScanRange{first, first + 3}, "", TScanFormat::Json, true},
         ""},
        {"unknown format",
         {"quorvel", "--scan", "--format=xml"},
         std::nullopt,
         "quorvel: --format takes tsv or json, not 'xml'.\n" + tryHelp},
        {"exit on change without scan",
         {"quorvel", "--exit-on-change"},
         std::nullopt,
         "quorvel: --exit-on-change goes with --scan.\n" + tryHelp},
    };
    for (const TScanCase& c : cases) {
        const TCommandLineAnswer answer = ReadCommandLine(c.Arguments);
        EXPECT_EQ(answer.Scan, c.Scan) << c.Name;
        EXPECT_EQ(answer.Err, c.Err) << c.Name;
        EXPECT_EQ(answer.Run, c.Err.isEmpty()) << c.Name;
        EXPECT_EQ(answer.ExitCode, c.Err.isEmpty() ? 0 : 2) << c.Name;
    }
}

TEST(CommandLine, HelpNamesTheProgramAndItsOptionsOnly) {
    const TCommandLineAnswer answer = ReadCommandLine({"/usr/bin/quorvel", "--help"});
    EXPECT_FALSE(answer.Run);
    EXPECT_EQ(answer.ExitCode, 0);
    EXPECT_TRUE(answer.Out.startsWith("Usage: quorvel [options]\n")) << answer.Out.toStdString();
    EXPECT_TRUE(answer.Out.contains("-v, --version"));
    EXPECT_FALSE(answer.Out.contains("platform"));
    EXPECT_TRUE(answer.Err.isEmpty());
}

}  // namespace

// Secure-execution mode: what of the command line and the environment reaches the toolkit.
TEST(SecureStart, CodeLoadingOptionsAreDroppedWithTheirValues) {
    std::vector<std::string> args{"quorvel",
                                  "-plugin",
                                  "evil",
                                  "--style=evil",
                                  "-platform",
                                  "xcb",
                                  "-style",
                                  "evil",
                                  "-platformpluginpath",
                                  "/tmp/x",
                                  "--platformtheme",
                                  "evil",
                                  "-testability",
                                  "--version",
                                  "-stylesheet"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = DropCodeLoadingArguments(static_cast<int>(args.size()), argv.data());
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc),
              (std::vector<std::string>{"quorvel", "-platform", "xcb", "--version"}));
    EXPECT_EQ(argv[argc], nullptr);
}

TEST(SecureStart, OnlyTheDisplayLocaleAndHomeAreKept) {
    for (const char* kept : {"DISPLAY", "XAUTHORITY", "LANG", "LC_ALL", "HOME", "QT_QPA_PLATFORM"})
        EXPECT_TRUE(KeptInSecureMode(kept)) << kept;
    for (const char* dropped :
         {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME",
          "QT_STYLE_OVERRIDE", "QT_QPA_GENERIC_PLUGINS", "QT_IM_MODULE", "GTK_MODULES",
          "XDG_CURRENT_DESKTOP", "DISPLAYX"})
        EXPECT_FALSE(KeptInSecureMode(dropped)) << dropped;
}

#ifdef __linux__
// A start whose rights cannot be given up goes no further than saying why: through sudo, but
// without the capabilities to change its ids, the start refuses, so that main ends with 1
// before any window exists.
TEST(SecureStart, AStartThatCannotGiveUpItsRightsDoesNotGoOn) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to start through sudo";
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(err[1], STDERR_FILENO);
        setenv("SUDO_UID", "65534", 1);
        setenv("SUDO_GID", "65534", 1);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &header, data) != 0) _exit(10);
        for (int cap : {CAP_SETGID, CAP_SETUID}) {
            data[0].effective &= ~(1u << cap);
            data[0].permitted &= ~(1u << cap);
        }
        if (syscall(SYS_capset, &header, data) != 0) _exit(10);
        char name[] = "quorvel";
        char* argv[] = {name, nullptr};
        int argc = 1;
        _exit(StartUnprivileged(argc, argv) ? 0 : 1);
    }
    close(err[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "10: the test could not take the capabilities";
    EXPECT_NE(said.find("无法放弃启动时的特权"), std::string::npos) << said;
    EXPECT_NE(said.find("程序不运行"), std::string::npos) << said;
}
#endif
