#include "Look.h"

#include <QEvent>
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
    if (window_) window_->removeEventFilter(this);
    over_ = over;
    screen_ = screen;
    // Reading the frame also brings the window's idea of it up to date, which move() relies on.
    window->move(CentredFramePos(over_, window->frameGeometry().size(), screen_));
    window_ = window->windowHandle();
    if (window_) {
        frame_ = window_->frameMargins();
        window_->installEventFilter(this);
    }
}

bool TFrameCentring::eventFilter(QObject* watched, QEvent* event) {
    // The frame is asked of the window system itself: the widget's own copy of it is brought up
    // to date only when the window moves or is resized, and the manager's last step may do
    // neither. A frame that does not yet hold the window (the manager's empty one) is passed by.
    if (window_ && watched == window_) {
        const QMargins frame = window_->frameMargins();
        if (event->type() == QEvent::Hide) {
            window_->removeEventFilter(this);
        } else if (frame != frame_ && frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 &&
                   frame.bottom() >= 0) {
            frame_ = frame;
            const QPoint pos = CentredFramePos(over_, window_->size().grownBy(frame), screen_);
            window_->setPosition(pos + QPoint(frame.left(), frame.top()));
        }
    }
    return QObject::eventFilter(watched, event);
}
