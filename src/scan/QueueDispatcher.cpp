#include "QueueDispatcher.h"

#include <exception>

void TQueueDispatcher::Synchronize(const std::function<void()>& fn) {
    bool done = false;
    std::exception_ptr error;
    Queue([&] {
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        done = true;
        doneWake_.notify_all();
    });
    std::unique_lock lock(mutex_);
    doneWake_.wait(lock, [&] { return done; });
    // As the framework does: an error in the routine reaches the thread that asked for it.
    if (error) std::rethrow_exception(error);
}

void TQueueDispatcher::Queue(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
    wake_.notify_one();
}

bool TQueueDispatcher::RunUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::function<void()> fn;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return false;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
    }
    return true;
}
