// A TDispatcher for programs without a window toolkit: the "main thread" is whichever thread
// calls Run..., which runs the routines that workers hand to it, in the order they came.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "ScanIPThread.h"

class TQueueDispatcher : public TDispatcher {
  public:
    void Synchronize(const std::function<void()>& fn) override;
    void Queue(std::function<void()> fn) override;

    // Runs queued routines until done() is true after one of them (checked first too) or the
    // timeout passes; true when done() became true.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    // One for every hand-off: a new one each time costs the system objects behind it (Wine).
    std::condition_variable doneWake_;
    std::deque<std::function<void()>> queue_;
};
