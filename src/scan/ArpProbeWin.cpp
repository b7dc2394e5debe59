// ARP through the IP Helper's SendARP, which makes one request per call and blocks until the
// answer or the system's timeout. Built on Windows only.
#include <winsock2.h>
// winsock2.h before the others
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>

#include "ArpProbe.h"

namespace {

class TArpProbeWin : public TArpProbe {
  public:
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        // Room for the platform's 8-byte answer; only the first 6 bytes are the address.
        ULONG buf[2] = {0, 0};
        ULONG len = 6;
        // The wire-order value, first octet in the least significant byte, is the IPAddr's
        // in-memory layout on every Windows target (all little-endian).
        if (SendARP(static_cast<IPAddr>(wireIP), 0, buf, &len) != NO_ERROR || len < 6) return false;
        std::memcpy(mac, buf, 6);
        return true;
    }
    // SendARP cannot be interrupted: a probe in progress ends within the system's timeout.
};

}  // namespace

std::unique_ptr<TArpProbe> CreateArpProbe() { return std::make_unique<TArpProbeWin>(); }
