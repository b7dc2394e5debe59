#include "About.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

#include "Look.h"
#include "ui_About.h"

const char* const TAboutBox::WebAddress = "https://quorvel.example";
const char* const TAboutBox::EmailAddress = "mail@quorvel.example";

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutBox>()) {
    PrepareLook();
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // Static texts size themselves to their text, whatever the font on this system.
    for (QLabel* label : ui_->Panel1->findChildren<QLabel*>()) {
        if (label != ui_->Image1) label->adjustSize();
    }
    // Each link opens exactly what it shows.
    ui_->STWeb->setText(QString::fromLatin1(WebAddress));
    ui_->STEmail->setText(QString::fromLatin1(EmailAddress));
    for (QObject* child : {static_cast<QObject*>(ui_->Image1), static_cast<QObject*>(ui_->STWeb),
                           static_cast<QObject*>(ui_->STEmail)}) {
        child->installEventFilter(this);
    }
}

TAboutBox::~TAboutBox() = default;

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    // The second press of a quick double click comes as a double click.
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (press && watched == ui_->Image1) {
        Image1MouseDown(*static_cast<QMouseEvent*>(event));
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = static_cast<QWidget*>(watched);
        // A click ends where it began: on the link.
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == ui_->STWeb) STWebClick();
            if (watched == ui_->STEmail) STEmailClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // No cancel button: Escape leaves the box open; Enter and the title bar's button close it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
    // Over the window that opened it, or else over the screen.
    if (QScreen* s = screen()) {
        const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
        const QRect screenArea = s->availableGeometry();
        centring_.Centre(this, owner ? owner->frameGeometry() : screenArea, screenArea);
    }
    QDialog::showEvent(event);
}

void TAboutBox::STWebClick() { QDesktopServices::openUrl(QUrl(ui_->STWeb->text())); }

void TAboutBox::STEmailClick() {
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + ui_->STEmail->text()));
}

void TAboutBox::Image1MouseDown(const QMouseEvent& event) {
    if (event.modifiers() & Qt::ShiftModifier) ui_->CopyRight->setText(QStringLiteral(":-)"));
}
