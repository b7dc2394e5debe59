#include "ArpProbeLinux.h"

std::unique_ptr<TArpProbe> CreateArpProbe() {
    if (auto raw = CreateRawArpProbe()) return raw;
    return CreateNeighArpProbe();
}
