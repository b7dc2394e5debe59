// A stop asked of the whole program from outside (Ctrl+C, a service manager's stop), turned into
// a call on a thread of its own instead of the end of the process.
#pragma once

#include <functional>
#include <memory>

class TStopSignals {
  public:
    // POSIX: SIGINT and SIGTERM, blocked from here on for every thread made later (make it
    // before any other thread). Windows: the console's Ctrl+C, Ctrl+Break and close.
    explicit TStopSignals(std::function<void()> onStop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};
