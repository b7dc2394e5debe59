#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Registers the windows' compiled-in pictures (the program icon); safe to call more than once.
void PrepareLook();

// Where a window's frame goes (its top-left corner) to stand centred over an area: a screen, or
// another window's frame. Then kept inside the screen where it fits; a frame larger than the
// screen keeps its top-left corner on it.
QPoint CentredFramePos(const QRect& over, const QSize& frame, const QRect& screen);

// Centres a window, frame included, when it is shown, and once more when the window manager's
// frame around it becomes known, which happens only after the window is up.
class TFrameCentring {
  public:
    // From the window's showEvent.
    void Centre(QWidget* window, const QRect& over, const QRect& screen);
    // From the window's moveEvent.
    void Moved(QWidget* window);

  private:
    QRect over_;
    QRect screen_;
    QSize frame_;
    bool waiting_ = false;
};
