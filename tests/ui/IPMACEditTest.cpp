// The address field driven by real key events on a shown, active window.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "IPEditHarness.h"
#include "UTypes.h"

namespace {

constexpr int kMask = 5;  // the prefix box in TFieldWindow::Box

TEST(IPEditTest, NewFieldShowsZeroAddress) {
    TIPEdit edit;
    EXPECT_EQ(edit.Text(), "0.0.0.0");
    EXPECT_EQ(edit.Address(), "0.0.0.0");
    EXPECT_EQ(edit.Mask(), 24);
    EXPECT_EQ(edit.MaskEdit()->text(), "24");
    EXPECT_FALSE(edit.DisplayMask());
    EXPECT_FALSE(edit.ReadOnly());
    EXPECT_TRUE(edit.MaskEdit()->isHidden());
    EXPECT_TRUE(edit.Separator(4)->isHidden());
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(CaretOf(edit.OctetEdit(i)), (TCaret{0, 0})) << i;
}

TEST(IPEditTest, TypingAnAddressFromTabFillsTheBoxes) {
    TFieldWindow f;
    ASSERT_TRUE(f.Active);
    f.TabIntoBox1();
    ASSERT_EQ(f.Focused(), f.Box(1));
    EXPECT_EQ(CaretOf(f.Box(1)), (TCaret{0, 1}));  // Tab selects the whole "0"

    TFieldWindow::Type("192");
    EXPECT_EQ(f.Focused(), f.Box(2)) << "advances after the third digit";
    EXPECT_EQ(CaretOf(f.Box(2)), (TCaret{0, 1}));
    TFieldWindow::Type(".168.1.10");

    EXPECT_EQ(f.Edit->Text(), "192.168.1.10");
    EXPECT_EQ(f.Focused(), f.Box(4));
    EXPECT_EQ(f.Edit->IP1(), 192);
    EXPECT_EQ(f.Edit->IP4(), 10);
    EXPECT_EQ(f.Changes->count(), 9) << "one per typed digit";
    EXPECT_TRUE(f.Errors.isEmpty());
}

TEST(IPEditTest, DotAndSlashMoveOnlyAfterADigit) {
    for (int box = 1; box <= 4; ++box) {
        for (char key : {'.', '/'}) {
            for (int caret : {0, 1}) {
                for (bool displayMask : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "box " << box << " key " << key << " caret "
                                                    << caret << " prefix shown " << displayMask);
                    TFieldWindow f(displayMask);
                    ASSERT_TRUE(f.Active);
                    f.Edit->SetText("1.2.3.4");
                    f.PlaceCaret(box, caret);
                    const int changes = f.Changes->count();

                    TFieldWindow::Type(QString(QLatin1Char(key)));

                    int expected = box;
                    if (box <= 3 && caret > 0) expected = box + 1;
                    if (box == 4 && displayMask) expected = kMask;
                    EXPECT_EQ(f.Focused(), f.Box(expected)) << "expected box " << expected;
                    if (expected != box) {
                        EXPECT_EQ(CaretOf(f.Box(expected)),
                                  (TCaret{0, int(f.Box(expected)->text().size())}));
                    }
                    EXPECT_EQ(f.Edit->Text(), "1.2.3.4") << "the character is discarded";
                    EXPECT_EQ(f.Changes->count(), changes);
                }
            }
        }
    }
}

struct TMoveCase {
    int Box;    // where the caret starts: 1..4, or kMask
    int Caret;  // -1: at the end
    bool SelectAll;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    bool DisplayMask;
    int ToBox;
    TCaret ToCaret;
    const char* Name;
};

// Where the box's own key handling leaves the caret (it differs between keyboard schemes).
constexpr TCaret kAnyCaret{-1, -1};
constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;

// clang-format off
const TMoveCase kMoveCases[] = {
    {3, 0, false, Qt::Key_Left, kNone, false, 2, {2, 0}, "left at start: end of previous"},
    {2, 0, false, Qt::Key_Up, kNone, false, 1, {2, 0}, "up at start: end of previous"},
    {2, 0, false, Qt::Key_Left, Qt::ShiftModifier, false, 1, {2, 0}, "shift is not looked at"},
    {1, 0, false, Qt::Key_Left, kNone, false, 1, {0, 0}, "left at start of box 1 stays"},
    {3, 1, false, Qt::Key_Left, kNone, false, 3, {0, 0}, "left inside a box stays"},
    {3, 0, true, Qt::Key_Left, kNone, false, 3, kAnyCaret, "left over a selection stays"},
    {2, -1, false, Qt::Key_Right, kNone, false, 3, {0, 0}, "right at end: start of next"},
    {1, -1, false, Qt::Key_Down, kNone, false, 2, {0, 0}, "down at end: start of next"},
    {2, 1, false, Qt::Key_Right, kNone, false, 2, {2, 0}, "right inside a box stays"},
    {4, -1, false, Qt::Key_Right, kNone, false, 4, {2, 0}, "right at end of 4, prefix hidden"},
    {4, -1, false, Qt::Key_Right, kNone, true, kMask, {0, 0}, "right at end of 4, prefix shown"},
    {3, 0, false, Qt::Key_Backspace, kNone, false, 2, {2, 0}, "backspace at start: to previous"},
    {1, 0, false, Qt::Key_Backspace, kNone, false, 1, {0, 0}, "backspace at start of box 1 stays"},
    {kMask, 0, false, Qt::Key_Left, kNone, true, 4, {2, 0}, "left at start of prefix: box 4"},
    {kMask, 0, false, Qt::Key_Backspace, kNone, true, 4, {2, 0}, "backspace at start of prefix"},
    {kMask, -1, false, Qt::Key_Right, kNone, true, kMask, {2, 0}, "right at end of prefix stays"},
};
// clang-format on

TEST(IPEditTest, ArrowsAndBackspaceCrossBoxEdgesWithoutEditing) {
    for (const TMoveCase& c : kMoveCases) {
        SCOPED_TRACE(c.Name);
        TFieldWindow f(c.DisplayMask);
        ASSERT_TRUE(f.Active);
        f.Edit->SetText("12.34.56.78");
        f.PlaceCaret(c.Box, c.Caret);
        if (c.SelectAll) f.Box(c.Box)->selectAll();

        TFieldWindow::Press(c.Key, c.Modifiers);

        EXPECT_EQ(f.Focused(), f.Box(c.ToBox));
        if (c.ToCaret != kAnyCaret) {
            EXPECT_EQ(CaretOf(f.Box(c.ToBox)), c.ToCaret);
        }
        EXPECT_EQ(f.Edit->Text(), "12.34.56.78");
        EXPECT_EQ(f.Edit->Mask(), 24);
    }
}

TEST(IPEditTest, BackspaceDeletesOnceTheCaretIsPastTheStart) {
    TFieldWindow f;
    ASSERT_TRUE(f.Active);
    f.Edit->SetText("12.34.56.78");
    f.PlaceCaret(3, 1);
    TFieldWindow::Press(Qt::Key_Backspace);
    EXPECT_EQ(f.Edit->Text(), "12.34.6.78");
    TFieldWindow::Press(Qt::Key_Backspace);  // now at the start: over to box 2
    TFieldWindow::Press(Qt::Key_Backspace);
    EXPECT_EQ(f.Edit->Text(), "12.3.6.78");
    EXPECT_EQ(f.Focused(), f.Box(2));
}

struct TCtrlKeyCase {
    const char* Name;
    Qt::Key Key;
    QString Text;  // what an X server attaches to the key
    int Box;
    int Caret;
    int ToBox;
    TCaret ToCaret;
    const char* Result;  // the texts of box 3 and the prefix box
};

// Ctrl+Backspace types DEL and Ctrl with "." or "/" types nothing: no effect. Ctrl+H types a
// backspace, carried out as the key tables say for one.
TEST(IPEditTest, CtrlKeysActAsTheCharactersTheyType) {
    // clang-format off
    const TCtrlKeyCase cases[] = {
        {"Ctrl+Backspace at start", Qt::Key_Backspace, "\b", 3, 0, 3, {0, 0}, "56 24"},
        {"Ctrl+Backspace inside", Qt::Key_Backspace, "\b", 3, 1, 3, {1, 0}, "56 24"},
        {"Ctrl+Backspace at start of prefix", Qt::Key_Backspace, "\b", kMask, 0, kMask, {0, 0},
         "56 24"},
        {"Ctrl+Backspace inside prefix", Qt::Key_Backspace, "\b", kMask, 1, kMask, {1, 0},
         "56 24"},
        {"Ctrl+H at start", Qt::Key_H, "\b", 3, 0, 2, {2, 0}, "56 24"},
        {"Ctrl+H inside", Qt::Key_H, "\b", 3, 1, 3, {0, 0}, "6 24"},
        {"Ctrl+H at start of prefix", Qt::Key_H, "\b", kMask, 0, 4, {2, 0}, "56 24"},
        {"Ctrl+H inside prefix", Qt::Key_H, "\b", kMask, 1, kMask, {0, 0}, "56 4"},
        {"Ctrl+. at start", Qt::Key_Period, ".", 3, 0, 3, {0, 0}, "56 24"},
        {"Ctrl+. inside", Qt::Key_Period, ".", 3, 1, 3, {1, 0}, "56 24"},
        {"Ctrl+. at start of prefix", Qt::Key_Period, ".", kMask, 0, kMask, {0, 0}, "56 24"},
        {"Ctrl+. inside prefix", Qt::Key_Period, ".", kMask, 1, kMask, {1, 0}, "56 24"},
        {"Ctrl+/ at start", Qt::Key_Slash, "\x1f", 3, 0, 3, {0, 0}, "56 24"},
        {"Ctrl+/ inside", Qt::Key_Slash, "\x1f", 3, 1, 3, {1, 0}, "56 24"},
        {"Ctrl+/ at start of prefix", Qt::Key_Slash, "\x1f", kMask, 0, kMask, {0, 0}, "56 24"},
        {"Ctrl+/ inside prefix", Qt::Key_Slash, "\x1f", kMask, 1, kMask, {1, 0}, "56 24"},
        {"Ctrl+/ in box 4, sent as text", Qt::Key_Slash, "/", 4, 1, 4, {1, 0}, "56 24"},
    };
    // clang-format on
    for (const TCtrlKeyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFieldWindow f(true);
        ASSERT_TRUE(f.Active);
        f.Edit->SetText("12.34.56.78");
        f.PlaceCaret(c.Box, c.Caret);

        TFieldWindow::PressWithText(c.Key, c.Text, Qt::ControlModifier);

        EXPECT_EQ(f.Focused(), f.Box(c.ToBox));
        EXPECT_EQ(CaretOf(f.Box(c.ToBox)), c.ToCaret);
        const QStringList result = QString(c.Result).split(' ');
        EXPECT_EQ(f.Texts(), QStringList({"12", "34", result[0], "78", result[1]}));
    }
}

TEST(IPEditTest, OctetOverflowBeepsAndLeaves255AtTheStart) {
    for (int box = 1; box <= 4; ++box) {
        for (const char* typed : {"300", "256", "999"}) {
            SCOPED_TRACE(testing::Message() << "box " << box << " typed " << typed);
            TFieldWindow f(true);
            ASSERT_TRUE(f.Active);
            f.Box(box)->setFocus(Qt::TabFocusReason);
            f.Box(box)->selectAll();

            TFieldWindow::Type(typed);

            EXPECT_EQ(f.Edit->Beeps, 1);
            EXPECT_EQ(f.Box(box)->text(), "255");
            EXPECT_EQ(f.Focused(), f.Box(box)) << "no advance after an overflow";
            EXPECT_EQ(CaretOf(f.Box(box)), (TCaret{0, 0}));
            EXPECT_EQ(f.Edit->property(qPrintable(QStringLiteral("IP%1").arg(box))).toInt(), 255);
        }
    }
}

TEST(IPEditTest, LeadingZeroIsKeptInTextButNotInTheValue) {
    TFieldWindow f;
    ASSERT_TRUE(f.Active);
    f.TabIntoBox1();
    TFieldWindow::Type("010");
    EXPECT_EQ(f.Edit->IP1(), 10);
    EXPECT_EQ(f.Edit->Text(), "010.0.0.0");
    EXPECT_EQ(f.Focused(), f.Box(2));
}

TEST(IPEditTest, AThirdDigitInBox4AdvancesOnlyToAShownPrefix) {
    for (bool displayMask : {false, true}) {
        SCOPED_TRACE(displayMask ? "prefix shown" : "prefix hidden");
        TFieldWindow f(displayMask);
        ASSERT_TRUE(f.Active);
        f.Box(4)->setFocus(Qt::TabFocusReason);
        f.Box(4)->selectAll();
        TFieldWindow::Type("123");
        EXPECT_EQ(f.Focused(), f.Box(displayMask ? kMask : 4));
        EXPECT_EQ(f.Edit->IP4(), 123);
    }
}

struct TEmptyCase {
    const char* Name;
    int Box;
    Qt::Key Key;
    bool SelectAll;
};

TEST(IPEditTest, AnEmptiedBoxBecomesZero) {
    const TEmptyCase cases[] = {
        {"backspace over the only digit", 2, Qt::Key_Backspace, false},
        {"delete over the selection", 3, Qt::Key_Delete, true},
        {"backspace over the selection", 4, Qt::Key_Backspace, true},
        {"prefix: backspace over the selection", kMask, Qt::Key_Backspace, true},
        {"prefix: delete over the selection", kMask, Qt::Key_Delete, true},
    };
    for (const TEmptyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFieldWindow f(true);
        ASSERT_TRUE(f.Active);
        f.Edit->SetText("7.7.7.7");
        f.Edit->SetMask(7);
        f.PlaceCaret(c.Box, -1);
        if (c.SelectAll) f.Box(c.Box)->selectAll();
        const int changes = f.Changes->count();

        TFieldWindow::Press(c.Key);

        EXPECT_EQ(f.Box(c.Box)->text(), "0");
        EXPECT_EQ(CaretOf(f.Box(c.Box)), (TCaret{0, 0}));
        EXPECT_EQ(f.Changes->count() - changes, 2) << "the emptying and the written 0";
        EXPECT_EQ(f.Focused(), f.Box(c.Box));
    }
}

TEST(IPEditTest, NonDigitKeysAreDiscardedInEveryBox) {
    struct TKey {
        const char* Name;
        Qt::Key Key;
        QString Text;
        Qt::KeyboardModifiers Modifiers;
    };
    const TKey keys[] = {
        {"letter", Qt::Key_A, "a", {}},
        {"capital letter", Qt::Key_X, "X", Qt::ShiftModifier},
        {"blank", Qt::Key_Space, " ", {}},
        {"minus", Qt::Key_Minus, "-", {}},
        {"dollar", Qt::Key_Dollar, "$", Qt::ShiftModifier},
        {"CJK character", Qt::Key_unknown, QString::fromUtf8("中"), {}},
        {"Ctrl+C as control character", Qt::Key_C, QString(QChar(3)), Qt::ControlModifier},
        {"Ctrl+V as control character", Qt::Key_V, QString(QChar(22)), Qt::ControlModifier},
        {"Ctrl+V as letter", Qt::Key_V, "v", Qt::ControlModifier},
        {"Ctrl+V without text", Qt::Key_V, "", Qt::ControlModifier},
        {"Ctrl+X", Qt::Key_X, QString(QChar(24)), Qt::ControlModifier},
        {"Ctrl+Z", Qt::Key_Z, QString(QChar(26)), Qt::ControlModifier},
        {"Return", Qt::Key_Return, "\r", {}},
    };
    QGuiApplication::clipboard()->setText("9");
    for (int box = 1; box <= kMask; ++box) {
        for (const TKey& k : keys) {
            SCOPED_TRACE(testing::Message() << "box " << box << ": " << k.Name);
            TFieldWindow f(true);
            ASSERT_TRUE(f.Active);
            f.Edit->SetText("1.2.3.4");
            f.PlaceCaret(box, 1);
            const QStringList before = f.Texts();
            const int changes = f.Changes->count();

            TFieldWindow::PressWithText(k.Key, k.Text, k.Modifiers);

            EXPECT_EQ(f.Texts(), before);
            EXPECT_EQ(f.Changes->count(), changes);
            EXPECT_EQ(f.Focused(), f.Box(box));
        }
    }
}

TEST(IPEditTest, PrefixBoxClampsTo32AndSelectsIt) {
    TFieldWindow f(true);
    ASSERT_TRUE(f.Active);
    f.Box(kMask)->setFocus(Qt::TabFocusReason);
    f.Box(kMask)->selectAll();

    TFieldWindow::Type("40");

    EXPECT_EQ(f.Box(kMask)->text(), "32");
    EXPECT_EQ(CaretOf(f.Box(kMask)), (TCaret{0, 2}));
    EXPECT_EQ(f.Focused(), f.Box(kMask));
    EXPECT_EQ(f.Edit->Mask(), 32);
    EXPECT_EQ(f.Edit->Beeps, 0) << "a prefix overflow is silent";

    TFieldWindow::Type("./");  // discarded
    EXPECT_EQ(f.Box(kMask)->text(), "32");
    TFieldWindow::Type("8");
    EXPECT_EQ(f.Edit->Mask(), 8);
    EXPECT_EQ(f.Edit->Text(), "0.0.0.0") << "the prefix is never part of the text";
}

TEST(IPEditTest, ReadOnlyRefusesTypingButStillMoves) {
    TFieldWindow f(true);
    ASSERT_TRUE(f.Active);
    f.Edit->SetText("12.34.56.78");
    f.Edit->SetReadOnly(true);
    EXPECT_TRUE(f.Edit->ReadOnly());
    const int changes = f.Changes->count();

    f.PlaceCaret(1, -1);
    TFieldWindow::Type("5");
    TFieldWindow::Press(Qt::Key_Backspace);  // not at the start: left to the box, which refuses
    TFieldWindow::Press(Qt::Key_H, Qt::ControlModifier);  // the same backspace
    EXPECT_EQ(f.Edit->Text(), "12.34.56.78");
    EXPECT_EQ(f.Focused(), f.Box(1));

    TFieldWindow::Type(".");
    EXPECT_EQ(f.Focused(), f.Box(2));
    TFieldWindow::Press(Qt::Key_Right);  // whole text selected: stays
    f.PlaceCaret(2, -1);
    TFieldWindow::Press(Qt::Key_Right);
    EXPECT_EQ(f.Focused(), f.Box(3));
    TFieldWindow::Press(Qt::Key_Backspace);
    EXPECT_EQ(f.Focused(), f.Box(2));
    f.PlaceCaret(4, 2);
    TFieldWindow::Type("/");
    EXPECT_EQ(f.Focused(), f.Box(kMask));
    TFieldWindow::Type("9");
    EXPECT_EQ(f.Edit->Mask(), 24);

    EXPECT_EQ(f.Edit->Text(), "12.34.56.78");
    EXPECT_EQ(f.Changes->count(), changes);

    f.Edit->SetReadOnly(false);
    f.PlaceCaret(1, -1);
    TFieldWindow::Type("3");
    EXPECT_EQ(f.Edit->Text(), "123.34.56.78");
    // Composed input would bypass the key filter; the line edit re-enables it when editable.
    for (int i = 1; i <= kMask; ++i)
        EXPECT_FALSE(f.Box(i)->testAttribute(Qt::WA_InputMethodEnabled)) << i;
}

struct TTextCase {
    const char* Text;
    const char* Result;  // nullptr: rejected
    const char* Error;
};

TEST(IPEditTest, TextSetterAcceptsReducesOrRejects) {
    const TTextCase cases[] = {
        {"10.0.0.1", "10.0.0.1", nullptr},
        {"1.2.3.300", "1.2.3.44", nullptr},
        {"256.-1.0.1", "0.255.0.1", nullptr},
        {" 7.$0A.x1F.0x10", "7.10.31.16", nullptr},
        {"1.2.3", nullptr, "'' is not a valid integer value"},
        {"1.2.3.4.5", nullptr, "'4.5' is not a valid integer value"},
        {"", nullptr, "'' is not a valid integer value"},
        {"a.b.c.d", nullptr, "'a' is not a valid integer value"},
        {"1..2.3", nullptr, "'' is not a valid integer value"},
        {"1.2.3.4 ", nullptr, "'4 ' is not a valid integer value"},
        {"1.2.3.99999999999", nullptr, "'99999999999' is not a valid integer value"},
    };
    for (const TTextCase& c : cases) {
        SCOPED_TRACE(c.Text);
        TIPEdit edit;
        edit.SetText("9.8.7.6");
        QSignalSpy changes(&edit, &TIPEdit::OnChange);
        if (c.Result) {
            EXPECT_NO_THROW(edit.SetText(c.Text));
            EXPECT_EQ(edit.Text(), c.Result);
            continue;
        }
        try {
            edit.SetText(c.Text);
            ADD_FAILURE() << "accepted";
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), c.Error);
        }
        EXPECT_EQ(edit.Text(), "9.8.7.6");
        EXPECT_EQ(changes.count(), 0);
    }
}

TEST(IPEditTest, WritesNeitherMoveTheFocusNorTheCaret) {
    TFieldWindow f(true);
    ASSERT_TRUE(f.Active);
    f.PlaceCaret(2, -1);
    f.Edit->SetText("192.168.100.255");
    f.Edit->SetMask(30);
    EXPECT_EQ(f.Focused(), f.Box(2));
    for (int i = 1; i <= kMask; ++i) EXPECT_EQ(CaretOf(f.Box(i)), (TCaret{0, 0})) << i;
}

struct TNotifyCase {
    const char* Name;
    void (*Write)(TIPEdit&);
    int Changes;
};

TEST(IPEditTest, OnChangeCountsForWrites) {
    const TNotifyCase cases[] = {
        {"IP4 changed", [](TIPEdit& e) { e.SetIP4(1); }, 2},
        {"IP4 unchanged", [](TIPEdit& e) { e.SetIP4(0); }, 1},
        {"IP4 twice",
         [](TIPEdit& e) {
             e.SetIP4(1);
             e.SetIP4(1);
         },
         3},
        {"Text with two octets changed", [](TIPEdit& e) { e.SetText("10.0.0.1"); }, 6},
        {"Text unchanged", [](TIPEdit& e) { e.SetText("0.0.0.0"); }, 4},
        {"Text all changed", [](TIPEdit& e) { e.SetText("1.2.3.4"); }, 8},
        {"Mask changed", [](TIPEdit& e) { e.SetMask(30); }, 2},
        {"Mask unchanged", [](TIPEdit& e) { e.SetMask(24); }, 1},
        {"DisplayMask", [](TIPEdit& e) { e.SetDisplayMask(true); }, 0},
        {"ReadOnly", [](TIPEdit& e) { e.SetReadOnly(true); }, 0},
    };
    for (const TNotifyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIPEdit edit;
        QSignalSpy changes(&edit, &TIPEdit::OnChange);
        // What an owner reads at the last notification is what the write left.
        QString seen = edit.Text();
        int seenMask = edit.Mask();
        QObject::connect(&edit, &TIPEdit::OnChange, [&] {
            seen = edit.Text();
            seenMask = edit.Mask();
        });
        c.Write(edit);
        EXPECT_EQ(changes.count(), c.Changes);
        EXPECT_EQ(seen, edit.Text());
        EXPECT_EQ(seenMask, edit.Mask());
    }
}

TEST(IPEditTest, MaskWritesAreHeldTo0Through32) {
    TIPEdit edit;
    edit.SetMask(99);
    EXPECT_EQ(edit.MaskEdit()->text(), "32");
    edit.SetMask(-3);
    EXPECT_EQ(edit.MaskEdit()->text(), "0");
    edit.SetMask(16);
    EXPECT_EQ(edit.Mask(), 16);
}

TEST(IPEditTest, AddressEqualsTextWithThePrefixShown) {
    TIPEdit edit;
    edit.SetDisplayMask(true);
    edit.SetText("172.16.0.9");
    edit.SetMask(12);
    EXPECT_EQ(edit.Address(), QString("172.16.0.9"));  // never the prefix
    EXPECT_EQ(edit.property("Address").toString(), "172.16.0.9");
    EXPECT_EQ(edit.property("Mask").toInt(), 12);
}

struct TLayoutCase {
    bool DisplayMask;
    int BoxWidth;
    int Boxes[5];  // left of boxes 1..4 and of the prefix box
    int Separators[4];
};

TEST(IPEditTest, LayoutAtWidth130) {
    const TLayoutCase cases[] = {
        {false, 24, {5, 36, 67, 98, 129}, {29, 60, 91, 122}},
        {true, 18, {5, 30, 55, 80, 105}, {23, 48, 73, 98}},
    };
    for (const TLayoutCase& c : cases) {
        SCOPED_TRACE(c.DisplayMask ? "prefix shown" : "prefix hidden");
        TIPEdit edit;
        edit.SetDisplayMask(c.DisplayMask);
        ASSERT_EQ(edit.size(), QSize(130, 20));
        EXPECT_EQ(edit.FramePanel()->geometry(), QRect(0, 0, 130, 20));
        EXPECT_EQ(edit.ClientArea()->geometry(), edit.FramePanel()->contentsRect());
        for (int i = 1; i <= 5; ++i) {
            QLineEdit* box = i == 5 ? edit.MaskEdit() : edit.OctetEdit(i);
            EXPECT_EQ(box->geometry(), QRect(c.Boxes[i - 1], 2, c.BoxWidth, 20)) << "box " << i;
        }
        for (int i = 1; i <= 4; ++i) {
            EXPECT_EQ(edit.Separator(i)->x(), c.Separators[i - 1]) << "separator " << i;
            EXPECT_EQ(edit.Separator(i)->y(), 3);
        }
        EXPECT_EQ(edit.Separator(4)->isHidden(), !c.DisplayMask);
        EXPECT_EQ(edit.MaskEdit()->isHidden(), !c.DisplayMask);
    }
}

TEST(IPEditTest, LayoutFollowsResizeAndNarrowWidthsGiveEmptyBoxes) {
    TIPEdit edit;
    edit.show();
    edit.resize(231, 24);
    EXPECT_EQ(edit.OctetEdit(4)->geometry(), QRect(176, 2, 50, 24));
    edit.resize(20, 20);
    EXPECT_EQ(edit.OctetEdit(2)->width(), 0);
    EXPECT_EQ(edit.OctetEdit(2)->x(), 12);
}

TEST(IPEditTest, PastedNonDigitsAreReportedAndTheProgramGoesOn) {
    TFieldWindow f;
    ASSERT_TRUE(f.Active);
    f.Edit->SetText("1.2.3.4");
    const int changes = f.Changes->count();
    QGuiApplication::clipboard()->setText("abc");
    f.PlaceCaret(2, 0);
    f.Box(2)->selectAll();

    TFieldWindow::Press(Qt::Key_Insert, Qt::ShiftModifier);

    EXPECT_EQ(f.Errors, QStringList{"'abc' is not a valid integer value"});
    EXPECT_EQ(f.Box(2)->text(), "abc");
    EXPECT_EQ(f.Edit->IP2(), 0);
    EXPECT_EQ(f.Edit->Text(), "1.abc.3.4");
    EXPECT_EQ(f.Changes->count(), changes);

    TFieldWindow::Type(".");
    EXPECT_EQ(f.Focused(), f.Box(3));
    TFieldWindow::Type("5");
    EXPECT_EQ(f.Edit->Text(), "1.abc.5.4");
    EXPECT_EQ(f.Changes->count(), changes + 1);
}

TEST(IPEditTest, PasteErrorShowsTheApplicationsMessageBox) {
    TFieldWindow f;
    ASSERT_TRUE(f.Active);
    TApplication::SetErrorBox({});
    QString shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(10);
    QGuiApplication::clipboard()->setText(QString::fromUtf8("一二"));
    f.PlaceCaret(3, 0);
    f.Box(3)->selectAll();

    TFieldWindow::Press(Qt::Key_Insert, Qt::ShiftModifier);

    EXPECT_EQ(shown, QString::fromUtf8("'一二' is not a valid integer value"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.Window)) << "the window is active again";
    EXPECT_EQ(f.Focused(), f.Box(3));
    TFieldWindow::Type(".7");
    EXPECT_EQ(f.Edit->Text(), QString::fromUtf8("0.0.一二.7"));
}

TEST(IPEditTest, PastedPrefixAbove32IsClamped) {
    TFieldWindow f(true);
    ASSERT_TRUE(f.Active);
    QGuiApplication::clipboard()->setText("77");
    f.PlaceCaret(kMask, 0);
    f.Box(kMask)->selectAll();
    TFieldWindow::Press(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(f.Edit->Mask(), 32);
    EXPECT_EQ(CaretOf(f.Box(kMask)), (TCaret{0, 2}));
    EXPECT_TRUE(f.Errors.isEmpty());
}

}  // namespace
