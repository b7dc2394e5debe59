#pragma once

#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <QWindow>

// Registers the windows' compiled-in pictures (the program icon); safe to call more than once.
void PrepareLook();

// Where a window's frame goes (its top-left corner) to stand centred over an area: a screen, or
// another window's frame. Then kept inside the screen where it fits; a frame larger than the
// screen keeps its top-left corner on it.
QPoint CentredFramePos(const QRect& over, const QSize& frame, const QRect& screen);

// Centres a window, frame included, when it is shown (call from its showEvent), and again each
// time the frame around it changes while it is up. A window manager frames a new window in steps
// (an empty frame first, then the frame with the window not yet in its place), so the frame read
// first can be wrong; the last one is right. A move keeps the frame as it is, so a window the user
// has moved stays where it was put.
class TFrameCentring : public QObject {
  public:
    void Centre(QWidget* window, const QRect& over, const QRect& screen);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWindow> window_;
    QRect over_;
    QRect screen_;
    QMargins frame_;
};
