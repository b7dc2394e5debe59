// The frame link of the raw probe on Windows: the packet capture library (Npcap's wpcap.dll, or
// a WinPcap-compatible one such as Wine's), loaded at run time from the system's own folders only
// (FrameLinkCapture.cpp). Nothing of it is needed to build the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FrameLink.h"

// The link on the adapter whose IPv4 network covers first..last (host order, CoveringLink);
// null, with the reason in why, when the library is not installed, no adapter covers the range
// or the adapter cannot be opened (for instance when the driver is for administrators only).
std::unique_ptr<TFrameLink> OpenCaptureLink(std::uint32_t first, std::uint32_t last,
                                            std::string* why = nullptr);
