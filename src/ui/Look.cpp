#include "Look.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>
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
    window_ = window;
    over_ = over;
    screen_ = screen;
    // Reading the frame also brings the window's idea of it up to date, which move() relies on.
    frame_ = window->frameGeometry().size();
    window->move(CentredFramePos(over_, frame_, screen_));
    if (QWindow* handle = window->windowHandle()) handle->installEventFilter(this);
}

bool TFrameCentring::eventFilter(QObject* watched, QEvent* event) {
    // Any event of the window (its exposure, moves, activation) may be the first one after the
    // manager framed it; the frame is looked at until it has changed once, or the window hides.
    if (window_ && watched == window_->windowHandle()) {
        if (event->type() == QEvent::Hide) {
            watched->removeEventFilter(this);
        } else if (window_->frameGeometry().size() != frame_) {
            watched->removeEventFilter(this);
            frame_ = window_->frameGeometry().size();
            window_->move(CentredFramePos(over_, frame_, screen_));
        }
    }
    return QObject::eventFilter(watched, event);
}
