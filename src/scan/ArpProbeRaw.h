// The raw ARP probe: it builds the who-has frames itself, sends them on a frame link and decides
// from the replies, by the same rules on every platform (ArpProbeRaw.cpp).
#pragma once

#include <memory>

#include "ArpProbe.h"
#include "FrameLink.h"

std::unique_ptr<TArpProbe> CreateRawArpProbeOn(std::unique_ptr<TFrameLink> link);
