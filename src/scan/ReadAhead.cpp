#include "ReadAhead.h"

#include <algorithm>
#include <cstring>

void TAnswerMacs::Note(const TMacAddr& mac) {
    for (int k = 0; k < kept_; ++k) {
        if (macs_[k] == mac) return;
    }
    if (kept_ < static_cast<int>(macs_.size())) {
        macs_[kept_++] = mac;
    } else {
        ++more_;
    }
}

TContested TAnswerMacs::AsContested(std::uint32_t ip) const {
    return {ip, std::vector<TMacAddr>(macs_.begin(), macs_.begin() + kept_), more_};
}

TReadAhead::TReadAhead(std::uint32_t first, std::uint32_t last, const TReadAheadRules& rules)
    : first_(first),
      rules_(rules),
      slots_(std::max<std::size_t>(rules.Window, 1)),
      total_(std::uint64_t{last} - first + 1),
      head_(first) {
    rules_.Tries = std::max(rules_.Tries, 1);
    if (rules_.Budget > 0) firstSends_.assign(rules_.Budget, TClock::time_point::min());
}

bool TReadAhead::Holds(std::uint32_t ip) const {
    return !done_ && ip >= head_ && std::uint64_t{ip} - first_ < admitted_;
}

bool TReadAhead::BudgetAllows(TClock::time_point now) const {
    if (firstSends_.empty()) return true;
    TClock::time_point oldest = firstSends_[firstSendAt_];
    return oldest == TClock::time_point::min() || oldest + rules_.Period <= now;
}

void TReadAhead::Sent(TClock::time_point now, TSlot& s) {
    if (s.tries == 0) s.asked = now;
    if (s.tries == 0 && !firstSends_.empty()) {
        firstSends_[firstSendAt_] = now;
        firstSendAt_ = (firstSendAt_ + 1) % firstSends_.size();
    }
    ++s.tries;
    s.due = now + rules_.RetryAfter + (s.tries >= rules_.Tries ? s.extra : TClock::duration{});
    if (++sent_ <= rules_.FirstBurst) {
        nextSend_ = now;
        return;
    }
    // Late wake-ups are made up for with a burst, never more than Burst requests.
    nextSend_ = std::max(nextSend_, now - static_cast<TClock::rep>(rules_.Burst) * rules_.Pace) +
                rules_.Pace;
}

bool TReadAhead::Urgent(const TSlot& s, TClock::time_point now) const {
    return s.tries == 0 ||
           now + (rules_.Tries - s.tries) * rules_.RetryAfter >= s.asked + rules_.Patience;
}

void TReadAhead::SendRetries(TClock::time_point now, bool urgentOnly,
                             const std::function<void(std::uint32_t)>& send) {
    for (std::uint64_t off = head_ - first_; off < admitted_ && PaceAllows(now); ++off) {
        auto ip = static_cast<std::uint32_t>(first_ + off);
        TSlot& s = At(ip);
        if (s.outcome != TOutcome::Pending || s.tries >= rules_.Tries || s.due > now) continue;
        if ((urgentOnly && !Urgent(s, now)) || (s.tries == 0 && !BudgetAllows(now))) continue;
        send(ip);
        Sent(now, s);
    }
}

void TReadAhead::Run(TClock::time_point now, const std::function<TAdmission(std::uint32_t)>& admit,
                     const std::function<void(std::uint32_t)>& send) {
    if (done_ || stopped_) return;
    // A retry waits while new addresses go out, unless waiting longer would put off its
    // address's outcome past the patience: the first round ends sooner, and the patience is
    // spent once for many addresses instead of after every third request.
    SendRetries(now, true, send);
    const std::uint64_t headOffset = head_ - first_;
    while (admitted_ < total_ && admitted_ - headOffset < slots_.size() && PaceAllows(now) &&
           BudgetAllows(now)) {
        auto ip = static_cast<std::uint32_t>(first_ + admitted_);
        TAdmission a = admit(ip);
        TSlot& s = At(ip);
        s = TSlot{};
        s.outcome = a.Outcome;
        s.mac = a.Mac;
        s.extra = a.ExtraWait;
        ++admitted_;
        if (s.outcome == TOutcome::Pending) {
            send(ip);
            Sent(now, s);
        }
    }
    SendRetries(now, false, send);
}

void TReadAhead::Answer(std::uint32_t ip, const TMacAddr& mac,
                        std::optional<TClock::time_point> arrived) {
    if (!Holds(ip)) return;
    TSlot& s = At(ip);
    if (arrived && (s.tries == 0 || *arrived < s.asked)) return;  // answers nothing we asked
    if (s.outcome == TOutcome::Pending) {
        s.outcome = TOutcome::Found;
        s.mac = mac;
    } else if (s.outcome != TOutcome::Found) {
        return;
    }
    if (s.answers.Empty()) s.answers.Note(s.mac);
    s.answers.Note(mac);
}

void TReadAhead::Fail(std::uint32_t ip) {
    if (Holds(ip) && At(ip).outcome == TOutcome::Pending) At(ip).outcome = TOutcome::NotFound;
}

void TReadAhead::Resend(std::uint32_t ip) {
    if (!Holds(ip) || At(ip).outcome != TOutcome::Pending) return;
    TSlot& s = At(ip);
    s.tries = 0;
    s.extra = {};
    s.due = {};
}

TOutcome TReadAhead::HeadOutcome(TClock::time_point now, TMacAddr* mac) const {
    if (done_) return TOutcome::Pending;
    if (!Holds(head_)) return stopped_ ? TOutcome::NotFound : TOutcome::Pending;
    const TSlot& s = At(head_);
    if (s.outcome == TOutcome::Found) {
        if (s.tries > 0 && now < s.asked + rules_.Settle && !stopped_) return TOutcome::Pending;
        if (s.answers.Contested()) return TOutcome::NotFound;
        if (mac != nullptr) *mac = s.mac;
        return TOutcome::Found;
    }
    if (s.outcome != TOutcome::Pending || stopped_)
        return s.outcome == TOutcome::Pending ? TOutcome::NotFound : s.outcome;
    bool waited = s.tries >= rules_.Tries && now >= s.due && now >= s.asked + rules_.Patience;
    return waited ? TOutcome::NotFound : TOutcome::Pending;
}

void TReadAhead::PopHead() {
    if (done_) return;
    if (std::uint64_t{head_} - first_ + 1 >= total_) {
        done_ = true;
        return;
    }
    ++head_;
}

std::optional<bool> TReadAhead::TakeHead(TClock::time_point now, std::uint8_t* mac,
                                         std::vector<TContested>* contested) {
    TMacAddr found;
    TOutcome o = HeadOutcome(now, &found);
    if (o == TOutcome::Pending) return std::nullopt;
    const TSlot& s = At(head_);
    if (contested != nullptr && Holds(head_) && s.answers.Contested())
        contested->push_back(s.answers.AsContested(head_));
    PopHead();
    if (o == TOutcome::Found) std::memcpy(mac, found.data(), found.size());
    return o == TOutcome::Found;
}

TClock::time_point TReadAhead::NextDue(TClock::time_point now) const {
    TClock::time_point next = TClock::time_point::max();
    if (done_) return next;
    auto sendable = [&](TClock::time_point t, bool first) {
        t = std::max(t, nextSend_);
        if (first && !firstSends_.empty() && !BudgetAllows(now))
            t = std::max(t, firstSends_[firstSendAt_] + rules_.Period);
        return t;
    };
    std::uint64_t headOffset = head_ - first_;
    for (std::uint64_t off = headOffset; off < admitted_; ++off) {
        const TSlot& s = At(static_cast<std::uint32_t>(first_ + off));
        if (s.outcome == TOutcome::Found && off == headOffset && s.tries > 0)
            next = std::min(next, s.asked + rules_.Settle);
        if (s.outcome != TOutcome::Pending) continue;
        if (s.tries < rules_.Tries)
            next = std::min(next, sendable(s.due, s.tries == 0));
        else if (off == headOffset)
            next = std::min(next, std::max(s.due, s.asked + rules_.Patience));
    }
    if (admitted_ < total_ && admitted_ - headOffset < slots_.size())
        next = std::min(next, sendable(now, true));
    return next;
}
