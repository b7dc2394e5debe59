#include "IPMACEdit.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>
#include <string>
#include <string_view>

#include "Application.h"
#include "UTypes.h"

namespace {

constexpr int kBoxTop = 2;
constexpr int kLabelTop = 3;
constexpr char16_t kBackspace = 8;
constexpr char16_t kDel = 127;

// The character a key press types, as an edit box receives it; 0 for keys that type none.
// Ctrl with a letter types its control character and Ctrl+Backspace types DEL, whatever text
// the platform attached; Ctrl with any other key types nothing. Ctrl+Alt is left alone, as some
// keyboards type text with it (AltGr).
char16_t KeyChar(const QKeyEvent& event) {
    const int key = event.key();
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool ctrl = (mods & Qt::ControlModifier) && !(mods & Qt::AltModifier);
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete) return 0;
    if (key == Qt::Key_Backspace) return ctrl ? kDel : kBackspace;
    if (ctrl) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<char16_t>(key - Qt::Key_A + 1);
        return 0;
    }
    const QString text = event.text();
    return text.isEmpty() ? 0 : text.at(0).unicode();
}

// The start of the selection, or the caret when nothing is selected.
int SelStart(const QLineEdit* box) {
    return box->hasSelectedText() ? box->selectionStart() : box->cursorPosition();
}

bool CaretAtStart(const QLineEdit* box) { return !box->hasSelectedText() && SelStart(box) == 0; }

bool CaretAtEnd(const QLineEdit* box) {
    return !box->hasSelectedText() && SelStart(box) == box->text().size();
}

int TagOf(const QObject* part) { return part->property("Tag").toInt(); }

bool ReadInt(const QString& text, std::int32_t& value) {
    return TryStrToInt(text.toStdString(), value);
}

}  // namespace

TIPEdit::TIPEdit(QWidget* parent) : QWidget(parent) {
    resize(130, 20);

    FFramePanel = new QFrame(this);
    FFramePanel->move(0, 0);
    FFramePanel->setFrameStyle(QFrame::Box | QFrame::Plain);
    FFramePanel->setLineWidth(1);
    FFramePanel->setBackgroundRole(QPalette::Base);
    FFramePanel->setAutoFillBackground(true);
    FClientArea = new QWidget(FFramePanel);

    for (QLabel*& separator : FSeparators) {
        separator = new QLabel(QStringLiteral("."), FClientArea);
        separator->setGeometry(0, kLabelTop, 7, height());
        separator->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    FSeparators[3]->setText(QStringLiteral("/"));

    for (int i = 1; i <= 4; ++i) FOctetEdits[i - 1] = CreateBox(QStringLiteral("0"), 3, i);
    FMaskEdit = CreateBox(QStringLiteral("24"), 2, 0);

    FDisplayMask = false;
    SetDisplayMask(false);
}

TIPEdit::~TIPEdit() {
    for (int i = 0; i < 4; ++i) {
        delete FSeparators[i];
        delete FOctetEdits[i];
    }
    delete FMaskEdit;
    delete FFramePanel;
}

QLineEdit* TIPEdit::CreateBox(const QString& text, int maxLength, int tag) {
    auto* box = new QLineEdit(text, FClientArea);
    box->move(0, kBoxTop);
    box->setProperty("Tag", tag);
    box->setMaxLength(maxLength);
    box->setFrame(false);
    // Text at the top, level with the separator labels (boxes are taller than the panel), and
    // over the box's whole width: the line edit's own 2-pixel side margins would cut the third
    // digit of an 18-pixel box.
    box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->setTextMargins(-2, 0, -2, 0);
    box->setCursorPosition(0);
    // Keys must pass the filter below: no drops, no input method composing text around it.
    box->setAcceptDrops(false);
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    box->installEventFilter(this);
    connect(box, &QLineEdit::textChanged, this,
            [this, box] { Guarded([&] { RunChangeHandler(box); }); });
    return box;
}

quint8 TIPEdit::OctetValue(int i) const {
    std::int32_t v = 0;
    if (!ReadInt(OctetEdit(i)->text(), v)) return 0;
    return static_cast<quint8>(std::clamp(v, 0, 255));
}

void TIPEdit::SetOctet(int i, quint8 value) {
    WriteBoxText(OctetEdit(i), QString::number(value));
    NotifyChange();
}

int TIPEdit::Mask() const {
    std::int32_t v = 0;
    if (!ReadInt(FMaskEdit->text(), v)) return 0;
    return std::clamp(v, 0, 32);
}

void TIPEdit::SetMask(int value) {
    WriteBoxText(FMaskEdit, QString::number(std::clamp(value, 0, 32)));
    NotifyChange();
}

void TIPEdit::SetDisplayMask(bool value) {
    FDisplayMask = value;
    FSeparators[3]->setVisible(value);
    FMaskEdit->setVisible(value);
    UpdateLayout();
}

QString TIPEdit::Text() const {
    QStringList parts;
    for (const QLineEdit* box : FOctetEdits) parts << box->text();
    return parts.join(QLatin1Char('.'));
}

void TIPEdit::SetText(const QString& text) {
    const std::string whole = text.toStdString();
    const std::string_view rest(whole);
    std::array<quint8, 4> octets{};
    std::size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        const std::size_t dot = rest.find('.', pos);
        const std::string_view part =
            dot == std::string_view::npos ? std::string_view() : rest.substr(pos, dot - pos);
        octets[k] = static_cast<quint8>(StrToInt(part) & 0xFF);
        pos = dot + 1;
    }
    octets[3] = static_cast<quint8>(StrToInt(rest.substr(pos)) & 0xFF);
    for (int i = 1; i <= 4; ++i) SetOctet(i, octets[i - 1]);
}

void TIPEdit::SetReadOnly(bool value) {
    FReadOnly = value;
    for (QLineEdit* box :
         {FOctetEdits[0], FOctetEdits[1], FOctetEdits[2], FOctetEdits[3], FMaskEdit}) {
        box->setReadOnly(value);
        // The line edit turns its input method back on along with the read-only state.
        box->setAttribute(Qt::WA_InputMethodEnabled, false);
    }
}

void TIPEdit::NotifyChange() { emit OnChange(); }

void TIPEdit::SoundBeep() { QApplication::beep(); }

bool TIPEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const bool isMask = watched == FMaskEdit;
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    bool discard = false;
    Guarded([&] {
        if (isMask) {
            MaskKeyDown(watched, keyEvent->key());
        } else {
            OctetKeyDown(watched, keyEvent->key());
        }
        char16_t key = KeyChar(*keyEvent);
        if (key == 0) return;
        if (isMask) {
            MaskKeyPress(watched, key);
        } else {
            OctetKeyPress(watched, key);
        }
        discard = key == 0;
        // A backspace typed by another key (Ctrl+H) is carried out as the Backspace key's is.
        if (key == kBackspace && keyEvent->key() != Qt::Key_Backspace) {
            QLineEdit* box = BoxOf(watched);
            if (!box->isReadOnly()) box->backspace();
            discard = true;
        }
    });
    return discard;
}

void TIPEdit::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateLayout();
}

void TIPEdit::OctetKeyPress(QObject* sender, char16_t& key) {
    QLineEdit* box = BoxOf(sender);
    const int i = TagOf(box);
    if (key == kBackspace) {
        if (!CaretAtStart(box)) return;
        key = 0;
        if (i >= 2) FocusBoxAtEnd(OctetEdit(i - 1));
    } else if (key == u'.' || key == u'/') {
        key = 0;
        if (i <= 3) {
            if (SelStart(box) != 0) FocusBox(OctetEdit(i + 1));
        } else if (!FMaskEdit->isHidden()) {
            FocusBox(FMaskEdit);
        }
    } else if (key < u'0' || key > u'9') {
        key = 0;
    }
}

void TIPEdit::OctetKeyDown(QObject* sender, int key) {
    QLineEdit* box = BoxOf(sender);
    const int i = TagOf(box);
    if (key == Qt::Key_Left || key == Qt::Key_Up) {
        if (CaretAtStart(box) && i >= 2) FocusBoxAtEnd(OctetEdit(i - 1));
    } else if (key == Qt::Key_Right || key == Qt::Key_Down) {
        if (!CaretAtEnd(box)) return;
        if (i <= 3) {
            FocusBoxAtStart(OctetEdit(i + 1));
        } else if (!FMaskEdit->isHidden()) {
            FocusBoxAtStart(FMaskEdit);
        }
    }
}

void TIPEdit::OctetChange(QObject* sender) {
    QLineEdit* box = BoxOf(sender);
    const int i = TagOf(box);
    if (box->text().isEmpty()) {
        WriteBoxText(box, QStringLiteral("0"));
        NotifyChange();
        return;
    }
    if (StrToInt(box->text().toStdString()) > 255) {
        SoundBeep();
        WriteBoxText(box, QStringLiteral("255"));
        FocusBoxAtStart(box);
    } else if (SelStart(box) == box->maxLength()) {
        QLineEdit* next = i <= 3 ? OctetEdit(i + 1) : nullptr;
        if (next && !next->isHidden()) {
            FocusBox(next);
        } else if (!FMaskEdit->isHidden()) {
            FocusBox(FMaskEdit);
        }
    }
    NotifyChange();
}

void TIPEdit::MaskKeyPress(QObject* sender, char16_t& key) {
    QLineEdit* box = BoxOf(sender);
    if (key == kBackspace) {
        if (!CaretAtStart(box)) return;
        key = 0;
        FocusBoxAtEnd(OctetEdit(4));
    } else if (key < u'0' || key > u'9') {
        key = 0;
    }
}

void TIPEdit::MaskKeyDown(QObject* sender, int key) {
    QLineEdit* box = BoxOf(sender);
    if ((key == Qt::Key_Left || key == Qt::Key_Up) && CaretAtStart(box))
        FocusBoxAtEnd(OctetEdit(4));
}

void TIPEdit::MaskChange(QObject* sender) {
    QLineEdit* box = BoxOf(sender);
    if (box->text().isEmpty()) WriteBoxText(box, QStringLiteral("0"));
    if (StrToInt(box->text().toStdString()) > 32) {
        WriteBoxText(box, QStringLiteral("32"));
        box->selectAll();
        box->setFocus(Qt::OtherFocusReason);
    }
    NotifyChange();
}

void TIPEdit::UpdateLayout() {
    const int width = this->width();
    const int height = this->height();
    FFramePanel->resize(width, height);
    FClientArea->setGeometry(FFramePanel->contentsRect());
    // Margins of 5 at both ends, gaps of 7 between the boxes; nothing left below the minimum.
    const int w = std::max(0, FDisplayMask ? (width - 38) / 5 : (width - 31) / 4);
    for (int i = 1; i <= 4; ++i) {
        OctetEdit(i)->setGeometry((i - 1) * (w + 7) + 5, kBoxTop, w, height);
        QLabel* separator = Separator(i);
        separator->setGeometry(i * w + 7 * i - 2, kLabelTop, separator->sizeHint().width(), height);
    }
    FMaskEdit->setGeometry(4 * w + 33, kBoxTop, w, height);
}

QLineEdit* TIPEdit::BoxOf(QObject* sender) const { return qobject_cast<QLineEdit*>(sender); }

void TIPEdit::WriteBoxText(QLineEdit* box, const QString& text) {
    if (box->text() == text) return;
    {
        const QSignalBlocker blocker(box);
        box->setText(text);
        box->setCursorPosition(0);
    }
    RunChangeHandler(box);
}

void TIPEdit::RunChangeHandler(QLineEdit* box) {
    if (box == FMaskEdit) {
        MaskChange(box);
    } else {
        OctetChange(box);
    }
}

void TIPEdit::FocusBox(QLineEdit* box) {
    box->setFocus(Qt::TabFocusReason);
    box->selectAll();
}

void TIPEdit::FocusBoxAtEnd(QLineEdit* box) {
    box->setFocus(Qt::OtherFocusReason);
    box->setCursorPosition(static_cast<int>(box->text().size()));
}

void TIPEdit::FocusBoxAtStart(QLineEdit* box) {
    box->setFocus(Qt::OtherFocusReason);
    box->setCursorPosition(0);
}
