// Tries, as an attacker running inside the program would, to take the filter off every packet
// socket a running program holds: each socket is copied out of it (pidfd_getfd, which needs
// root) and SO_DETACH_FILTER is tried on the copy. Prints one line per socket. Exit status 0
// when every packet socket refused with EPERM (a locked filter), 1 when one let its filter go or
// failed otherwise, 3 when the program holds none, 2 on a usage or system error.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int CopyOut(int pidfd, int fd) { return static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fd, 0)); }

bool IsPacketSocket(int fd) {
    int domain = 0;
    socklen_t size = sizeof domain;
    return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_PACKET;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: held_filter PID\n");
        return 2;
    }
    const std::string pid = argv[1];
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, std::atoi(argv[1]), 0));
    DIR* fds = opendir(("/proc/" + pid + "/fd").c_str());
    if (pidfd < 0 || fds == nullptr) {
        std::fprintf(stderr, "held_filter: process %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    int packets = 0;
    int locked = 0;
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = CopyOut(pidfd, std::atoi(entry->d_name));
        if (fd < 0) continue;  // closed meanwhile, or no socket
        if (IsPacketSocket(fd)) {
            ++packets;
            const int none = 0;
            const int rc = setsockopt(fd, SOL_SOCKET, SO_DETACH_FILTER, &none, sizeof none);
            const int error = rc == 0 ? 0 : errno;
            std::printf("packet socket at fd %s: SO_DETACH_FILTER %s\n", entry->d_name,
                        rc == 0 ? "took the filter off" : std::strerror(error));
            locked += rc != 0 && error == EPERM;
        }
        close(fd);
    }
    closedir(fds);
    if (packets == 0) return 3;
    return locked == packets ? 0 : 1;
}
