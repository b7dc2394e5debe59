// The About box: its links reach the desktop with what they show (never while running as root),
// Shift+click on the icon, and the keys that close it or not.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "About.h"
#include "ScriptedLan.h"
#include "WindowTests.h"

// Takes every web and mail address handed to the desktop while it lives.
class TUrlCatcher : public QObject {
    Q_OBJECT
  public:
    TUrlCatcher() {
        for (const char* scheme : Schemes) QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~TUrlCatcher() override {
        for (const char* scheme : Schemes) QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> Opened;
    static constexpr const char* Schemes[] = {"http", "https", "mailto"};
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
        TAboutBox box;
        box.show();
        auto* link = box.findChild<QLabel*>(label);
        QVERIFY(link != nullptr);
        QVERIFY(url.endsWith(link->text()));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(catcher.Opened, QList<QUrl>{QUrl(url)});
        QVERIFY(box.isVisible());
    }

    // As root a click explains why the link stays shut; the address can be copied instead.
    void linksStayShutAsRoot_data() { links_data(); }
    void linksStayShutAsRoot() {
        QFETCH(QString, label);
        TAboutBox::RunsAsRoot = Root;
        TUrlCatcher catcher;
        TAboutBox box;
        box.show();
        auto* link = box.findChild<QLabel*>(label);
        TBoxCatcher boxes;
        QTest::mouseClick(link, Qt::LeftButton);
        QVERIFY(catcher.Opened.isEmpty());
        QCOMPARE(boxes.Titles, QStringList{"提示"});
        QCOMPARE(boxes.Texts, QStringList{QString::fromUtf8(TAboutBox::RootLinkMessage)});
        QCOMPARE(boxes.Formats, std::vector<Qt::TextFormat>{Qt::PlainText});
        link->setFocus();
        QTest::keyClick(link, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(link, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), link->text());
        QVERIFY(box.isVisible());
    }

    void shiftClickOnIcon_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("doubleClick");  // a plain click, then the second press
        QTest::addColumn<bool>("smiles");
        const Qt::KeyboardModifiers none, shift(Qt::ShiftModifier);
        QTest::newRow("left click") << Qt::LeftButton << none << false << false;
        QTest::newRow("control click")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << false << false;
        QTest::newRow("shift click") << Qt::LeftButton << shift << false << true;
        QTest::newRow("shift right click") << Qt::RightButton << shift << false << true;
        QTest::newRow("double click") << Qt::LeftButton << none << true << false;
        QTest::newRow("shift on a double click's second press")
            << Qt::LeftButton << shift << true << true;
        QTest::newRow("shift on a middle double click's second press")
            << Qt::MiddleButton << shift << true << true;
    }
    void shiftClickOnIcon() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, doubleClick);
        QFETCH(bool, smiles);
        TAboutBox box;
        box.show();
        auto* copyright = box.findChild<QLabel*>("CopyRight");
        const QString before = copyright->text();
        QVERIFY(before.contains("2026"));
        auto* icon = box.findChild<QLabel*>("Image1");
        if (doubleClick) {
            QTest::mouseClick(icon, button);
            QCOMPARE(copyright->text(), before);
            QTest::mouseDClick(icon, button, modifiers);
        } else {
            QTest::mouseClick(icon, button, modifiers);
        }
        QCOMPARE(copyright->text(), smiles ? QString(":-)") : before);
    }

    void captionSizeAndPlaces() {
        TAboutBox box;
        box.show();
        QCOMPARE(box.windowTitle(), QString("关于"));
        QCOMPARE(box.size(), QSize(297, 183));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QCOMPARE(box.findChild<QWidget*>("Panel1")->geometry(), QRect(8, 8, 281, 129));
        QCOMPARE(box.findChild<QWidget*>("OKButton")->geometry(), QRect(111, 148, 75, 25));
        // The static texts size themselves; their places stand.
        const std::pair<const char*, QPoint> places[] = {
            {"Image1", {8, 8}},          {"StaticText7", {64, 8}},   {"Version", {168, 8}},
            {"StaticText2", {112, 28}},  {"StaticText9", {64, 48}},  {"STWeb", {112, 48}},
            {"StaticText1", {64, 68}},   {"STEmail", {112, 68}},     {"StaticText3", {64, 88}},
            {"StaticText12", {112, 88}}, {"StaticText5", {64, 108}}, {"StaticText6", {112, 108}},
        };
        for (const auto& [name, place] : places) {
            auto* label = box.findChild<QLabel*>(name);
            QVERIFY2(label != nullptr && label->parent()->objectName() == "Panel1", name);
            QCOMPARE(label->pos(), place);
        }
    }

    // Panel1's border: a lowered outer bevel around a raised inner one, each a pixel wide.
    void panelBevels() {
        TAboutBox box;
        box.show();
        auto* panel = box.findChild<QFrame*>("Panel1");
        const QImage image = panel->grab().toImage();
        QCOMPARE(image.size(), QSize(281, 129));
        const QColor dark = panel->palette().color(QPalette::Dark);
        const QColor light = panel->palette().color(QPalette::Light);
        QVERIFY(dark != light);
        const int w = image.width(), h = image.height(), x = w / 2, y = h / 2;
        const std::pair<QPoint, QColor> pixels[] = {
            {{x, 0}, dark},
            {{0, y}, dark},
            {{x, h - 1}, light},
            {{w - 1, y}, light},
            {{x, 1}, light},
            {{1, y}, light},
            {{x, h - 2}, dark},
            {{w - 2, y}, dark},
            {{x, 2}, panel->palette().color(QPalette::Window)},
        };
        for (const auto& [at, color] : pixels) {
            QVERIFY2(image.pixel(at) == color.rgb(),
                     qPrintable(QString("(%1, %2) is %3, not %4")
                                    .arg(at.x())
                                    .arg(at.y())
                                    .arg(image.pixelColor(at).name(), color.name())));
        }
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
        QTest::newRow("keypad Enter presses OK") << int(Qt::Key_Enter) << true;
        QTest::newRow("Space presses OK") << int(Qt::Key_Space) << true;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(bool, closes);
        TAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(QApplication::focusWidget(), box.findChild<QPushButton*>("OKButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(box.isVisible(), !closes);
        if (closes) QCOMPARE(box.result(), int(QDialog::Accepted));
    }
};

int RunAboutBoxTests(int argc, char** argv) {
    TAboutBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AboutBoxTest.moc"
