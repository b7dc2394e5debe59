// The worker's way to the main thread, over Qt's event queue: hand-offs and end notices are
// served by whatever event loop the main thread runs, modal dialogs' loops included.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "ScanIPThread.h"

class QObject;

class TQtDispatcher : public TDispatcher {
  public:
    // Made on the main thread; calls are delivered to the thread it was made on.
    TQtDispatcher();
    ~TQtDispatcher() override;
    TQtDispatcher(const TQtDispatcher&) = delete;
    TQtDispatcher& operator=(const TQtDispatcher&) = delete;

    void Synchronize(const std::function<void()>& fn) override;
    void Queue(std::function<void()> fn) override;

    // For the window going away: a worker waiting in Synchronize returns at once, and later
    // Synchronize calls return without running anything. Queued notices still run.
    void Close();
    bool Closed() const;

  private:
    struct TState {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Closed = false;
    };

    QObject* context_;
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};
