// The main window driven offscreen with a scripted link: the proposed range, scans that find
// and update rows and rewrite the files, stop and resume, the range message, deleting rows,
// closing during a scan, a scan served behind the About box, an unreadable list, huge ranges.
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <future>
#include <stdexcept>

#include "About.h"
#include "Application.h"
#include "IPMACEdit.h"
#include "Look.h"
#include "ScanReport.h"
#include "ScriptedLan.h"
#include "WindowTests.h"
#include "main.h"
#include "ui_main.h"

namespace {

std::uint32_t H(const char* ip) { return NetToHost(StrToIP(ip)); }

// The text the scan's report gives for these unwritten files, which the window must show as is.
QString Unsaved(const TSaveReport& report) { return QString::fromStdString(UnsavedText(report)); }
TSaveReport ReadOnlyList() {
    TSaveReport report;
    report.List.Fault = TFileFault::ReadOnly;
    return report;
}
TMacAddr M(std::uint8_t last) { return {0x00, 0x1A, 0x2B, 0x3C, 0x4D, last}; }

QByteArray ReadFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList Ips(TListViewRows& rows) {
    QStringList ips;
    for (int i = 0; i < rows.Count(); ++i) ips << QString::fromStdString(rows.Row(i).IP);
    return ips;
}

QStringList Remarks(TListViewRows& rows) {
    QStringList remarks;
    for (int i = 0; i < rows.Count(); ++i) remarks << QString::fromStdString(rows.Row(i).Remark);
    return remarks;
}

std::vector<std::uint32_t> Range(const char* first, const char* last) {
    std::vector<std::uint32_t> all;
    for (std::uint32_t ip = H(first); ip <= H(last); ++ip) all.push_back(ip);
    return all;
}

// Centred within a pixel: halves of odd differences are truncated.
bool Centred(const QRect& frame, const QRect& over) {
    return std::abs(frame.center().x() - over.center().x()) <= 1 &&
           std::abs(frame.center().y() - over.center().y()) <= 1;
}

QString Describe(const QWidget& window) {
    const QRect f = window.frameGeometry();
    return QString("%1's frame at %2,%3 %4x%5")
        .arg(window.windowTitle())
        .arg(f.x())
        .arg(f.y())
        .arg(f.width())
        .arg(f.height());
}

}  // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldDir_;
    std::shared_ptr<TScriptedLan> lan_;
    std::unique_ptr<TQuorvelForm> form_;

    Ui::QuorvelForm& Ui() { return form_->Controls(); }

    void MakeForm(const std::string& localIP = "192.168.1.20") {
        TFormServices services;
        services.LocalIP = [localIP] { return localIP; };
        services.CreateProbe = MakeProbeFactory(lan_);
        services.Vendors = [] { return nullptr; };  // the reports' MACs alone
        form_ = std::make_unique<TQuorvelForm>(services);
        form_->show();
    }

    void SetRange(const char* first, const char* last) {
        Ui().IPEdit1->SetText(QString::fromLatin1(first));
        Ui().IPEdit2->SetText(QString::fromLatin1(last));
    }

    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!form_->Scanning(), 20000); }

    void VerifyIdle() {
        QVERIFY(!form_->Scanning());
        QVERIFY(Ui().BtStart->isEnabled());
        QVERIFY(!Ui().BtStop->isEnabled());
        QCOMPARE(Ui().ProgressBar1->value(), 0);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldDir_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_->path()));
        lan_ = std::make_shared<TScriptedLan>();
    }

    void cleanup() {
        form_.reset();
        // Every worker has freed itself (with its probe) before the next case starts.
        QTRY_COMPARE_WITH_TIMEOUT(lan_->ProbesAlive(), 0, 10000);
        QDir::setCurrent(oldDir_);
        dir_.reset();
    }

    void proposedRange_data() {
        QTest::addColumn<QString>("localIP");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::newRow("local /24 from .1 to .255") << "192.168.1.20"
                                                   << "192.168.1.1"
                                                   << "192.168.1.255";
        QTest::newRow("other network") << "10.1.2.3"
                                       << "10.1.2.1"
                                       << "10.1.2.255";
        QTest::newRow("no local address") << ""
                                          << "0.0.0.0"
                                          << "0.0.0.0";
        QTest::newRow("unusable local text") << "fe80::1"
                                             << "0.0.0.0"
                                             << "0.0.0.0";
    }
    void proposedRange() {
        QFETCH(QString, localIP);
        QFETCH(QString, start);
        QFETCH(QString, end);
        WriteFile("ArpList.ini", "192.168.1.9|00:1A:2B:3C:4D:09\r\n10.0.0.1|00:1A:2B:3C:4D:01\r\n");
        ShowTrayIcon = false;
        MakeForm(localIP.toStdString());
        QCOMPARE(Ui().IPEdit1->Text(), start);
        QCOMPARE(Ui().IPEdit2->Text(), end);
        // The list is loaded (and sorted) whatever the local address gave.
        QCOMPARE(Ips(form_->Rows()), QStringList({"10.0.0.1", "192.168.1.9"}));
        QVERIFY(ShowTrayIcon);
        VerifyIdle();
    }

    // Frame sizes: the window's client area 395 x 284, the About box's 297 x 183, each with a
    // window manager's frame of 4 pixels a side and a 23-pixel title bar where one is given.
    void centredFramePos_data() {
        QTest::addColumn<QRect>("over");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("pos");
        const QRect screen(0, 0, 1024, 768);
        QTest::newRow("no frame") << screen << QSize(395, 284) << screen << QPoint(314, 242);
        QTest::newRow("frame") << screen << QSize(403, 311) << screen << QPoint(310, 228);
        QTest::newRow("odd difference truncated") << QRect(0, 0, 1025, 769) << QSize(395, 284)
                                                  << QRect(0, 0, 1025, 769) << QPoint(315, 242);
        QTest::newRow("second screen below a panel")
            << QRect(1024, 30, 1280, 994) << QSize(403, 311) << QRect(1024, 30, 1280, 994)
            << QPoint(1462, 371);
        QTest::newRow("About box over the window")
            << QRect(310, 228, 403, 311) << QSize(305, 210) << screen << QPoint(359, 278);
        QTest::newRow("over a window at the right edge: kept on the screen")
            << QRect(900, 100, 403, 311) << QSize(305, 210) << screen << QPoint(719, 150);
        QTest::newRow("over a window above the screen: kept on the screen")
            << QRect(-100, -200, 403, 311) << QSize(305, 210) << screen << QPoint(0, 0);
        QTest::newRow("larger than the screen: top-left on it")
            << QRect(0, 0, 640, 480) << QSize(800, 600) << QRect(0, 0, 640, 480) << QPoint(0, 0);
    }
    void centredFramePos() {
        QFETCH(QRect, over);
        QFETCH(QSize, frame);
        QFETCH(QRect, screen);
        QFETCH(QPoint, pos);
        QCOMPARE(CentredFramePos(over, frame, screen), pos);
    }

    // The window's frame centred on the screen, the About box's over the window's. Under a
    // window manager a frame is known only once its window is up: each is given a moment.
    void centredWindows() {
        MakeForm();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        const QRect screen = form_->screen()->availableGeometry();
        QTRY_VERIFY2(Centred(form_->frameGeometry(), screen), qPrintable(Describe(*form_)));
        // Moved by the user, the window stays where it is put; the About box follows it.
        const QPoint moved = form_->frameGeometry().topLeft() - QPoint(40, 30);
        form_->windowHandle()->setFramePosition(moved);
        QTRY_COMPARE(form_->frameGeometry().topLeft(), moved);
        QTest::qWait(100);
        QCOMPARE(form_->frameGeometry().topLeft(), moved);
        QString about;
        QElapsedTimer since;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            if (!since.isValid()) since.start();
            const bool centred = Centred(box->frameGeometry(), form_->frameGeometry());
            about = centred ? QString() : Describe(*box);
            if (centred || since.elapsed() > 5000) box->accept();
        });
        poll.start(20);
        QTest::mouseClick(Ui().BtAbout, Qt::LeftButton);
        QVERIFY2(since.isValid() && about.isEmpty(), qPrintable(about));
    }

    void tabOrder() {
        MakeForm();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        Ui().ListView1->setFocus();
        QStringList visited;
        for (int i = 0; i < 11; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            while (w != nullptr && w->objectName().isEmpty()) w = w->parentWidget();
            QWidget* field = w;
            while (field != nullptr && qobject_cast<TIPEdit*>(field) == nullptr) {
                field = field->parentWidget();
            }
            visited << (field != nullptr ? field->objectName() : w->objectName());
        }
        // Four octet boxes per field; the stop button is disabled while idle.
        QCOMPARE(visited,
                 QStringList({"IPEdit1", "IPEdit1", "IPEdit1", "IPEdit1", "IPEdit2", "IPEdit2",
                              "IPEdit2", "IPEdit2", "BtStart", "BtAbout", "ListView1"}));
    }

    void scanFindsUpdatesAndResorts() {
        WriteFile(
            "ArpList.ini",
            ";by hand\r\n192.168.1.10|00:1A:2B:3C:4D:10\r\n192.168.1.9|00:1A:2B:3C:4D:99\r\n");
        lan_->Answer(H("192.168.1.7"), M(0x07));
        lan_->Answer(H("192.168.1.9"), M(0x09));
        // What the list holds when each address is probed: a whole file at every moment. Not on
        // Windows, where a reader holding the file open makes the writer's replace fail, as the
        // system's sharing rules say.
#ifndef _WIN32
        std::map<std::uint32_t, QByteArray> list;
        std::mutex m;
        lan_->OnProbe([&](std::uint32_t ip) {
            std::lock_guard lock(m);
            list[ip] = ReadFile("ArpList.ini");
        });
#endif
        MakeForm("192.168.1.20");
        SetRange("192.168.1.7", "192.168.1.10");
        TBoxCatcher boxes;
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        // Alt+S presses the start button (a mnemonic press is a short animated click).
        QTest::keyClick(form_.get(), Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(!lan_->Probed().empty());
        WaitIdle();
        QCOMPARE(Ui().ProgressBar1->maximum(), 4);

        QCOMPARE(lan_->Probed(), Range("192.168.1.7", "192.168.1.10"));
        QCOMPARE(Ips(form_->Rows()), QStringList({"192.168.1.7", "192.168.1.9", "192.168.1.10"}));
        QCOMPARE(form_->Rows().Row(1).MAC, "00:1A:2B:3C:4D:09");
        QCOMPARE(Ui().IPEdit1->Text(), "192.168.1.11");
        QCOMPARE(Ui().IPEdit2->Text(), "192.168.1.10");
        VerifyIdle();
        // The replaced MAC is told when the scan ends.
        QCOMPARE(boxes.Texts.size(), 1);
        QVERIFY2(
            boxes.Texts.at(0).contains("\n192.168.1.9：00:1A:2B:3C:4D:99 -> 00:1A:2B:3C:4D:09"),
            qPrintable(boxes.Texts.at(0)));

#ifndef _WIN32
        std::lock_guard lock(m);
        QCOMPARE(list.size(), std::size_t{4});  // one read for each address probed
        for (const auto& [ip, text] : list) {
            QVERIFY2(text.startsWith(";by hand\r\n") ||
                         (text.startsWith(";Generated by Quorvel.") && text.endsWith("\r\n")),
                     text.constData());
        }
#endif
        // The scan ends with the files holding every find.
        QVERIFY(ReadFile("ArpList.ini")
                    .endsWith("\r\n192.168.1.7|00:1A:2B:3C:4D:07\r\n"
                              "192.168.1.9|00:1A:2B:3C:4D:09\r\n"
                              "192.168.1.10|00:1A:2B:3C:4D:10\r\n"));
        const QByteArray arp = ReadFile("BindArp.bat");
        QVERIFY(arp.contains("\r\narp -s 192.168.1.7 00-1A-2B-3C-4D-07\r\n"));
        QVERIFY(arp.contains("\r\narp -s 192.168.1.9 00-1A-2B-3C-4D-09\r\n"));
        const QByteArray dhcp = ReadFile("BindDhcp.bat");
        QVERIFY(dhcp.contains("\r\necho add reservedip 192.168.1.7 001A2B3C4D07>>netsh.txt\r\n"));
        QVERIFY(dhcp.contains("\r\necho scope 192.168.1.0>>netsh.txt\r\n"));
    }

    // A disk so slow that no save completes during the scan: every hand-off is served all the
    // same, and the buttons return only once the last save has written every find.
    void slowDiskNeverDelaysAHandOff() {
        lan_->Answer(H("192.168.1.1"), M(0x01));
        lan_->Answer(H("192.168.1.3"), M(0x03));
        lan_->Answer(H("192.168.1.5"), M(0x05));
        MakeForm();
        std::promise<void> disk;
        std::shared_future<void> ready = disk.get_future().share();
        form_->Writer().SetBeforeSave([ready] { ready.wait(); });
        SetRange("192.168.1.1", "192.168.1.5");
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_COMPARE(lan_->Probed().size(), 5u);
        QTRY_COMPARE(form_->Rows().Count(), 3);
        QTRY_COMPARE(Ui().IPEdit1->Text(), "192.168.1.6");
        QVERIFY(form_->Scanning());
        QVERIFY(!Ui().BtStart->isEnabled());
        QVERIFY(!QFile::exists("ArpList.ini"));
        disk.set_value();
        WaitIdle();
        VerifyIdle();
        QVERIFY(ReadFile("ArpList.ini")
                    .endsWith("\r\n192.168.1.1|00:1A:2B:3C:4D:01\r\n"
                              "192.168.1.3|00:1A:2B:3C:4D:03\r\n"
                              "192.168.1.5|00:1A:2B:3C:4D:05\r\n"));
    }

    void rangeMessage_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("refused");
        QTest::newRow("end below start") << "192.168.1.10"
                                         << "192.168.1.9" << true;
        QTest::newRow("end below start in an earlier octet") << "10.0.1.0"
                                                             << "10.0.0.255" << true;
        QTest::newRow("start equals end") << "192.168.1.9"
                                          << "192.168.1.9" << false;
    }
    void rangeMessage() {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, refused);
        MakeForm();
        SetRange(first.toLatin1().constData(), last.toLatin1().constData());
        TBoxCatcher boxes;
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        if (refused) {
            QCOMPARE(boxes.Texts, QStringList{TQuorvelForm::RangeMessage});
            QCOMPARE(boxes.Titles, QStringList{"提示"});
            QCOMPARE(boxes.Icons.at(0), QMessageBox::Information);
            QCOMPARE(boxes.Formats.at(0), Qt::PlainText);
            QVERIFY(lan_->Probed().empty());
            QCOMPARE(Ui().IPEdit1->Text(), first);
        } else {
            QVERIFY(boxes.Texts.isEmpty());
            QCOMPARE(lan_->Probed(), std::vector<std::uint32_t>{H(first.toLatin1().constData())});
            QCOMPARE(Ui().ProgressBar1->maximum(), 1);
        }
        VerifyIdle();
    }

    void keysPressTheFocusedButton_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        for (const char* button : {"BtStart", "BtStop", "BtAbout"}) {
            QTest::addRow("Return on %s", button) << button << int(Qt::Key_Return);
            QTest::addRow("keypad Enter on %s", button) << button << int(Qt::Key_Enter);
            QTest::addRow("Space on %s", button) << button << int(Qt::Key_Space);
        }
    }
    void keysPressTheFocusedButton() {
        QFETCH(QString, button);
        QFETCH(int, key);
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.5");
        lan_->BlockAt(H("192.168.1.2"));
        if (button == "BtStop") {
            QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
            QTRY_VERIFY(lan_->Blocked());
        }
        bool aboutShown = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget())) {
                aboutShown = true;
                box->accept();
            }
        });
        poll.start(5);
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        auto* pushButton = form_->findChild<QPushButton*>(button);
        pushButton->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), pushButton);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

        if (button == "BtStart") QTRY_VERIFY(lan_->Blocked());
        QCOMPARE(aboutShown, button == "BtAbout");
        lan_->Release();
        WaitIdle();
        const std::size_t probed = button == "BtStart" ? 5u : button == "BtStop" ? 2u : 0u;
        QCOMPARE(lan_->Probed().size(), probed);
    }

    void stopAndResume() {
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.10");
        lan_->BlockAt(H("192.168.1.4"));
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_VERIFY(lan_->Blocked());
        QTest::mouseClick(Ui().BtStop, Qt::LeftButton);
        // The buttons change only once the worker has ended.
        QVERIFY(!Ui().BtStart->isEnabled());
        QVERIFY(Ui().BtStop->isEnabled());
        lan_->Release();
        WaitIdle();
        QCOMPARE(lan_->Probed(), Range("192.168.1.1", "192.168.1.4"));
        QCOMPARE(Ui().IPEdit1->Text(), "192.168.1.5");
        VerifyIdle();

        // Resumed from the start field; editing the end field meanwhile does not move the end.
        lan_->BlockAt(H("192.168.1.6"));
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_VERIFY(lan_->Blocked());
        Ui().IPEdit2->SetText("192.168.1.5");
        lan_->Release();
        WaitIdle();
        QCOMPARE(lan_->Probed(), Range("192.168.1.1", "192.168.1.10"));
        QCOMPARE(Ui().IPEdit1->Text(), "192.168.1.11");
        VerifyIdle();
    }

    void completeNetworkThenRangeMessage() {
        MakeForm("192.168.1.20");
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        QCOMPARE(lan_->Probed(), Range("192.168.1.1", "192.168.1.255"));
        QCOMPARE(Ui().IPEdit1->Text(), "192.168.2.0");
        TBoxCatcher boxes;
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QCOMPARE(boxes.Texts, QStringList{TQuorvelForm::RangeMessage});
        QCOMPARE(lan_->Probed().size(), 255u);
        VerifyIdle();
    }

    void deleteRows_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("ips");
        QTest::addColumn<QStringList>("remarks");
        QTest::newRow("none selected")
            << QList<int>{} << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}
            << QStringList{"?", "", "?", ""};
        QTest::newRow("one of a duplicate pair clears the other's mark")
            << QList<int>{2} << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.4"}
            << QStringList{"", "", ""};
        QTest::newRow("rows apart")
            << QList<int>{0, 3} << QStringList{"10.0.0.2", "10.0.0.3"} << QStringList{"", ""};
        QTest::newRow("all") << QList<int>{0, 1, 2, 3} << QStringList{} << QStringList{};
    }
    void deleteRows() {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, ips);
        QFETCH(QStringList, remarks);
        WriteFile("ArpList.ini",
                  "10.0.0.1|00:00:00:00:00:0A\r\n10.0.0.2|00:00:00:00:00:0B\r\n"
                  "10.0.0.3|00:00:00:00:00:0A\r\n10.0.0.4|00:00:00:00:00:0C\r\n");
        MakeForm();
        QTableView* view = Ui().ListView1;
        for (int row : selected) {
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                  view->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(view->viewport(), &menuKey);
        QTRY_VERIFY(Ui().PopupMenu1->isVisible());
        QTest::keyClick(Ui().PopupMenu1, Qt::Key_D);
        QTRY_VERIFY(!Ui().PopupMenu1->isVisible());

        QCOMPARE(Ips(form_->Rows()), ips);
        QCOMPARE(Remarks(form_->Rows()), remarks);
        // All three files are written, even when nothing was deleted.
        // Read once the save is done: on Windows a reader holding the file makes its replace fail.
        QTRY_VERIFY(form_->Writer().Idle());
        QByteArray list = ReadFile("ArpList.ini");
        QVERIFY(list.startsWith(";Generated by Quorvel."));
        QCOMPARE(list.count("|"), ips.size());
        QVERIFY(QFile::exists("BindArp.bat"));
        QVERIFY(QFile::exists("BindDhcp.bat"));
    }

    void closeDuringScan_data() {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("probe blocked, answering late") << true;
        QTest::newRow("hand-off waiting for the window") << false;
    }
    void closeDuringScan() {
        QFETCH(bool, blocked);
        const QByteArray stored = "10.0.0.1|00:00:00:00:00:0A\r\n";
        WriteFile("ArpList.ini", stored);
        lan_->Answer(H("192.168.1.1"), M(0x01));
        if (blocked) lan_->BlockAt(H("192.168.1.1"));
        MakeForm();
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        if (blocked) QTRY_VERIFY(lan_->Blocked());
        form_.reset();
        if (blocked) QVERIFY(lan_->Cancelled());
        // The worker ends and frees itself; the find never reaches the files.
        QTRY_COMPARE_WITH_TIMEOUT(lan_->ProbesAlive(), 0, 10000);
        QVERIFY(lan_->Probed().size() <= 1u);
        QCOMPARE(ReadFile("ArpList.ini"), stored);
        QVERIFY(!QFile::exists("BindArp.bat"));
    }

    // Closed while the first save is held up and a second find waits for the next: the files
    // still hold every find the window showed.
    void closeDuringScanKeepsEveryFindShown() {
        lan_->Answer(H("192.168.1.1"), M(0x01));
        lan_->Answer(H("192.168.1.2"), M(0x02));
        lan_->BlockAt(H("192.168.1.3"));
        MakeForm();
        std::promise<void> disk;
        std::shared_future<void> ready = disk.get_future().share();
        form_->Writer().SetBeforeSave([ready] { ready.wait(); });
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_VERIFY(lan_->Blocked());
        QTRY_COMPARE(form_->Rows().Count(), 2);
        disk.set_value();
        form_.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lan_->ProbesAlive(), 0, 10000);
        const QByteArray list = ReadFile("ArpList.ini");
        QVERIFY(
            list.endsWith("\r\n192.168.1.1|00:1A:2B:3C:4D:01\r\n"
                          "192.168.1.2|00:1A:2B:3C:4D:02\r\n"));
        QVERIFY(ReadFile("BindArp.bat").contains("arp -s 192.168.1.2 00-1A-2B-3C-4D-02\r\n"));
    }

    void scanGoesOnBehindAboutBox() {
        lan_->Answer(H("192.168.1.1"), M(0x01));
        lan_->Answer(H("192.168.1.5"), M(0x05));
        lan_->BlockAt(H("192.168.1.2"));
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.5");
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_VERIFY(lan_->Blocked());
        bool servedBehindBox = false;
        QTimer poll;
        int ticks = 0;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            lan_->Release();
            if (!form_->Scanning() && form_->Rows().Count() == 2) servedBehindBox = true;
            if (servedBehindBox || ++ticks > 2000) box->accept();
        });
        poll.start(5);
        QTest::mouseClick(Ui().BtAbout, Qt::LeftButton);
        QVERIFY(servedBehindBox);
        VerifyIdle();
    }

    void unreadableListIsReportedAndKept() {
        QVERIFY(QDir().mkdir("ArpList.ini"));
        lan_->Answer(H("192.168.1.1"), M(0x01));
        TBoxCatcher boxes;
        MakeForm();
        QTRY_COMPARE(boxes.Texts, QStringList{TQuorvelForm::UnreadableListMessage});
        QCOMPARE(boxes.Icons.at(0), QMessageBox::Warning);
        QCOMPARE(boxes.Formats.at(0), Qt::PlainText);
        SetRange("192.168.1.1", "192.168.1.1");
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        QCOMPARE(form_->Rows().Count(), 1);
        QVERIFY(QFileInfo("ArpList.ini").isDir());
        QVERIFY(!QFile::exists("BindArp.bat"));
        // The scan's end says again what stays unwritten.
        QTRY_COMPARE(boxes.Texts.size(), 2);
        QCOMPARE(
            boxes.Texts.at(1),
            QString("以下文件未能写入：\n"
                    "“ArpList.ini”：启动时无法读取该文件，为保护其中的地址，本次运行不会改写它。\n"
                    "“BindArp.bat”：地址列表未能读取，为免丢失其中的绑定，脚本也不改写。\n"
                    "“BindDhcp.bat”：地址列表未能读取，为免丢失其中的绑定，脚本也不改写。"));
    }

    // A scan that could not ask (every request refused, as SendARP under Wine; a range off every
    // local network), or stopped being able to (requests not sent), ends with one warning naming
    // why, not as an empty network.
    void scanThatCouldNotAskSaysSo_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("start");
        QTest::newRow("refused") << int(TProbeFaultKind::Refused) << "SendARP: 50"
                                 << "本次扫描未能探测任何地址：系统拒绝";
        QTest::newRow("off every link") << int(TProbeFaultKind::NoLink) << "本机所在的网络：eth0"
                                        << "本次扫描未能探测任何地址：范围内没有";
        QTest::newRow("not sent") << int(TProbeFaultKind::LinkFailed) << "sendto: No such device"
                                  << "扫描途中网卡出错";
    }
    void scanThatCouldNotAskSaysSo() {
        QFETCH(int, kind);
        QFETCH(QString, detail);
        QFETCH(QString, start);
        lan_->Fault({static_cast<TProbeFaultKind>(kind), detail.toStdString()});
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.3");
        TBoxCatcher boxes;
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        QTRY_COMPARE(boxes.Texts.size(), 1);
        QCOMPARE(boxes.Titles, QStringList{"提示"});
        QCOMPARE(boxes.Formats.at(0), Qt::PlainText);
        QVERIFY2(boxes.Texts.at(0).startsWith(start) && boxes.Texts.at(0).contains(detail),
                 qPrintable(boxes.Texts.at(0)));
    }

    // Files a save leaves unwritten are told in one box when the scan ends, however many saves
    // the scan made, and once more after a deletion.
    void saveFaultsAreToldWhenTheScanEnds_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("text");  // the report's own text for these faults
        QTest::newRow("read-only list")
            << QByteArray("192.168.1.9|00:1A:2B:3C:4D:09\r\n") << true << Unsaved(ReadOnlyList());
        TSaveReport withheld;
        withheld.Arp = withheld.Dhcp = TFileResult{TFileFault::UnreadableRow, 0, 2};
        QTest::newRow("script withheld for an unreadable row")
            << QByteArray("192.168.1.9|00:1A:2B:3C:4D\r\n") << false << Unsaved(withheld);
    }
    void saveFaultsAreToldWhenTheScanEnds() {
        QFETCH(QByteArray, list);
        QFETCH(bool, readOnly);
        QFETCH(QString, text);
        WriteFile("ArpList.ini", list);
        if (readOnly) QVERIFY(QFile::setPermissions("ArpList.ini", QFile::ReadOwner));
        lan_->Answer(H("192.168.1.1"), M(0x01));
        lan_->Answer(H("192.168.1.2"), M(0x02));
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.3");
        TBoxCatcher boxes;
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        QTRY_COMPARE(boxes.Texts, QStringList{text});
        QCOMPARE(boxes.Titles, QStringList{"提示"});
        QCOMPARE(boxes.Icons.at(0), QMessageBox::Warning);
        QCOMPARE(form_->Rows().Count(), 3);
        if (readOnly) QCOMPARE(ReadFile("ArpList.ini"), list);
        QCOMPARE(QFile::exists("BindArp.bat"), readOnly);

        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                  Ui().ListView1->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(Ui().ListView1->viewport(), &menuKey);
        QTRY_VERIFY(Ui().PopupMenu1->isVisible());
        QTest::keyClick(Ui().PopupMenu1, Qt::Key_D);
        QTRY_COMPARE(boxes.Texts, QStringList({text, text}));
        // A deletion, then closing before its save has been told: told as the window goes.
        Ui().D1->trigger();
        form_->close();
        QCOMPARE(boxes.Texts, QStringList({text, text, text}));
    }

    // A scan tells in one box, when it ends, the MACs it replaced, the addresses different MACs
    // answered for and the files it could not write; a scan with nothing to tell shows none.
    void scanEndReport_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<bool>("contestedAndReadOnly");
        QTest::addColumn<QStringList>("boxes");
        const QString changed =
            "以下地址的MAC地址已改变（旧 MAC -> 新 MAC），列表和脚本已改用新的MAC地址；"
            "若不是更换了网卡，可能有主机冒充（ARP欺骗）：";
        const QString contested =
            "以下地址有多个不同的MAC地址应答，可能有主机冒充（ARP欺骗）。"
            "这些地址未加入列表，已有的记录保持不变：\n"
            "192.168.1.3：00:1A:2B:3C:4D:03，00:1A:2B:3C:4D:33";
        QTest::newRow("two rows' MACs changed, one from a cell that is no MAC")
            << QByteArray("192.168.1.1|00:1A:2B:3C:4D:99\r\n192.168.1.2|00:1A:2B:3C:4D\r\n")
            << false
            << QStringList{changed +
                           "\n192.168.1.1：00:1A:2B:3C:4D:99 -> 00:1A:2B:3C:4D:01"
                           "\n192.168.1.2：00:1A:2B:3C:4D -> 00:1A:2B:3C:4D:02"};
        QTest::newRow("a MAC found again in another form")
            << QByteArray("192.168.1.1|00-1a-2b-3c-4d-01\r\n") << false << QStringList{};
        QTest::newRow("contested address and read-only list")
            << QByteArray("192.168.1.1|00:1A:2B:3C:4D:01\r\n") << true
            << QStringList{contested + "\n\n" + Unsaved(ReadOnlyList())};
        QTest::newRow("nothing changed")
            << QByteArray("192.168.1.1|00:1A:2B:3C:4D:01\r\n192.168.1.2|00:1A:2B:3C:4D:02\r\n")
            << false << QStringList{};
        QTest::newRow("changed MAC and read-only list: only the scripts use it")
            << QByteArray("192.168.1.1|00:1A:2B:3C:4D:99\r\n") << true
            << QStringList{
                   "以下地址的MAC地址已改变（旧 MAC -> 新 MAC），脚本已改用新的MAC地址；"
                   "若不是更换了网卡，可能有主机冒充（ARP欺骗）：\n"
                   "192.168.1.1：00:1A:2B:3C:4D:99 -> 00:1A:2B:3C:4D:01\n\n" +
                   contested + "\n\n以下文件未能写入：\n“ArpList.ini”：文件是只读的。"};
    }
    void scanEndReport() {
        QFETCH(QByteArray, list);
        QFETCH(bool, contestedAndReadOnly);
        QFETCH(QStringList, boxes);
        WriteFile("ArpList.ini", list);
        lan_->Answer(H("192.168.1.1"), M(0x01));
        lan_->Answer(H("192.168.1.2"), M(0x02));
        if (contestedAndReadOnly) {
            QVERIFY(QFile::setPermissions("ArpList.ini", QFile::ReadOwner));
            lan_->Contest(H("192.168.1.3"), {M(0x03), M(0x33)});
        }
        MakeForm();
        SetRange("192.168.1.1", "192.168.1.3");
        TBoxCatcher caught;
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        WaitIdle();
        QCOMPARE(caught.Texts, boxes);
        QCOMPARE(caught.Titles, QStringList(boxes.size(), "提示"));
        if (!boxes.isEmpty()) QCOMPARE(caught.Formats.at(0), Qt::PlainText);
        QCOMPARE(form_->Rows().Row(0).MAC, "00:1A:2B:3C:4D:01");
    }

    // A probe that cannot be made: the error is shown and the window is idle again.
    void probeFactoryThatThrowsLeavesTheWindowIdle() {
        QStringList errors;
        TApplication::SetErrorBox([&errors](const QString& text) { errors << text; });
        TFormServices services;
        services.LocalIP = [] { return std::string("192.168.1.20"); };
        services.CreateProbe = []() -> std::unique_ptr<TArpProbe> {
            throw std::runtime_error("no probe here");
        };
        form_ = std::make_unique<TQuorvelForm>(services);
        form_->show();
        SetRange("192.168.1.1", "192.168.1.3");
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        TApplication::SetErrorBox({});
        QCOMPARE(errors, QStringList{"no probe here"});
        VerifyIdle();
        QCOMPARE(form_->Rows().Count(), 0);
    }

    void hugeRangeScaledProgress_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("afterFour");  // the bar after four addresses
        QTest::newRow("2^31 - 1 addresses fit unscaled") << "0.0.0.1"
                                                         << "127.255.255.255" << 0x7FFFFFFF << 4;
        QTest::newRow("2^31 addresses") << "0.0.0.0"
                                        << "127.255.255.255" << (1 << 30) << 2;
        QTest::newRow("0.0.0.0 to 200.0.0.0") << "0.0.0.0"
                                              << "200.0.0.0" << 1677721600 << 2;
        QTest::newRow("the whole space") << "0.0.0.0"
                                         << "255.255.255.255" << (1 << 30) << 1;
    }
    void hugeRangeScaledProgress() {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(int, maximum);
        QFETCH(int, afterFour);
        MakeForm();
        SetRange(first.toLatin1().constData(), last.toLatin1().constData());
        lan_->BlockAt(H(first.toLatin1().constData()) + 4);
        QTest::mouseClick(Ui().BtStart, Qt::LeftButton);
        QTRY_VERIFY(lan_->Blocked());
        QCOMPARE(Ui().ProgressBar1->maximum(), maximum);
        QCOMPARE(Ui().ProgressBar1->value(), afterFour);
        QTest::mouseClick(Ui().BtStop, Qt::LeftButton);
        lan_->Release();
        WaitIdle();
        QCOMPARE(lan_->Probed().size(), 5u);
        VerifyIdle();
    }
};

int RunMainFormTests(int argc, char** argv) {
    TMainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainFormTest.moc"
