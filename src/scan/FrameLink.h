// The one platform part of the raw ARP probe: Ethernet frames sent and received on the local
// links, with the time each frame arrived. AF_PACKET on Linux (FrameLinkPacket.cpp), the packet
// capture library on Windows (FrameLinkCapture.cpp); the probe itself is ArpProbeRaw.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ArpProbe.h"
#include "LocalLink.h"

using TClock = std::chrono::steady_clock;

// A frame sent to this host's MAC (not overheard, not broadcast, not our own).
struct TFrameIn {
    int IfIndex = 0;
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
    TClock::time_point Arrived;  // on the steady clock
};

enum class TLinkWait { Ready, TimedOut, Woken, Failed };

class TFrameLink {
  public:
    virtual ~TFrameLink() = default;
    // The interfaces requests may go out on, with their IPv4 address and MAC.
    virtual std::vector<TLocalLink> ReadLinks() = 0;
    // The system's ARP timings for one of them (defaults when it has none to tell).
    virtual TNeighParams ReadParams(const std::string& ifName) = 0;
    // Why the frame did not go out, in the system's words (the link gone, down, refused); empty
    // when it went out. One that cannot go out now (a full queue) counts as a try nobody
    // answered: empty too.
    virtual std::string Send(const TLocalLink& link, const std::uint8_t* frame,
                             std::size_t size) = 0;
    // Hands the frames that have arrived to onFrame, at most max, without waiting. False once
    // none is left (or the link failed).
    virtual bool Receive(const std::function<void(const TFrameIn&)>& onFrame, int max) = 0;
    // Until a frame may have arrived, the deadline passes or Wake is called.
    virtual TLinkWait Wait(TClock::time_point deadline) = 0;
    // From any thread: the wait in progress and every later one return Woken.
    virtual void Wake() = 0;
    virtual bool Woken() const = 0;
    // What failed, once Wait or Receive met a failure, in the system's words.
    virtual std::string Failure() const { return {}; }
};

// The steady-clock time of a frame the system stamped on arrival with its wall clock: the
// stamp's age, read from the two clocks close together (the closest of a few reads), so that
// the thread being preempted between them cannot move an arrival before the request it answers.
// A stamp from the future is taken as now.
TClock::time_point SteadyArrival(std::chrono::system_clock::time_point stamp);

// The requests of a scan that did not go out: any is the link's failure (LinkFailed, with the
// last reason and the count).
class TSendTally {
  public:
    void Note(std::string failure);
    TProbeFault Fault() const;

  private:
    std::uint64_t sent_ = 0;
    std::uint64_t failed_ = 0;
    std::string last_;
};
