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

// One blocking request, as SendARP makes it: the system's result code, NO_ERROR (0) with the
// address in mac[0..5].
using TSendArp = std::function<std::uint32_t(std::uint32_t wireIP, std::uint8_t* mac)>;

// True for the codes by which SendARP says that nobody answered; any other failure means that the
// request could not be made at all (not supported, access denied).
bool SendArpNoAnswer(std::uint32_t code);

struct TSendArpPool {
    std::size_t Threads = 64;  // calls at once
    std::size_t Window = 256;  // addresses ahead of the one the worker waits for
};

// The system's SendARP.
std::uint32_t SystemSendArp(std::uint32_t wireIP, std::uint8_t* mac);

// When no call of a scan could be made, TakeFault says so (TProbeFaultKind::Refused).
std::unique_ptr<TArpProbe> CreateArpProbeWin(TSendArp sendArp, TSendArpPool pool = {});
