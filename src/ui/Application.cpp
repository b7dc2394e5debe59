#include "Application.h"

#include <QMessageBox>
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

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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
    if (ErrorBox()) {
        ErrorBox()(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                          text);
}

void TApplication::SetErrorBox(TErrorBox box) { ErrorBox() = std::move(box); }
