// The application object and its handler for errors that escape an event handler.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <functional>

class TApplication : public QApplication {
    Q_OBJECT
  public:
    using TErrorBox = std::function<void(const QString& text)>;

    TApplication(int& argc, char** argv);

    // An error escaping any event handler is reported, and the event counts as handled.
    // This is the last resort: the toolkit is built without exception support, so unwinding
    // through it skips its cleanups (a key event leaks a guard pointer); handlers of our own
    // run under Guarded instead.
    bool notify(QObject* receiver, QEvent* event) override;

    // Reports the error being handled (call inside a catch block) in a message box.
    static void HandleException();
    static void ShowException(const QString& text);

    // Replaces the message box (for tests); an empty function restores it.
    static void SetErrorBox(TErrorBox box);
};

// Shows a modal message box with an OK button; its text is shown as it stands, never read as
// markup (it may hold what a user pasted). Returns the button that closed it.
int ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                   const QString& text);

// Runs a handler so that an error escaping it reaches the application's handler instead of
// unwinding through the toolkit.
template <class F>
void Guarded(F&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        TApplication::HandleException();
    }
}
