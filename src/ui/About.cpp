#include "About.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "Look.h"
#include "ui_About.h"

namespace {

bool EffectiveUserIsRoot() {
#ifdef _WIN32
    return false;
#else
    return geteuid() == 0;
#endif
}

}  // namespace

const char* const TAboutBox::WebAddress = "https://quorvel.example";
const char* const TAboutBox::EmailAddress = "mail@quorvel.example";
const char* const TAboutBox::RootLinkMessage =
    "程序正以 root 身份运行。为安全起见不打开链接，以免浏览器或邮件程序也以 root 身份运行。\n"
    "可以选中地址后复制，再以普通用户身份打开。";
bool (*TAboutBox::RunsAsRoot)() = EffectiveUserIsRoot;

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
    if (RunsAsRoot()) {
        for (QLabel* link : {ui_->STWeb, ui_->STEmail}) {
            link->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        }
    }
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

void TAboutBox::STWebClick() { OpenLink(*ui_->STWeb, QUrl(ui_->STWeb->text())); }

void TAboutBox::STEmailClick() {
    OpenLink(*ui_->STEmail, QUrl(QStringLiteral("mailto:") + ui_->STEmail->text()));
}

void TAboutBox::OpenLink(const QLabel& link, const QUrl& url) {
    if (!RunsAsRoot()) {
        QDesktopServices::openUrl(url);
        return;
    }
    // A drag that selected the address to copy it is no click on the link.
    if (link.hasSelectedText()) return;
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"),
                    QString::fromUtf8(RootLinkMessage), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TAboutBox::Image1MouseDown(const QMouseEvent& event) {
    if (event.modifiers() & Qt::ShiftModifier) ui_->CopyRight->setText(QStringLiteral(":-)"));
}
