// The Linux back-ends of TArpProbe; CreateArpProbe picks raw when it may, else neigh.
#pragma once

#include <memory>

#include "ArpProbe.h"

// ARP frames on an AF_PACKET socket; null when this process may not open one.
std::unique_ptr<TArpProbe> CreateRawArpProbe();
// The kernel's own resolution, watched over rtnetlink; needs no privilege.
std::unique_ptr<TArpProbe> CreateNeighArpProbe();
