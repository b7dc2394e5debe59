#include "LinuxIo.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

TFd& TFd::operator=(TFd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

TFd::~TFd() {
    if (fd_ >= 0) close(fd_);
}

TCancelFlag::TCancelFlag() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void TCancelFlag::Raise() {
    std::uint64_t one = 1;
    while (write(fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool TCancelFlag::Raised() const {
    pollfd p{fd_.Get(), POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    return r > 0;
}

TWaitResult WaitReadable(int fd, const TCancelFlag& cancel, TClock::time_point deadline) {
    for (;;) {
        auto left = deadline - TClock::now();
        if (left < TClock::duration::zero()) left = TClock::duration::zero();
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p[2] = {{fd, POLLIN, 0}, {cancel.Fd(), POLLIN, 0}};
        int r = ppoll(p, 2, &ts, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return TWaitResult::Cancelled;  // a broken descriptor: nothing to wait for
        if (p[1].revents != 0) return TWaitResult::Cancelled;
        if (p[0].revents != 0) return TWaitResult::Readable;
        if (TClock::now() >= deadline) return TWaitResult::TimedOut;
    }
}
