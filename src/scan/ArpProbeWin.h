// ARP through the IP Helper's SendARP, which makes one request per call and blocks until the
// answer or the system's timeout (about 3 s). Once the worker has announced its range, the calls
// for the next addresses run in a bounded pool of threads while the worker waits for the head, so
// that silent addresses cost about one timeout per pool rather than one each. Built on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "ArpProbe.h"

// One blocking request, as SendARP makes it: true with the address in mac[0..5], or false.
using TSendArp = std::function<bool(std::uint32_t wireIP, std::uint8_t* mac)>;

struct TSendArpPool {
    std::size_t Threads = 64;  // calls at once
    std::size_t Window = 256;  // addresses ahead of the one the worker waits for
};

// The system's SendARP.
bool SystemSendArp(std::uint32_t wireIP, std::uint8_t* mac);

std::unique_ptr<TArpProbe> CreateArpProbeWin(TSendArp sendArp, TSendArpPool pool = {});
