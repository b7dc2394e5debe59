// The worker's hand-off over Qt's event queue: it runs on the main thread and waits, a closed
// dispatcher lets a waiting worker go without running its call, and an error in the call still
// releases the worker.
#include <QTest>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "Application.h"
#include "QtDispatcher.h"
#include "WindowTests.h"

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
        QTest::newRow("worker already waiting") << false;
        QTest::newRow("closed before the call") << true;
    }
    void closeReleasesWaitingWorker() {
        QFETCH(bool, closeFirst);
        auto dispatcher = std::make_shared<TQtDispatcher>();
        if (closeFirst) dispatcher->Close();
        std::atomic<bool> ran{false};
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            dispatcher->Synchronize([&] { ran = true; });
            returned = true;
        });
        // The main thread serves nothing here: only Close can let the worker go.
        if (!closeFirst) {
            QTest::qSleep(50);
            QVERIFY(!returned.load());
            dispatcher->Close();
        }
        worker.join();
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
