// The frame link of the raw probe on Linux: an AF_PACKET socket (FrameLinkPacket.cpp).
#pragma once

#include <memory>

#include "FrameLink.h"
#include "LinuxIo.h"

// The socket as the link needs it: ARP only, replies only, a large receive buffer; invalid when
// this process may not open one.
TFd OpenRawArpSocket();
// The link over such a socket.
std::unique_ptr<TFrameLink> CreatePacketLink(TFd sock);
