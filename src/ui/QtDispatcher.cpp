#include "QtDispatcher.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

TQtDispatcher::TQtDispatcher() : context_(new QObject) {}

TQtDispatcher::~TQtDispatcher() {
    Close();
    // The last owner may be the worker; the context belongs to the main thread.
    if (QThread::currentThread() == context_->thread()) {
        delete context_;
    } else {
        context_->deleteLater();
    }
}

void TQtDispatcher::Synchronize(const std::function<void()>& fn) {
    if (QThread::currentThread() == context_->thread()) {
        fn();
        return;
    }
    struct TCall {
        std::function<void()> Fn;
        bool Done = false;
    };
    auto call = std::make_shared<TCall>(TCall{fn});
    std::unique_lock lock(state_->Mutex);
    if (state_->Closed) return;
    QMetaObject::invokeMethod(
        context_,
        [state = state_, call] {
            {
                std::lock_guard guard(state->Mutex);
                if (state->Closed) return;
            }
            // Releases the worker even when the call throws (the application reports it).
            struct TRelease {
                TState& S;
                TCall& C;
                ~TRelease() {
                    std::lock_guard guard(S.Mutex);
                    C.Done = true;
                    S.Done.notify_all();
                }
            } release{*state, *call};
            call->Fn();
        },
        Qt::QueuedConnection);
    state_->Done.wait(lock, [&] { return call->Done || state_->Closed; });
}

void TQtDispatcher::Queue(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

void TQtDispatcher::Close() {
    std::lock_guard guard(state_->Mutex);
    state_->Closed = true;
    state_->Done.notify_all();
}

bool TQtDispatcher::Closed() const {
    std::lock_guard guard(state_->Mutex);
    return state_->Closed;
}
