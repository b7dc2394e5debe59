// A stop asked of the whole program from outside (Ctrl+C, a service manager's stop), turned into
// a call on a thread of its own instead of the end of the process.
#pragma once

#include <functional>
#include <memory>

class TStopSignals {
  public:
    // POSIX: SIGINT, SIGTERM and SIGHUP, blocked from here on for every thread made later (make
    // it before any other thread). Windows: the console's Ctrl+C, Ctrl+Break, close, log-off and
    // shutdown; after the last three the process ends when the handler returns, so it waits
    // there (about 5 s at most) until this object is destroyed, which the owner does once the
    // scan's last save is done.
    explicit TStopSignals(std::function<void()> onStop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};
