// The About box: the program's name, version and its maker's contact details, two of them links.
#pragma once

#include <QDialog>
#include <memory>

#include "Look.h"

namespace Ui {
class AboutBox;
}

class QMouseEvent;

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    static const char* const WebAddress;
    static const char* const EmailAddress;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void STWebClick();
    void STEmailClick();
    void Image1MouseDown(const QMouseEvent& event);

    std::unique_ptr<Ui::AboutBox> ui_;
    TFrameCentring centring_;
};
