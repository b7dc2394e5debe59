#include "RawSocket.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "FrameLinkPacket.h"

namespace {

TFd& Held() {
    static TFd sock;
    return sock;
}

// Replies that came in between two scans are stale: the next probe must not take them for
// answers to its own requests.
void Drain(int fd) {
    char frame[64];
    while (recv(fd, frame, sizeof frame, MSG_DONTWAIT | MSG_TRUNC) >= 0 || errno == EINTR) {
    }
}

// A locked filter cannot be detached or replaced (EPERM) for the socket's whole life: the
// socket stays an ARP-replies-only socket whatever runs in this process later.
std::string LockFilter(int fd) {
    socklen_t blocks = 0;  // asked with no room, the kernel tells the filter's length
    if (getsockopt(fd, SOL_SOCKET, SO_GET_FILTER, nullptr, &blocks) != 0)
        return std::string("SO_GET_FILTER: ") + std::strerror(errno);
    if (blocks == 0) return "no filter attached";
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) != 0)
        return std::string("SO_LOCK_FILTER: ") + std::strerror(errno);
    return {};
}

}  // namespace

bool HoldRawArpSocket(std::string* why) {
    if (Held().Valid()) return true;
    TFd sock = OpenRawArpSocket();
    if (!sock.Valid()) return false;
    if (std::string error = LockFilter(sock.Get()); !error.empty()) {
        if (why != nullptr) *why = std::move(error);
        return false;
    }
    Held() = std::move(sock);
    return true;
}

void ReleaseRawArpSocket() { Held() = TFd(); }

TFd BorrowRawArpSocket() {
    if (!Held().Valid()) return TFd();
    Drain(Held().Get());
    return TFd(fcntl(Held().Get(), F_DUPFD_CLOEXEC, 0));
}
