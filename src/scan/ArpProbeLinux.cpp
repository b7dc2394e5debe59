#include "ArpProbeLinux.h"

#include "ArpProbeRaw.h"
#include "FrameLinkPacket.h"
#include "RawSocket.h"

std::unique_ptr<TArpProbe> CreateRawArpProbe() {
    TFd sock = BorrowRawArpSocket();
    if (!sock.Valid()) sock = OpenRawArpSocket();
    if (!sock.Valid()) return nullptr;
    return CreateRawArpProbeOn(CreatePacketLink(std::move(sock)));
}

std::unique_ptr<TArpProbe> CreateArpProbe() {
    if (auto raw = CreateRawArpProbe()) return raw;
    return CreateNeighArpProbe();
}
