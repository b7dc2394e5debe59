// The About box: the program's name, version and its maker's contact details, two of them links.
#pragma once

#include <QDialog>
#include <memory>

#include "Look.h"

namespace Ui {
class AboutBox;
}

class QLabel;
class QMouseEvent;
class QUrl;

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    static const char* const WebAddress;
    static const char* const EmailAddress;
    static const char* const RootLinkMessage;
    // Whether the effective user is root: the links then stay shut, so that no browser or mail
    // client starts as root. Tests replace it.
    static bool (*RunsAsRoot)();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void STWebClick();
    void STEmailClick();
    void OpenLink(const QLabel& link, const QUrl& url);
    void Image1MouseDown(const QMouseEvent& event);

    std::unique_ptr<Ui::AboutBox> ui_;
    TFrameCentring centring_;
};
