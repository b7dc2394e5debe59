// Small helpers for the Linux probes: an owned descriptor, a cancel flag that poll can wait
// on, and a wait for a readable socket with a deadline.
#pragma once

#include <chrono>

using TClock = std::chrono::steady_clock;

class TFd {
  public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    TFd(TFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    TFd& operator=(TFd&& o) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Once raised it stays raised: every later wait ends at once.
class TCancelFlag {
  public:
    TCancelFlag();
    void Raise();
    bool Raised() const;
    int Fd() const { return fd_.Get(); }

  private:
    TFd fd_;
};

enum class TWaitResult { Readable, TimedOut, Cancelled };

// Waits until fd is readable, the deadline passes or cancel is raised; interrupted waits go on.
TWaitResult WaitReadable(int fd, const TCancelFlag& cancel, TClock::time_point deadline);
