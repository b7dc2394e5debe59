// The blocking ARP request: given a wire-order IPv4 address, the hardware address of the host
// that answers on the local link, or "not found".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UTypes.h"

// An address for which different hardware addresses answered during one probe: handed off as
// not found, since either may be forged.
struct TContested {
    std::uint32_t IP = 0;        // host order
    std::vector<TMacAddr> Macs;  // in the order they first answered; a probe may keep only a few
    std::uint64_t More = 0;      // answers from further MACs, beyond those kept
};

enum class TProbeFaultKind {
    None,
    // Every request the scan made was refused by the system (not supported, access denied):
    // no address was asked at all.
    Refused,
    // The link failed during the scan (requests could not be sent, or replies read): the
    // addresses after that were not asked.
    LinkFailed,
    // No address of the range lies on a network of a local link: nothing was asked.
    NoLink,
};

// Why a scan's "not found" may mean nothing: a scan that could not ask must not read as an empty
// network.
struct TProbeFault {
    // Not an aggregate, so that {kind, detail} leaves Notice empty without a warning.
    TProbeFault(TProbeFaultKind kind = TProbeFaultKind::None, std::string detail = {},
                std::string notice = {})
        : Kind(kind), Detail(std::move(detail)), Notice(std::move(notice)) {}
    TProbeFaultKind Kind = TProbeFaultKind::None;
    std::string Detail;  // the system's words
    // Why the scan took a slower way of asking, and what would give it the fast one; told with
    // the fault, or alone when there was none (it is no fault).
    std::string Notice;
};

class TArpProbe {
  public:
    virtual ~TArpProbe() = default;
    // Blocks until the host answers (true, its address in mac[0..5]) or the platform's timeout
    // passes (false). mac is left untouched when nothing answered.
    virtual bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) = 0;
    // Announces that SendArp will next be asked for firstIP, firstIP + 1, ..., lastIP (host
    // order), one after the other, so that the probe may send requests ahead. Outcomes stay
    // those of probing each address alone; an address asked out of that order is probed alone.
    virtual void ExpectRange(std::uint32_t /*firstIP*/, std::uint32_t /*lastIP*/) {}
    // Wakes a blocked SendArp, which then returns false at once; used when the program closes.
    virtual void Cancel() {}
    // From any thread: the scan is stopping. A blocked SendArp returns at once, found if its
    // address has answered, else not found (an address not yet asked is never waited for),
    // and no more requests go out.
    virtual void Stop() {}
    // The addresses handed off as not found because different MACs answered, since the last
    // call, in the order they were probed.
    virtual std::vector<TContested> TakeContested() { return {}; }
    // What kept the probe from asking since the last call; Kind None when nothing did.
    virtual TProbeFault TakeFault() { return {}; }
    // How it asks, in one word for a script ("raw", "neighbour", "sendarp"); empty before it
    // has chosen.
    virtual const char* Method() const { return ""; }
};

// The best back-end this process may use on this platform.
std::unique_ptr<TArpProbe> CreateArpProbe();
