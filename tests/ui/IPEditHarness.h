// A shown, active window holding one address field behind an ordinary line edit, so that Tab
// reaches box 1 as it does on a form; keys go to whatever has the focus.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <memory>
#include <ostream>

#include "Application.h"
#include "IPMACEdit.h"

// The real field; only its beep is counted instead of sounded.
class TCountingIPEdit : public TIPEdit {
  public:
    using TIPEdit::TIPEdit;
    int Beeps = 0;

  protected:
    void SoundBeep() override { ++Beeps; }
};

class TFieldWindow {
  public:
    explicit TFieldWindow(bool displayMask = false) {
        Before = new QLineEdit(&Window);
        Before->setGeometry(5, 5, 60, 20);
        Edit = new TCountingIPEdit(&Window);
        Edit->move(5, 40);
        Edit->SetDisplayMask(displayMask);
        Window.resize(200, 80);
        Window.show();
        // Without a window manager (a bare X server) the window only takes the focus once mapped.
        Active = QTest::qWaitForWindowExposed(&Window);
        Window.activateWindow();
        Active = Active && QTest::qWaitForWindowActive(&Window);
        Changes = std::make_unique<QSignalSpy>(Edit, &TIPEdit::OnChange);
        TApplication::SetErrorBox([this](const QString& text) { Errors << text; });
    }
    ~TFieldWindow() { TApplication::SetErrorBox({}); }

    // Box 1..4, or 5 for the prefix box.
    QLineEdit* Box(int i) const { return i == 5 ? Edit->MaskEdit() : Edit->OctetEdit(i); }

    static QWidget* Focused() { return QApplication::focusWidget(); }

    // Where keys go; reports a failure instead of sending them nowhere.
    static QWidget* KeyTarget() {
        QWidget* target = Focused();
        if (!target) ADD_FAILURE() << "no widget has the focus";
        return target;
    }

    void TabIntoBox1() {
        Before->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(Before, Qt::Key_Tab);
    }

    // Focuses box i with the caret at pos (-1: the end) and nothing selected.
    void PlaceCaret(int i, int pos) {
        QLineEdit* box = Box(i);
        box->setFocus(Qt::OtherFocusReason);
        box->setCursorPosition(pos < 0 ? box->text().size() : pos);
    }

    static void Type(const QString& chars) {
        for (QChar c : chars) {
            if (QWidget* target = KeyTarget()) QTest::keyClick(target, c.toLatin1());
        }
    }

    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (QWidget* target = KeyTarget()) QTest::keyClick(target, key, modifiers);
    }

    // Sends a key with the text a platform may attach to it (control characters, non-Latin).
    static void PressWithText(Qt::Key key, const QString& text,
                              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (QWidget* target = KeyTarget())
            QTest::sendKeyEvent(QTest::Click, target, key, text, modifiers);
    }

    QStringList Texts() const {
        QStringList texts;
        for (int i = 1; i <= 5; ++i) texts << Box(i)->text();
        return texts;
    }

    QWidget Window;
    QLineEdit* Before = nullptr;
    TCountingIPEdit* Edit = nullptr;
    bool Active = false;
    std::unique_ptr<QSignalSpy> Changes;
    QStringList Errors;
};

// Where the caret stands in a box: its start and the length of the selection.
struct TCaret {
    int Start;
    int Length;
    bool operator==(const TCaret&) const = default;
};

inline TCaret CaretOf(const QLineEdit* box) {
    if (box->hasSelectedText()) return {box->selectionStart(), int(box->selectedText().size())};
    return {box->cursorPosition(), 0};
}

inline std::ostream& operator<<(std::ostream& os, const TCaret& c) {
    return os << "{start " << c.Start << ", selected " << c.Length << "}";
}

inline std::ostream& operator<<(std::ostream& os, const QString& s) {
    return os << '"' << s.toStdString() << '"';
}
