// A host that answers late, for the scan benchmark. Run it inside a host's namespace whose kernel
// is kept from answering ARP (arp_ignore=8): it answers every who-has for IP on IFACE as MAC,
// DELAY_MS after the request came in, until it is sent SIGTERM or SIGINT.
//
//   late_host IFACE IP MAC DELAY_MS
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "FrameSender.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: late_host IFACE IP MAC DELAY_MS\n");
        return 2;
    }
    // Blocked before the responder's thread starts, so that only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    TLateResponder responder("", argv[1], StrToIP(argv[2]), StrToMac(argv[3]),
                             std::chrono::milliseconds(std::atoi(argv[4])));
    if (!responder.Error().empty()) {
        std::fprintf(stderr, "late_host: %s\n", responder.Error().c_str());
        return 2;
    }
    int signal = 0;
    sigwait(&stop, &signal);
    responder.Stop();
    std::fprintf(stderr, "late_host: %llu answers\n",
                 static_cast<unsigned long long>(responder.Answered()));
    return 0;
}
