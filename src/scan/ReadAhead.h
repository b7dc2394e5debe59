// The schedule of a probe that reads ahead: while the worker waits for address k, requests for
// the next addresses of its range are already out. It decides which address to request when
// (tries, pace, window, budget) and keeps each outcome until the worker takes it, strictly in
// ascending order. Pure logic on a given clock; the back-ends do the sending and receiving.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "ArpProbe.h"
#include "UTypes.h"

using TClock = std::chrono::steady_clock;

struct TReadAheadRules {
    int Tries = 3;                                                 // requests per address
    TClock::duration RetryAfter = std::chrono::milliseconds(200);  // after each request
    TClock::duration Pace = std::chrono::microseconds(500);        // between any two requests
    // Requests that may go out back to back when the pace has fallen behind (after a late
    // wake-up, or at the start when FirstBurst is 0); the pace holds on average.
    std::size_t Burst = 16;
    // Requests that go out at once when the range begins, before the pace holds.
    std::size_t FirstBurst = 0;
    std::size_t Window = 512;  // addresses between the worker's and the newest one requested
    // An address that has not answered is given up no sooner than this after its first
    // request, however soon its tries are out.
    TClock::duration Patience{};
    // A found address is handed off no sooner than this after its first request, so that a
    // second, different answer is still seen.
    TClock::duration Settle{};
    // At most Budget first requests in any Period (0: no such limit).
    std::size_t Budget = 0;
    TClock::duration Period = std::chrono::seconds(30);
};

enum class TOutcome { Pending, Found, NotFound };

// The MACs that answered for one address, in a fixed room whatever a flood of forged answers
// brings: the first, a second that makes the address contested, and a count of the answers
// from any other MAC. Constant work per answer.
class TAnswerMacs {
  public:
    void Note(const TMacAddr& mac);
    bool Empty() const { return kept_ == 0; }
    bool Contested() const { return kept_ > 1; }
    const TMacAddr& First() const { return macs_[0]; }
    TContested AsContested(std::uint32_t ip) const;

  private:
    std::array<TMacAddr, 2> macs_{};
    int kept_ = 0;
    std::uint64_t more_ = 0;
};

// What a back-end says of an address before it is requested.
struct TAdmission {
    TOutcome Outcome = TOutcome::Pending;  // Found or NotFound: decided, nothing is sent
    TMacAddr Mac{};                        // for Found
    TClock::duration ExtraWait{};          // more patience for this address
};

class TReadAhead {
  public:
    // Addresses in host order; first <= last.
    TReadAhead(std::uint32_t first, std::uint32_t last, const TReadAheadRules& rules);

    bool Done() const { return done_; }
    std::uint32_t Head() const { return head_; }  // the address the worker asks for next
    // True when ip has been admitted and its outcome not yet taken.
    bool Holds(std::uint32_t ip) const;

    // Sends what is due at now: retries first, then new addresses as window, budget and pace
    // allow. New addresses go through admit first; send(ip) makes one request.
    void Run(TClock::time_point now, const std::function<TAdmission(std::uint32_t)>& admit,
             const std::function<void(std::uint32_t)>& send);

    // An answer for ip. With its arrival time it counts only when the first request for ip went
    // out no later; without, it is the system's own verified answer. A second, different MAC
    // makes the address contested: it is handed off as not found.
    void Answer(std::uint32_t ip, const TMacAddr& mac,
                std::optional<TClock::time_point> arrived = std::nullopt);
    void Fail(std::uint32_t ip);    // known not to answer
    void Resend(std::uint32_t ip);  // one more round of tries, due now

    // The scan stops: the head is decided at once (found if it has answered, else not found),
    // and Run sends nothing more.
    void Stop() { stopped_ = true; }
    // The head's outcome as of now (NotFound once its tries are out and waited for).
    TOutcome HeadOutcome(TClock::time_point now, TMacAddr* mac) const;
    void PopHead();
    // Pops the head once its outcome is known: true with the address in mac[0..5], or false;
    // nothing while it is pending. A contested head is appended to contested.
    std::optional<bool> TakeHead(TClock::time_point now, std::uint8_t* mac,
                                 std::vector<TContested>* contested = nullptr);
    // When Run or HeadOutcome may next have something new to do (without any answer).
    TClock::time_point NextDue(TClock::time_point now) const;

  private:
    struct TSlot {
        TOutcome outcome = TOutcome::Pending;
        int tries = 0;
        TClock::time_point due{};    // next request, or the end of waiting after the last
        TClock::time_point asked{};  // the first request
        TClock::duration extra{};
        TMacAddr mac{};       // for an address decided without asking
        TAnswerMacs answers;  // for an address asked
    };
    TSlot& At(std::uint32_t ip) { return slots_[(ip - first_) % slots_.size()]; }
    const TSlot& At(std::uint32_t ip) const { return slots_[(ip - first_) % slots_.size()]; }
    bool PaceAllows(TClock::time_point now) const { return now >= nextSend_; }
    bool BudgetAllows(TClock::time_point now) const;
    void Sent(TClock::time_point now, TSlot& s);
    // A request that cannot wait for new addresses: a first one, or a retry that would
    // otherwise end its tries after the patience.
    bool Urgent(const TSlot& s, TClock::time_point now) const;
    void SendRetries(TClock::time_point now, bool urgentOnly,
                     const std::function<void(std::uint32_t)>& send);

    std::uint32_t first_;
    TReadAheadRules rules_;
    std::vector<TSlot> slots_;
    std::uint64_t total_;  // addresses in the range
    std::uint32_t head_;
    std::uint64_t admitted_ = 0;  // addresses admitted so far: the next one is first_ + admitted_
    bool done_ = false;
    bool stopped_ = false;
    TClock::time_point nextSend_{};
    std::size_t sent_ = 0;                        // requests so far
    std::vector<TClock::time_point> firstSends_;  // ring of the last Budget first requests
    std::size_t firstSendAt_ = 0;
};
