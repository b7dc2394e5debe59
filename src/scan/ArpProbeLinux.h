// The Linux back-ends of TArpProbe; CreateArpProbe picks raw when it may, else neigh.
#pragma once

#include <memory>

#include "ArpProbe.h"

// The raw probe on an AF_PACKET socket: the one held since start (RawSocket.h) or, when none is
// held, one of its own; null when this process may not open one.
std::unique_ptr<TArpProbe> CreateRawArpProbe();
// The kernel's own resolution, watched over rtnetlink; needs no privilege.
std::unique_ptr<TArpProbe> CreateNeighArpProbe();
