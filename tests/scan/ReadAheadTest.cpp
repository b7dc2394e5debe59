#include <gtest/gtest.h>

#include <array>
#include <map>
#include <vector>

#include "ReadAhead.h"

namespace {

using namespace std::chrono_literals;

const TClock::time_point T0 = TClock::time_point{} + 1000s;

// Drives a schedule on a made-up clock, recording every request.
struct TDriver {
    TReadAhead ahead;
    std::map<std::uint32_t, TAdmission> admissions;  // default: pending
    std::vector<std::pair<std::uint32_t, TClock::duration>> sent;
    TClock::time_point now = T0;

    TDriver(std::uint32_t first, std::uint32_t last, const TReadAheadRules& r)
        : ahead(first, last, r) {}
    void Run() {
        ahead.Run(
            now,
            [&](std::uint32_t ip) {
                auto it = admissions.find(ip);
                return it == admissions.end() ? TAdmission{} : it->second;
            },
            [&](std::uint32_t ip) { sent.emplace_back(ip, now - T0); });
    }
    // Advances to the schedule's next due time (at most limit later) and runs it.
    void Step(TClock::duration limit = 10s) {
        now = std::max(now, std::min(ahead.NextDue(now), now + limit));
        Run();
    }
    // Takes the head's outcome, running the schedule until it is decided.
    TOutcome Take(TMacAddr* mac = nullptr) {
        for (int i = 0; i < 100000; ++i) {
            Run();
            TOutcome o = ahead.HeadOutcome(now, mac);
            if (o != TOutcome::Pending) {
                ahead.PopHead();
                return o;
            }
            Step();
        }
        return TOutcome::Pending;
    }
    std::size_t SentTo(std::uint32_t ip) const {
        std::size_t n = 0;
        for (const auto& s : sent) n += s.first == ip;
        return n;
    }
};

TReadAheadRules Rules(std::size_t window = 8) {
    TReadAheadRules r;
    r.Tries = 3;
    r.RetryAfter = 200ms;
    r.Pace = 1ms;
    r.Window = window;
    return r;
}

TEST(ReadAhead, SilentAddressGetsItsTriesThenNotFound) {
    TDriver d(100, 100, Rules());
    d.Run();
    ASSERT_EQ(d.sent.size(), 1u);
    for (auto t : {199ms, 200ms, 399ms, 400ms, 599ms}) {
        d.now = T0 + t;
        d.Run();
    }
    ASSERT_EQ(d.SentTo(100), 3u);
    EXPECT_EQ(d.sent[1].second, 200ms);
    EXPECT_EQ(d.sent[2].second, 400ms);
    EXPECT_EQ(d.ahead.HeadOutcome(d.now, nullptr), TOutcome::Pending);
    d.now = T0 + 600ms;
    EXPECT_EQ(d.ahead.HeadOutcome(d.now, nullptr), TOutcome::NotFound);
}

TEST(ReadAhead, AnswersCountUntilTakenAndOnlyInsideWindow) {
    TDriver d(100, 109, Rules(4));
    d.Run();
    EXPECT_TRUE(d.ahead.Holds(103));
    EXPECT_FALSE(d.ahead.Holds(104));  // beyond the window: not requested yet
    TMacAddr a{2, 0, 0, 0, 0, 1}, b{2, 0, 0, 0, 0, 2};
    d.ahead.Answer(104, b);  // ignored
    d.ahead.Answer(101, a);
    d.ahead.Fail(102);
    d.ahead.Answer(102, b);  // after a failure: ignored
    d.now = T0 + 5s;         // long after every try was out
    EXPECT_EQ(d.Take(), TOutcome::NotFound);
    TMacAddr got{};
    EXPECT_EQ(d.Take(&got), TOutcome::Found);
    EXPECT_EQ(got, a);
    EXPECT_EQ(d.Take(), TOutcome::NotFound);
    d.Run();
    EXPECT_TRUE(d.ahead.Holds(104));
}

TEST(ReadAhead, WholeRangeInOrderNeverPastItsEnd) {
    const std::uint32_t first = 0xFFFFFFF0u, last = 0xFFFFFFFFu;
    TDriver d(first, last, Rules(4));
    std::vector<std::uint32_t> taken;
    while (!d.ahead.Done()) {
        std::uint32_t head = d.ahead.Head();
        if (d.Take() == TOutcome::Pending) break;
        taken.push_back(head);
    }
    ASSERT_EQ(taken.size(), 16u);
    for (std::size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(taken[i], first + i);
    for (const auto& s : d.sent) EXPECT_GE(s.first, first);  // no wrap to 0.0.0.0
    EXPECT_EQ(d.sent.size(), 48u);
}

TEST(ReadAhead, KeepsThePace) {
    TDriver d(1, 5000, Rules(2000));
    while (d.now < T0 + 1s) d.Take();
    // 1 ms apart, with at most a small burst at the start
    std::size_t inFirstSecond = 0;
    for (const auto& s : d.sent) inFirstSecond += s.second < 1s;
    EXPECT_LE(inFirstSecond, 1017u);
    EXPECT_GE(inFirstSecond, 995u);
}

TEST(ReadAhead, NewAddressesGoBeforeRetriesThatCanWait) {
    TReadAheadRules r = Rules(2000);
    r.Pace = 250us;
    r.RetryAfter = 150ms;
    r.Patience = 1500ms;
    TDriver d(1, 1000, r);
    for (; d.now < T0 + 3s; d.now += 50us) d.Run();
    ASSERT_EQ(d.sent.size(), 3000u);
    for (std::uint32_t i = 0; i < 1000; ++i) EXPECT_EQ(d.sent[i].first, i + 1);
    std::map<std::uint32_t, std::pair<TClock::duration, TClock::duration>> span;  // first, last
    for (const auto& [ip, at] : d.sent) span.try_emplace(ip, at, at).first->second.second = at;
    for (const auto& [ip, s] : span)  // tries over soon enough to end within the patience
        EXPECT_LE(s.second - s.first, r.Patience - r.RetryAfter) << ip;
}

TEST(ReadAhead, MakesUpForALateWakeUpWithAShortBurstOnly) {
    TReadAheadRules r = Rules(2000);
    r.FirstBurst = 300;  // at once at the start only; a sender that falls behind later does not
    TDriver d(1, 5000, r);
    d.Run();
    EXPECT_EQ(d.sent.size(), 301u);
    d.now += 1ms;
    d.Run();
    std::size_t before = d.sent.size();
    d.now += 3ms;  // woken 2 ms late: 3 requests are due
    d.Run();
    EXPECT_EQ(d.sent.size() - before, 3u);
    before = d.sent.size();
    d.now += 100ms;  // after a long stall no more than the burst
    d.Run();
    EXPECT_EQ(d.sent.size() - before, 17u);
}

TEST(ReadAhead, RequestsNoFurtherThanTheWindowAheadOfTheWorker) {
    TDriver d(1, 5000, Rules(64));
    for (int i = 0; i < 1000; ++i) d.Step();
    std::uint32_t newest = 0;
    for (const auto& s : d.sent) newest = std::max(newest, s.first);
    EXPECT_EQ(newest, 64u);
    EXPECT_EQ(d.sent.size(), 3u * 64);
}

TEST(ReadAhead, BudgetLimitsFirstRequestsPerPeriod) {
    TReadAheadRules r = Rules(16);
    r.Tries = 1;
    r.Budget = 3;
    r.Period = 30s;
    TDriver d(1, 10, r);
    d.Run();
    d.now = T0 + 1s;
    d.Run();
    EXPECT_EQ(d.sent.size(), 3u);
    d.now = T0 + 29s;
    d.Run();
    EXPECT_EQ(d.sent.size(), 3u);
    d.now = T0 + 30s;
    d.Run();
    EXPECT_EQ(d.sent.size(), 6u);
}

TEST(ReadAhead, DecidedAdmissionsSendNothingAndExtraWaitDelaysGivingUp) {
    TReadAheadRules r = Rules();
    r.Tries = 1;
    TDriver d(1, 3, r);
    TAdmission own;
    own.Outcome = TOutcome::Found;
    own.Mac = {2, 0, 0, 0, 0, 9};
    d.admissions[1] = own;
    d.admissions[2].Outcome = TOutcome::NotFound;
    d.admissions[3].ExtraWait = 5s;
    d.Run();
    EXPECT_EQ(d.sent.size(), 1u);
    TMacAddr got{};
    EXPECT_EQ(d.Take(&got), TOutcome::Found);
    EXPECT_EQ(got, own.Mac);
    EXPECT_EQ(d.Take(), TOutcome::NotFound);
    d.now = T0 + 5s;
    EXPECT_EQ(d.ahead.HeadOutcome(d.now, nullptr), TOutcome::Pending);
    d.ahead.Resend(3);  // one more round, due at once, without the extra wait
    d.Run();
    EXPECT_EQ(d.SentTo(3), 2u);
    d.now += 200ms;
    EXPECT_EQ(d.ahead.HeadOutcome(d.now, nullptr), TOutcome::NotFound);
}

// An answer counts only when it came after the address's first request; a second MAC for one
// address makes it contested (handed off as not found, and reported with the first two MACs and a
// count of the rest, however many a flood brings); a found address is held until settled, a
// silent one until its patience is out.
TEST(ReadAhead, AnswersAfterTheRequestCountAndDifferentMacsContest) {
    TReadAheadRules r = Rules();
    r.Settle = 200ms;
    r.Patience = 1500ms;
    TDriver d(100, 102, r);
    const TMacAddr a{2, 0, 0, 0, 0, 1}, b{2, 0, 0, 0, 0, 2};
    d.ahead.Answer(100, a, T0);        // nothing asked yet
    d.Run();                           // all three asked at T0
    d.ahead.Answer(101, a, T0 - 1ms);  // queued before the request
    d.ahead.Answer(100, a, T0 + 1ms);
    d.ahead.Answer(100, b, T0 + 2ms);
    d.ahead.Answer(100, a, T0 + 3ms);
    for (std::uint8_t k = 3; k < 250; ++k) d.ahead.Answer(100, {2, 0, 0, 0, 0, k}, T0 + 4ms);
    d.ahead.Answer(102, b, T0 + 1ms);
    std::uint8_t mac[6] = {};
    std::vector<TContested> contested;
    EXPECT_FALSE(d.ahead.TakeHead(T0 + 199ms, mac, &contested));
    EXPECT_EQ(d.ahead.NextDue(T0 + 199ms), T0 + 200ms);
    EXPECT_EQ(d.ahead.TakeHead(T0 + 200ms, mac, &contested), std::optional<bool>(false));
    ASSERT_EQ(contested.size(), 1u);
    EXPECT_EQ(contested[0].IP, 100u);
    EXPECT_EQ(contested[0].Macs, (std::vector<TMacAddr>{a, b}));
    EXPECT_EQ(contested[0].More, 247u);
    for (auto t : {200ms, 400ms}) {
        d.now = T0 + t;
        d.Run();
    }
    EXPECT_EQ(d.SentTo(101), 3u);
    EXPECT_FALSE(d.ahead.TakeHead(T0 + 1499ms, mac));  // tries out at 600 ms, patience at 1.5 s
    EXPECT_EQ(d.ahead.NextDue(T0 + 1499ms), T0 + 1500ms);
    EXPECT_EQ(d.ahead.TakeHead(T0 + 1500ms, mac), std::optional<bool>(false));
    EXPECT_EQ(d.ahead.TakeHead(T0 + 1500ms, mac, &contested), std::optional<bool>(true));
    EXPECT_EQ(TMacAddr(std::to_array(mac)), b);
    EXPECT_EQ(contested.size(), 1u);
}

// A stop decides the head at once, found only if it has answered (settled or not), and sends
// nothing more: an address not yet asked is never waited for.
TEST(ReadAhead, StopDecidesTheHeadAtOnceAndSendsNothingMore) {
    TReadAheadRules r = Rules(4);
    r.Settle = 200ms;
    r.Patience = 1500ms;
    TDriver d(100, 199, r);
    d.Run();
    const TMacAddr a{2, 0, 0, 0, 0, 1};
    d.ahead.Answer(100, a, T0 + 1ms);
    d.ahead.Stop();
    d.now = T0 + 2ms;
    const std::size_t sent = d.sent.size();
    std::uint8_t mac[6] = {};
    EXPECT_EQ(d.ahead.TakeHead(d.now, mac), std::optional<bool>(true));
    EXPECT_EQ(TMacAddr(std::to_array(mac)), a);
    EXPECT_EQ(d.ahead.TakeHead(d.now, mac), std::optional<bool>(false));  // asked, silent
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d.ahead.TakeHead(d.now, mac), std::optional<bool>(false));
    d.now += 10s;
    d.Run();
    EXPECT_EQ(d.sent.size(), sent);
}

}  // namespace
