#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

// Registers the windows' compiled-in pictures (the program icon); safe to call more than once.
void PrepareLook();

// Where a window's frame goes (its top-left corner) to stand centred over an area: a screen, or
// another window's frame. Then kept inside the screen where it fits; a frame larger than the
// screen keeps its top-left corner on it.
QPoint CentredFramePos(const QRect& over, const QSize& frame, const QRect& screen);

// Centres a window, frame included, when it is shown (call from its showEvent), and once more
// when the window manager's frame around it becomes known: only after the window is up, and
// without a move of the window itself when the manager keeps the client area where it was.
class TFrameCentring : public QObject {
  public:
    void Centre(QWidget* window, const QRect& over, const QRect& screen);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> window_;
    QRect over_;
    QRect screen_;
    QSize frame_;
};
