// The worker's hand-off over Qt's event queue: it runs on the main thread and waits, a closed
// dispatcher lets a waiting worker go without running its call, and an error in the call still
// releases the worker.
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "Application.h"
#include "QtDispatcher.h"
#include "WindowTests.h"

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

#ifdef __linux__
long CurrentThreadId() { return static_cast<long>(gettid()); }
// The worker's only blocking step is the wait in Synchronize: while it sleeps, it waits there.
bool WaitsInTheHandOff(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}
#else
long CurrentThreadId() { return 0; }
#endif

}  // namespace

class TQtDispatcherTest : public QObject {
    Q_OBJECT
  private slots:
    void synchronizeRunsOnMainThreadAndWaits() {
        auto dispatcher = std::make_shared<TQtDispatcher>();
        QThread* ranOn = nullptr;
        bool seenAfterReturn = false;
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            bool ran = false;
            dispatcher->Synchronize([&] {
                ranOn = QThread::currentThread();
                ran = true;
            });
            seenAfterReturn = ran;
            returned = true;
        });
        QTRY_VERIFY(returned.load());
        worker.join();
        QCOMPARE(ranOn, QThread::currentThread());
        QVERIFY(seenAfterReturn);
    }

    void queueRunsLaterOnMainThread() {
        auto dispatcher = std::make_shared<TQtDispatcher>();
        QThread* ranOn = nullptr;
        std::thread worker([&] { dispatcher->Queue([&] { ranOn = QThread::currentThread(); }); });
        worker.join();
        QCOMPARE(ranOn, nullptr);
        QTRY_COMPARE(ranOn, QThread::currentThread());
    }

    void closeReleasesWaitingWorker_data() {
        QTest::addColumn<bool>("closeFirst");
        // Only Linux shows whether a thread sleeps: elsewhere nothing could tell that the worker
        // had reached its wait before the close.
#ifdef __linux__
        QTest::newRow("worker already waiting") << false;
#endif
        QTest::newRow("closed before the call") << true;
    }
    void closeReleasesWaitingWorker() {
        QFETCH(bool, closeFirst);
        auto dispatcher = std::make_shared<TQtDispatcher>();
        if (closeFirst) dispatcher->Close();
        std::atomic<bool> ran{false};
        std::atomic<bool> returned{false};
        std::atomic<long> tid{0};
        std::thread worker([&] {
            tid = CurrentThreadId();
            dispatcher->Synchronize([&] { ran = true; });
            returned = true;
        });
        // The main thread serves nothing here (no event is processed): only Close can let the
        // worker go.
        bool waited = true;
        bool returnedEarly = false;
#ifdef __linux__
        if (!closeFirst) {
            waited = false;
            for (int i = 0; i < 10000 && !waited; ++i) {
                waited = tid.load() != 0 && WaitsInTheHandOff(tid.load());
                if (!waited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            returnedEarly = returned.load();
            dispatcher->Close();
        }
#endif
        worker.join();
        QVERIFY2(waited, "the worker never waited in the hand-off");
        QVERIFY(!returnedEarly);
        QCoreApplication::processEvents();
        QVERIFY(!ran.load());
        QVERIFY(dispatcher->Closed());
    }

    void errorInCallIsReportedAndReleases() {
        QStringList reported;
        TApplication::SetErrorBox([&](const QString& text) { reported << text; });
        auto dispatcher = std::make_shared<TQtDispatcher>();
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            dispatcher->Synchronize([] { throw std::runtime_error("disk full"); });
            returned = true;
        });
        QTRY_VERIFY(returned.load());
        worker.join();
        TApplication::SetErrorBox({});
        QCOMPARE(reported, QStringList{"disk full"});
    }
};

int RunQtDispatcherTests(int argc, char** argv) {
    TQtDispatcherTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "QtDispatcherTest.moc"
