#include "Application.h"

#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <exception>

namespace {

TApplication::TErrorBox& ErrorBox() {
    static TApplication::TErrorBox box;
    return box;
}

QString CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The windows ask for 宋体; where it is missing, a CJK face whose digits are as narrow keeps
    // three digits inside an address box.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei Mono"),
                                QStringLiteral("Noto Sans Mono CJK SC")});
    // The name of the installed menu entry, by which the desktop groups the window under it.
    setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException();
        return true;
    }
}

void TApplication::HandleException() { ShowException(CurrentErrorText()); }

void TApplication::ShowException(const QString& text) {
    // A box belongs to the main thread; an error caught elsewhere is shown from there.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qWarning("%s", qUtf8Printable(text));
        return;
    }
    if (QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [text] { ShowException(text); }, Qt::QueuedConnection);
        return;
    }
    if (ErrorBox()) {
        ErrorBox()(text);
        return;
    }
    // Without a window manager nothing hands the focus back once the box is gone.
    const QPointer<QWidget> active = QApplication::activeWindow();
    ShowMessageBox(active, QMessageBox::Critical, QApplication::applicationDisplayName(), text);
    if (active) active->activateWindow();
}

void TApplication::SetErrorBox(TErrorBox box) { ErrorBox() = std::move(box); }

int ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                   const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}
