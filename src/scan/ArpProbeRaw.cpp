// ARP requests built here and sent on a frame link; which replies count, the read-ahead's pacing
// and the patience are the same on every platform.
#include "ArpProbeRaw.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "ArpPacket.h"
#include "LocalLink.h"
#include "ReadAhead.h"

namespace {

// Read-ahead: one request every 0.5 ms on average (2,000 a second, about 1.3 Mbit/s of
// broadcast on the wire), the first 256 at once (a /24 is asked in one go), later never more
// than 16 back to back: where every broadcast costs the link time (a thousand ports to copy it
// to), a sender that always makes up for lost time overruns the queues, and every request lost
// there costs a retry, which costs the link more (seen on a LAN of 1,000 hosts: 2.6 requests per
// host instead of 1.05, twice the time). As many tries as the
// kernel makes, 0.15 of its interval apart (150 ms by default: a LAN answers within
// milliseconds). An answer counts until 1.5 s after the first request (a dozing wireless client,
// a slow embedded device) and until the worker takes the outcome; a found address is taken no
// sooner than one such interval after its first request, so that a second host answering for it
// is seen. The window holds what is asked within the patience at that pace, and more: a long
// range runs at the pace, not at window / patience.
constexpr auto Pace = std::chrono::microseconds(500);
constexpr std::size_t FirstBurst = 256;
constexpr std::size_t CatchUp = 16;
constexpr std::size_t Window = 4096;
constexpr auto Patience = std::chrono::milliseconds(1500);
// Frames read per wake-up before the loop looks at its clock and at cancel again.
constexpr int FramesPerWake = 64;

// An ARP reply as it came in: on which interface, and when (on the steady clock).
struct TReply {
    int IfIndex = 0;
    TArpMessage Msg;
    TClock::time_point Arrived;
};
class TArpProbeRaw : public TArpProbe {
  public:
    explicit TArpProbeRaw(std::unique_ptr<TFrameLink> link) : link_(std::move(link)) {}
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override;
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override;
    void Cancel() override { link_->Wake(); }
    void Stop() override {
        stopping_ = true;
        link_->Wake();
    }
    std::vector<TContested> TakeContested() override { return std::exchange(contested_, {}); }
    TProbeFault TakeFault() override;
    const char* Method() const override { return "raw"; }

  private:
    void ReadLinks();
    void Send(const TLocalLink& link, std::uint32_t ip);
    // Notes whether an address the worker asks for lies on a local link.
    void NoteCovered(std::uint32_t wireIP);
    // Reads the frames that have arrived, FramesPerWake at most; each reply addressed to this
    // host goes to onReply. False once the link is empty.
    bool Receive(const std::function<void(const TReply&)>& onReply);
    // Drops the frames queued before a probe begins (a bounded number: their arrival stamps
    // tell the rest).
    void Drain();
    // Waits on the link until deadline; false when the probe must give up (woken, or the link
    // failed: then the fault is kept for the scan's report).
    bool Wait(TClock::time_point deadline, bool* ready);
    bool ProbeAlone(std::uint32_t ip, std::uint8_t* mac);
    bool ProbeAhead(std::uint8_t* mac);
    const TNeighParams& Params(const std::string& ifName);

    std::unique_ptr<TFrameLink> link_;
    bool linksRead_ = false;
    bool failed_ = false;
    std::atomic<bool> stopping_{false};
    std::vector<TLocalLink> links_;
    std::map<std::string, TNeighParams> params_;
    std::optional<TReadAhead> ahead_;
    std::vector<TContested> contested_;
    TProbeFault fault_;
    TSendTally sends_;
    TCoverage coverage_;
};

// The wait after each try of the read-ahead, and the least time a found address is held.
TClock::duration RetryAfter(const TNeighParams& p) {
    return std::chrono::milliseconds(std::clamp(p.RetransMs * 3 / 20, 50, p.RetransMs));
}

void TArpProbeRaw::ReadLinks() {
    if (linksRead_) return;
    links_ = link_->ReadLinks();
    linksRead_ = true;
}

const TNeighParams& TArpProbeRaw::Params(const std::string& ifName) {
    auto it = params_.find(ifName);
    if (it == params_.end()) it = params_.emplace(ifName, link_->ReadParams(ifName)).first;
    return it->second;
}

void TArpProbeRaw::Send(const TLocalLink& link, std::uint32_t ip) {
    auto frame = BuildArpRequest(link.Mac, link.IP, ip);
    sends_.Note(link_->Send(link, frame.data(), frame.size()));
}

void TArpProbeRaw::NoteCovered(std::uint32_t wireIP) {
    TLocalLink link;
    coverage_.Note(FindLink(links_, wireIP, &link) != TLinkMatch::None);
}

TProbeFault TArpProbeRaw::TakeFault() {
    TProbeFault f = std::exchange(fault_, {});
    if (f.Kind == TProbeFaultKind::None) f = sends_.Fault();
    if (f.Kind == TProbeFaultKind::None) f = coverage_.Fault(links_);
    sends_ = {};
    coverage_ = {};
    return f;
}

bool TArpProbeRaw::Receive(const std::function<void(const TReply&)>& onReply) {
    return link_->Receive(
        [&](const TFrameIn& f) {
            auto m = ParseArpFrame(f.Data, f.Size);
            if (m && IsReplyFrom(*m, m->SenderIP)) onReply({f.IfIndex, *m, f.Arrived});
        },
        FramesPerWake);
}

void TArpProbeRaw::Drain() {
    for (int i = 0; i < 16 && Receive([](const TReply&) {}); ++i) {
    }
}

bool TArpProbeRaw::Wait(TClock::time_point deadline, bool* ready) {
    switch (link_->Wait(deadline)) {
        case TLinkWait::Ready:
            *ready = true;
            return true;
        case TLinkWait::TimedOut:
            *ready = false;
            return true;
        case TLinkWait::Woken:
            return false;
        case TLinkWait::Failed:
            break;
    }
    failed_ = true;
    if (fault_.Kind == TProbeFaultKind::None)
        fault_ = {TProbeFaultKind::LinkFailed, link_->Failure()};
    return false;
}

bool TArpProbeRaw::ProbeAlone(std::uint32_t ip, std::uint8_t* mac) {
    TLocalLink link;
    if (std::optional<bool> decided = DecideWithoutAsking(links_, ip, &link, mac)) return *decided;
    const TNeighParams& p = Params(link.Name);
    Drain();
    const int tries = std::max(p.McastSolicit, 1);
    const auto interval = std::chrono::milliseconds(p.RetransMs);
    const TClock::time_point asked = TClock::now();
    // An answer is held a while after the request, so that a second host answering is seen.
    const TClock::time_point settled = asked + RetryAfter(p);
    TAnswerMacs answers;
    auto onReply = [&](const TReply& r) {
        if (r.IfIndex == link.Index && r.Arrived >= asked &&
            IsAnswerTo(r.Msg, ip, link.IP, link.Mac))
            answers.Note(r.Msg.SenderMac);
    };
    int sent = 0;
    for (;;) {
        TClock::time_point now = TClock::now();
        if (!answers.Empty() && now >= settled) break;
        if (answers.Empty() && sent < tries && now >= asked + sent * interval) {
            Send(link, ip);
            ++sent;
            continue;
        }
        TClock::time_point due = asked + sent * interval;
        if (!answers.Empty()) due = settled;
        if (answers.Empty() && sent >= tries && now >= due) return false;
        bool ready = false;
        if (!Wait(due, &ready)) return false;
        if (ready) Receive(onReply);
    }
    if (answers.Contested()) {
        contested_.push_back(answers.AsContested(NetToHost(ip)));
        return false;
    }
    std::memcpy(mac, answers.First().data(), 6);
    return true;
}

void TArpProbeRaw::ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) {
    ahead_.reset();
    if (firstIP == lastIP) return;  // a single address is probed alone, with all its patience
    ReadLinks();
    TLocalLink link;
    std::string ifName;
    if (FindLink(links_, HostToNet(firstIP), &link) != TLinkMatch::None) ifName = link.Name;
    const TNeighParams& p = Params(ifName);
    TReadAheadRules rules;
    rules.Tries = std::max(p.McastSolicit, 1);
    rules.RetryAfter = RetryAfter(p);
    rules.Pace = Pace;
    rules.FirstBurst = FirstBurst;
    rules.Burst = CatchUp;
    rules.Window = Window;
    rules.Patience = Patience;
    rules.Settle = rules.RetryAfter;
    Drain();
    ahead_.emplace(firstIP, lastIP, rules);
}

bool TArpProbeRaw::ProbeAhead(std::uint8_t* mac) {
    auto admit = [&](std::uint32_t ip) {
        TAdmission a;
        TLocalLink link;
        switch (FindLink(links_, HostToNet(ip), &link)) {
            case TLinkMatch::None:
                a.Outcome = TOutcome::NotFound;
                break;
            case TLinkMatch::Own:
                a.Outcome = TOutcome::Found;
                a.Mac = link.Mac;
                break;
            case TLinkMatch::OnLink:
                break;
        }
        return a;
    };
    auto send = [&](std::uint32_t ip) {
        TLocalLink link;
        if (FindLink(links_, HostToNet(ip), &link) == TLinkMatch::OnLink) Send(link, HostToNet(ip));
    };
    auto onReply = [&](const TReply& r) {
        TLocalLink link;
        if (FindLink(links_, r.Msg.SenderIP, &link) == TLinkMatch::OnLink &&
            link.Index == r.IfIndex && IsAnswerTo(r.Msg, r.Msg.SenderIP, link.IP, link.Mac))
            ahead_->Answer(NetToHost(r.Msg.SenderIP), r.Msg.SenderMac, r.Arrived);
    };
    for (;;) {
        Receive(onReply);
        TClock::time_point now = TClock::now();
        if (stopping_) ahead_->Stop();
        ahead_->Run(now, admit, send);
        if (std::optional<bool> found = ahead_->TakeHead(now, mac, &contested_)) return *found;
        bool ready = false;
        if (!Wait(ahead_->NextDue(now), &ready) && !stopping_) return false;
    }
}

bool TArpProbeRaw::SendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    if (failed_ || link_->Woken()) return false;
    ReadLinks();
    NoteCovered(wireIP);
    std::uint32_t hostIP = NetToHost(wireIP);
    if (ahead_ && !ahead_->Done() && ahead_->Head() == hostIP) return ProbeAhead(mac);
    ahead_.reset();
    return ProbeAlone(wireIP, mac);
}

}  // namespace

std::unique_ptr<TArpProbe> CreateRawArpProbeOn(std::unique_ptr<TFrameLink> link) {
    return std::make_unique<TArpProbeRaw>(std::move(link));
}
