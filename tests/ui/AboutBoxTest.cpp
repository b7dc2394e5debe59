// The About box: its links reach the desktop with what they show (never while running as root),
// Shift+click on the icon, and the keys that close it or not.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "About.h"
#include "WindowTests.h"

class TUrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> Opened;
  public slots:
    void Open(const QUrl& url) { Opened << url; }
};

bool NotRoot() { return false; }
bool Root() { return true; }

class TAboutBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { TAboutBox::RunsAsRoot = NotRoot; }
    void cleanup() { TAboutBox::RunsAsRoot = NotRoot; }

    void links_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("url");
        QTest::newRow("web") << "STWeb"
                             << "https://quorvel.example";
        QTest::newRow("mail") << "STEmail"
                              << "mailto:mail@quorvel.example";
    }
    void links() {
        QFETCH(QString, label);
        QFETCH(QString, url);
        TUrlCatcher catcher;
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
        }
        TAboutBox box;
        box.show();
        auto* link = box.findChild<QLabel*>(label);
        QVERIFY(link != nullptr);
        QVERIFY(url.endsWith(link->text()));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton);
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
        QCOMPARE(catcher.Opened, QList<QUrl>{QUrl(url)});
        QVERIFY(box.isVisible());
    }

    // As root a click explains why the link stays shut; the address can be copied instead.
    void linksStayShutAsRoot_data() { links_data(); }
    void linksStayShutAsRoot() {
        QFETCH(QString, label);
        TAboutBox::RunsAsRoot = Root;
        TUrlCatcher catcher;
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
        }
        TAboutBox box;
        box.show();
        auto* link = box.findChild<QLabel*>(label);
        QString caption, text;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                caption = m->windowTitle();
                text = m->text();
                format = m->textFormat();
                QTest::keyClick(m, Qt::Key_Return);
            }
        });
        QTest::mouseClick(link, Qt::LeftButton);
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
        QVERIFY(catcher.Opened.isEmpty());
        QCOMPARE(caption, QString("提示"));
        QCOMPARE(text, QString::fromUtf8(TAboutBox::RootLinkMessage));
        QCOMPARE(format, Qt::PlainText);
        link->setFocus();
        QTest::keyClick(link, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(link, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), link->text());
        QVERIFY(box.isVisible());
    }

    void shiftClickOnIcon_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("smiles");
        QTest::newRow("left click") << Qt::LeftButton << Qt::KeyboardModifiers() << false;
        QTest::newRow("control click")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
        QTest::newRow("shift click")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
        QTest::newRow("shift right click")
            << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << true;
    }
    void shiftClickOnIcon() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, smiles);
        TAboutBox box;
        box.show();
        auto* copyright = box.findChild<QLabel*>("CopyRight");
        const QString before = copyright->text();
        QVERIFY(before.contains("2026"));
        QTest::mouseClick(box.findChild<QLabel*>("Image1"), button, modifiers);
        QCOMPARE(copyright->text(), smiles ? QString(":-)") : before);
    }

    void textsAreNotCut() {
        TAboutBox box;
        box.show();
        for (QLabel* label : box.findChildren<QLabel*>()) {
            if (label->pixmap().isNull()) {
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
            }
        }
        QVERIFY(!box.findChild<QLabel*>("Image1")->pixmap().isNull());
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Escape keeps it open") << int(Qt::Key_Escape) << false;
        QTest::newRow("Enter presses OK") << int(Qt::Key_Return) << true;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(bool, closes);
        TAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::keyClick(&box, Qt::Key(key));
        QCOMPARE(box.isVisible(), !closes);
        if (closes) QCOMPARE(box.result(), int(QDialog::Accepted));
    }
};

int RunAboutBoxTests(int argc, char** argv) {
    TAboutBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AboutBoxTest.moc"
