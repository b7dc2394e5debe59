#include "RawSocket.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>

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

}  // namespace

bool HoldRawArpSocket() {
    if (!Held().Valid()) Held() = OpenRawArpSocket();
    return Held().Valid();
}

void ReleaseRawArpSocket() { Held() = TFd(); }

TFd BorrowRawArpSocket() {
    if (!Held().Valid()) return TFd();
    Drain(Held().Get());
    return TFd(fcntl(Held().Get(), F_DUPFD_CLOEXEC, 0));
}
