// ARP without privileges: a UDP datagram makes the kernel resolve the address, and the
// neighbour table, watched over rtnetlink, tells the outcome.
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "ArpPacket.h"
#include "ArpProbeLinux.h"
#include "LinuxIo.h"
#include "LocalLink.h"
#include "NeighMessage.h"
#include "ReadAhead.h"

namespace {

// A verified entry answers only with a host's address: a reply naming a zero or group address
// gets into the kernel's table all the same.
bool Answers(const TNeighEntry& e) {
    return IsVerifiedState(e.State) && e.HasMac && IsHostMac(e.Mac);
}

constexpr std::uint16_t DiscardPort = 9;
// A socket's send buffer holds about 250 datagrams waiting on ARP; use a fresh socket well
// before that.
constexpr std::size_t DatagramsPerSocket = 128;
// Read-ahead: the pace of the raw probe; at most 256 new table entries per 30 s (the kernel
// clears failed entries every 15 s), and never more than half of the table's eviction
// threshold, so that the administrator's own entries are never pushed out.
constexpr auto Pace = std::chrono::microseconds(500);
constexpr std::size_t Window = 256;
constexpr auto BudgetPeriod = std::chrono::seconds(30);
// An answer counts until 1.5 s after the request, even when the kernel has given up sooner
// (it still takes a late reply into the failed entry).
constexpr auto Patience = std::chrono::milliseconds(1500);
// Datagrams read per wake-up before the loop looks at its clock and at cancel again.
constexpr int DatagramsPerWake = 16;

struct TKnown {
    std::uint32_t ip;  // host order
    TNeighEntry entry;
};

class TArpProbeNeigh : public TArpProbe {
  public:
    TArpProbeNeigh();
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override;
    void Cancel() override { cancel_.Raise(); }
    void Stop() override {
        stopping_ = true;
        cancel_.Raise();
    }
    std::vector<TContested> TakeContested() override { return std::exchange(contested_, {}); }
    TProbeFault TakeFault() override { return std::exchange(coverage_, {}).Fault(links_); }
    const char* Method() const override { return "neighbour"; }

  private:
    void ReadLinks();
    const TNeighParams& Params(const std::string& ifName);
    bool Request(const std::vector<std::uint8_t>& req);
    // Reads the datagrams that have arrived, DatagramsPerWake at most, and hands their notes
    // to onNote; sets lost_ when the kernel had to drop events.
    void Receive(const std::function<void(const TNeighNote&)>& onNote);
    bool Trigger(std::uint32_t wireIP);
    bool ProbeAlone(std::uint32_t wireIP, std::uint8_t* mac);
    bool ProbeAhead(std::uint8_t* mac);
    TAdmission Admit(std::uint32_t hostIP);
    void OnAheadNote(const TNeighNote& n);

    TFd nl_;
    TCancelFlag cancel_;
    std::atomic<bool> stopping_{false};
    TCoverage coverage_;
    std::uint32_t seq_ = 0;
    bool lost_ = false;
    TFd udp_;
    std::size_t udpSent_ = 0;
    bool linksRead_ = false;
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
    std::optional<TReadAhead> ahead_;
    std::vector<TKnown> known_;         // the table's entries in the range when it began
    std::vector<std::uint32_t> stale_;  // kept old addresses that get a second round
    std::vector<TContested> contested_;
};

TArpProbeNeigh::TArpProbeNeigh()
    : nl_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE)) {
    if (!nl_.Valid()) return;
    int size = 1 << 20;  // room for the events of a busy table; the kernel caps it
    setsockopt(nl_.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_NEIGH;
    if (bind(nl_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) nl_ = TFd();
}

void TArpProbeNeigh::ReadLinks() {
    if (linksRead_) return;
    links_ = ReadLocalLinks();
    linksRead_ = true;
}

const TNeighParams& TArpProbeNeigh::Params(const std::string& ifName) {
    auto it = params_.find(ifName);
    if (it == params_.end()) it = params_.emplace(ifName, ReadNeighParams(ifName)).first;
    return it->second;
}

bool TArpProbeNeigh::Request(const std::vector<std::uint8_t>& req) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t n;
    while ((n = sendto(nl_.Get(), req.data(), req.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                       sizeof kernel)) < 0 &&
           errno == EINTR) {
    }
    return n == static_cast<ssize_t>(req.size());
}

void TArpProbeNeigh::Receive(const std::function<void(const TNeighNote&)>& onNote) {
    alignas(nlmsghdr) std::uint8_t buf[32768];
    for (int read = 0; read < DatagramsPerWake; ++read) {
        ssize_t n = recv(nl_.Get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == ENOBUFS) {
            lost_ = true;
            continue;
        }
        if (n <= 0) return;
        for (const TNeighNote& note : ParseNeighDatagram(buf, static_cast<std::size_t>(n)))
            onNote(note);
    }
}

// One datagram to the discard port makes the kernel resolve ip on the link; SO_DONTROUTE keeps
// it from ever going through a gateway. False when the kernel refuses to send it at all.
bool TArpProbeNeigh::Trigger(std::uint32_t wireIP) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(DiscardPort);
    to.sin_addr.s_addr = htonl(NetToHost(wireIP));
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!udp_.Valid() || udpSent_ >= DatagramsPerSocket) {
            udp_ = TFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            udpSent_ = 0;
            if (!udp_.Valid()) return false;
            int one = 1;
            setsockopt(udp_.Get(), SOL_SOCKET, SO_DONTROUTE, &one, sizeof one);
        }
        ssize_t n;
        while ((n = sendto(udp_.Get(), "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof to)) <
                   0 &&
               errno == EINTR) {
        }
        if (n >= 0) {
            ++udpSent_;
            return true;
        }
        if (errno != EAGAIN && errno != ENOBUFS) return false;
        udp_ = TFd();  // its buffer is full: a fresh socket has room
    }
    return false;
}

bool TArpProbeNeigh::ProbeAlone(std::uint32_t ip, std::uint8_t* mac) {
    TLocalLink link;
    if (std::optional<bool> decided = DecideWithoutAsking(links_, ip, &link, mac)) return *decided;
    const TNeighParams& p = Params(link.Name);
    // The whole of the kernel's resolution, stale re-verification included, plus a margin;
    // the outcome normally arrives as an event long before.
    auto deadline =
        TClock::now() + std::chrono::milliseconds(p.DelayFirstProbeMs + 500 +
                                                  p.RetransMs * (p.McastSolicit + p.UcastSolicit +
                                                                 p.AppSolicit + p.McastResolicit));
    Receive([](const TNeighNote&) {});  // old events say nothing about this probe
    std::uint32_t seq = 0;
    bool answered = false;
    std::uint16_t startState = 0;
    TOutcome outcome = TOutcome::Pending;
    auto onNote = [&](const TNeighNote& n) {
        // Events carry sequence 0; our request's answer tells the state before the probe,
        // where only a verified address counts.
        bool answer = n.Seq == seq;
        if (answer && n.Kind == TNeighNote::Error) {
            answered = true;  // no entry
            startState = 0;
        }
        const TNeighEntry& e = n.Neigh;
        if (n.Kind != TNeighNote::Entry || e.IP != ip || e.IfIndex != link.Index || e.Deleted)
            return;
        if (answer) {
            answered = true;
            startState = e.State;
        }
        if (Answers(e)) {
            std::memcpy(mac, e.Mac.data(), 6);
            outcome = TOutcome::Found;
        } else if (!answer && (e.State & NUD_FAILED) != 0) {
            outcome = TOutcome::NotFound;
        } else if (!answer && outcome == TOutcome::NotFound) {
            outcome = TOutcome::Pending;  // resolving again after a failure
        }
    };
    // Waits for the outcome (or the answer); false when cancelled or out of time.
    auto wait = [&](const std::function<bool()>& done) {
        while (!done()) {
            if (lost_) {  // events were dropped: ask for the entry again
                lost_ = false;
                Request(BuildNeighGet(seq = ++seq_, link.Index, ip));
            }
            if (WaitReadable(nl_.Get(), cancel_, deadline) != TWaitResult::Readable ||
                TClock::now() >= deadline)
                return false;
            Receive(onNote);
        }
        return true;
    };
    // An entry the kernel holds as verified answers at once.
    if (!Request(BuildNeighGet(seq = ++seq_, link.Index, ip))) return false;
    if (!wait([&] { return answered || outcome != TOutcome::Pending; })) return false;
    if (outcome == TOutcome::Found) return true;
    // A kept old address (stale) is re-verified by unicast to that old MAC; when that fails the
    // host may still be there under another MAC, which only a broadcast request finds.
    int rounds = (startState & (NUD_STALE | NUD_DELAY | NUD_PROBE)) != 0 ? 2 : 1;
    for (int r = 0; r < rounds; ++r) {
        outcome = TOutcome::Pending;
        if (!Trigger(ip)) return false;
        if (!wait([&] { return outcome != TOutcome::Pending; })) return false;
        if (outcome == TOutcome::Found) return true;
    }
    return false;
}

void TArpProbeNeigh::ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) {
    ahead_.reset();
    known_.clear();
    stale_.clear();
    // A single address is probed alone, with all of the kernel's patience.
    if (!nl_.Valid() || firstIP == lastIP) return;
    ReadLinks();
    // The table as it stands: verified entries answer at once, stale ones need patience.
    std::uint32_t seq = ++seq_;
    bool done = false;
    if (!Request(BuildNeighDump(seq))) return;
    auto deadline = TClock::now() + std::chrono::seconds(2);
    while (!done) {
        if (WaitReadable(nl_.Get(), cancel_, deadline) != TWaitResult::Readable ||
            TClock::now() >= deadline)
            return;
        Receive([&](const TNeighNote& n) {
            if (n.Seq == seq && n.Kind != TNeighNote::Entry) done = true;
            std::uint32_t ip = NetToHost(n.Neigh.IP);
            if (n.Seq == seq && n.Kind == TNeighNote::Entry && ip >= firstIP && ip <= lastIP)
                known_.push_back({ip, n.Neigh});
        });
    }
    if (lost_) return;  // an incomplete dump: probe each address alone
    std::sort(known_.begin(), known_.end(),
              [](const TKnown& a, const TKnown& b) { return a.ip < b.ip; });

    TLocalLink link;
    std::string ifName;
    if (FindLink(links_, HostToNet(firstIP), &link) != TLinkMatch::None) ifName = link.Name;
    const TNeighParams& p = Params(ifName);
    TReadAheadRules rules;
    // One request makes the kernel send its broadcasts retrans_time apart; an address that has
    // not answered a quarter interval after the second broadcast, and not within the patience,
    // is taken as not found.
    rules.Tries = 1;
    rules.RetryAfter = std::chrono::milliseconds(p.RetransMs * (p.McastSolicit > 1 ? 5 : 4) / 4);
    rules.Patience = Patience;
    rules.Pace = Pace;
    rules.Window = Window;
    rules.Budget = std::min<std::size_t>(Window, static_cast<std::size_t>(p.GcThresh2) / 2);
    rules.Burst = rules.Budget;  // what the table may take goes out at once
    rules.Period = BudgetPeriod;
    ahead_.emplace(firstIP, lastIP, rules);
}

TAdmission TArpProbeNeigh::Admit(std::uint32_t hostIP) {
    TAdmission a;
    TLocalLink link;
    switch (FindLink(links_, HostToNet(hostIP), &link)) {
        case TLinkMatch::None:
            a.Outcome = TOutcome::NotFound;
            return a;
        case TLinkMatch::Own:
            a.Outcome = TOutcome::Found;
            a.Mac = link.Mac;
            return a;
        case TLinkMatch::OnLink:
            break;
    }
    auto it = std::lower_bound(known_.begin(), known_.end(), hostIP,
                               [](const TKnown& k, std::uint32_t ip) { return k.ip < ip; });
    for (; it != known_.end() && it->ip == hostIP; ++it) {
        const TNeighEntry& e = it->entry;
        if (e.IfIndex != link.Index) continue;
        if (Answers(e)) {
            a.Outcome = TOutcome::Found;
            a.Mac = e.Mac;
        } else if ((e.State & (NUD_STALE | NUD_DELAY | NUD_PROBE)) != 0) {
            // The kernel first waits, then asks the old MAC; a second round asks everybody.
            const TNeighParams& p = Params(link.Name);
            a.ExtraWait =
                std::chrono::milliseconds(p.DelayFirstProbeMs + p.RetransMs * (p.UcastSolicit + 1));
            stale_.push_back(hostIP);
        }
    }
    return a;
}

void TArpProbeNeigh::OnAheadNote(const TNeighNote& n) {
    const TNeighEntry& e = n.Neigh;
    std::uint32_t ip = NetToHost(e.IP);
    if (n.Kind != TNeighNote::Entry || e.Deleted || !ahead_->Holds(ip)) return;
    TLocalLink link;
    if (FindLink(links_, e.IP, &link) != TLinkMatch::OnLink || link.Index != e.IfIndex) return;
    if (Answers(e)) {
        ahead_->Answer(ip, e.Mac);
    } else if (n.Seq == 0 && (e.State & NUD_FAILED) != 0) {
        // A failed new address may still answer late; its patience decides.
        auto it = std::find(stale_.begin(), stale_.end(), ip);
        if (it != stale_.end()) {
            stale_.erase(it);
            ahead_->Resend(ip);
        }
    }
}

bool TArpProbeNeigh::ProbeAhead(std::uint8_t* mac) {
    auto admit = [&](std::uint32_t ip) { return Admit(ip); };
    auto send = [&](std::uint32_t ip) {
        if (!Trigger(HostToNet(ip))) ahead_->Fail(ip);
    };
    auto onNote = [&](const TNeighNote& n) { OnAheadNote(n); };
    for (;;) {
        Receive(onNote);
        if (lost_) {  // events were dropped: the table tells what was verified meanwhile
            lost_ = false;
            Request(BuildNeighDump(++seq_));
        }
        TClock::time_point now = TClock::now();
        if (stopping_) ahead_->Stop();
        ahead_->Run(now, admit, send);
        if (std::optional<bool> found = ahead_->TakeHead(now, mac, &contested_)) return *found;
        if (WaitReadable(nl_.Get(), cancel_, ahead_->NextDue(now)) == TWaitResult::Cancelled &&
            !stopping_)
            return false;
    }
}

bool TArpProbeNeigh::SendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    if (cancel_.Raised() || !nl_.Valid()) return false;
    ReadLinks();
    TLocalLink link;
    coverage_.Note(FindLink(links_, wireIP, &link) != TLinkMatch::None);
    std::uint32_t hostIP = NetToHost(wireIP);
    if (ahead_ && !ahead_->Done() && ahead_->Head() == hostIP) return ProbeAhead(mac);
    ahead_.reset();
    return ProbeAlone(wireIP, mac);
}

}  // namespace

std::unique_ptr<TArpProbe> CreateNeighArpProbe() { return std::make_unique<TArpProbeNeigh>(); }
