#include "Look.h"

#include <QWidget>
#include <QtGlobal>
#include <algorithm>

void PrepareLook() {
    // The icon is compiled into a static library, so its registration is made explicitly.
    static const bool done = [] {
        Q_INIT_RESOURCE(quorvel);
        return true;
    }();
    (void)done;
}

QPoint CentredFramePos(const QRect& over, const QSize& frame, const QRect& screen) {
    // Half the difference, truncated toward zero.
    int x = over.x() + (over.width() - frame.width()) / 2;
    int y = over.y() + (over.height() - frame.height()) / 2;
    x = std::max(std::min(x, screen.x() + screen.width() - frame.width()), screen.x());
    y = std::max(std::min(y, screen.y() + screen.height() - frame.height()), screen.y());
    return {x, y};
}

void TFrameCentring::Centre(QWidget* window, const QRect& over, const QRect& screen) {
    over_ = over;
    screen_ = screen;
    frame_ = window->frameGeometry().size();
    waiting_ = true;
    window->move(CentredFramePos(over_, frame_, screen_));
}

void TFrameCentring::Moved(QWidget* window) {
    if (!waiting_ || window->frameGeometry().size() == frame_) return;
    waiting_ = false;
    frame_ = window->frameGeometry().size();
    window->move(CentredFramePos(over_, frame_, screen_));
}
