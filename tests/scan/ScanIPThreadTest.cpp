#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "QueueDispatcher.h"
#include "ScanIPThread.h"
#include "UTypes.h"

namespace {

using namespace std::chrono_literals;

std::uint32_t Host(const char* text) { return NetToHost(StrToIP(text)); }

// Answers from a script: hosts that answer with their MAC, one address during whose probe a
// routine is run on the main thread, one address that blocks until Cancel.
class TScriptedProbe : public TArpProbe {
  public:
    struct TScript {
        std::map<std::uint32_t, TMacAddr> answers;  // host order
        std::uint32_t duringProbe = 0;
        std::function<void()> onMain;
        std::optional<std::uint32_t> blockUntilCancel;
        std::vector<std::uint32_t> probed;                              // host order, as asked
        std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;  // ExpectRange calls
        bool destroyed = false;
    };

    TScriptedProbe(std::shared_ptr<TScript> s, std::shared_ptr<TQueueDispatcher> d)
        : s_(std::move(s)), d_(std::move(d)) {}
    ~TScriptedProbe() override { s_->destroyed = true; }

    void ExpectRange(std::uint32_t first, std::uint32_t last) override {
        s_->expected.emplace_back(first, last);
    }
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        std::uint32_t ip = NetToHost(wireIP);
        s_->probed.push_back(ip);
        if (s_->onMain && ip == s_->duringProbe) d_->Synchronize(s_->onMain);
        if (ip == s_->blockUntilCancel) {
            std::unique_lock lock(m_);
            wake_.wait(lock, [&] { return cancelled_; });
            return false;
        }
        auto it = s_->answers.find(ip);
        if (it == s_->answers.end()) return false;
        std::copy(it->second.begin(), it->second.end(), mac);
        return true;
    }
    void Cancel() override {
        std::lock_guard lock(m_);
        cancelled_ = true;
        wake_.notify_all();
    }

  private:
    std::shared_ptr<TScript> s_;
    std::shared_ptr<TQueueDispatcher> d_;
    std::mutex m_;
    std::condition_variable wake_;
    bool cancelled_ = false;
};

struct THandOff {
    std::uint32_t ip;
    bool found;
    TMacAddr mac;
};

// One scan, driven on the test's thread as the window would drive it.
struct TScan {
    std::shared_ptr<TQueueDispatcher> dispatcher = std::make_shared<TQueueDispatcher>();
    std::shared_ptr<TScriptedProbe::TScript> script = std::make_shared<TScriptedProbe::TScript>();
    std::vector<THandOff> handOffs;
    std::vector<std::string> events;
    int ended = 0;
    TScanIPThread* worker = nullptr;

    TScanIPThread* Create(std::uint32_t start, std::uint32_t end, bool withOnScan = true,
                          bool suspended = false) {
        worker =
            new TScanIPThread(start, end, suspended,
                              std::make_unique<TScriptedProbe>(script, dispatcher), dispatcher);
        if (withOnScan) {
            worker->OnScan = [this] {
                TMacAddr mac;
                std::copy(MacAddr, MacAddr + 6, mac.begin());
                handOffs.push_back({CurrentIP, Found, mac});
                events.push_back("scan");
            };
        }
        worker->OnTerminate = [this] {
            ++ended;
            events.push_back("end");
            worker = nullptr;
        };
        return worker;
    }
    // Runs the main loop until the worker has ended and freed itself.
    bool Finish() {
        return dispatcher->RunUntil([this] { return ended > 0 && script->destroyed; }, 10s);
    }
    std::vector<std::uint32_t> HandedIPs() const {
        std::vector<std::uint32_t> ips;
        for (const auto& h : handOffs) ips.push_back(h.ip);
        return ips;
    }
};

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> v;
    for (std::uint32_t ip = first;; ++ip) {
        v.push_back(ip);
        if (ip == last) break;
    }
    return v;
}

struct RangeCase {
    const char* name;
    const char* start;
    const char* end;
    std::size_t count;
};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class WorkerRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(WorkerRanges, ProbeEachAddressOnceInAscendingOrder) {
    const RangeCase& c = GetParam();
    TScan scan;
    scan.Create(Host(c.start), Host(c.end));
    ASSERT_TRUE(scan.Finish());
    auto expected = c.count == 0 ? std::vector<std::uint32_t>{} : Range(Host(c.start), Host(c.end));
    EXPECT_EQ(scan.script->probed.size(), c.count);
    EXPECT_EQ(scan.script->probed, expected);
    EXPECT_EQ(scan.HandedIPs(), expected);
    // The probe hears of exactly the range it will be asked for (and of none when empty).
    if (expected.empty()) {
        EXPECT_TRUE(scan.script->expected.empty());
    } else {
        ASSERT_EQ(scan.script->expected.size(), 1u);
        EXPECT_EQ(scan.script->expected[0].first, expected.front());
        EXPECT_EQ(scan.script->expected[0].second, expected.back());
    }
    EXPECT_EQ(scan.ended, 1);
    ASSERT_FALSE(scan.events.empty());
    EXPECT_EQ(scan.events.back(), "end");
}

INSTANTIATE_TEST_SUITE_P(
    Edges, WorkerRanges,
    testing::Values(RangeCase{"OneAddress", "198.18.0.7", "198.18.0.7", 1},
                    RangeCase{"CrossesThirdOctet", "192.168.1.250", "192.168.2.5", 12},
                    RangeCase{"EndsAtTopWithoutWrapping", "255.255.255.253", "255.255.255.255", 3},
                    RangeCase{"WholeTopOctetFromZero", "0.0.0.0", "0.0.0.2", 3},
                    RangeCase{"EndBelowStartProbesNothing", "198.18.0.9", "198.18.0.8", 0}),
    [](const testing::TestParamInfo<RangeCase>& i) { return std::string(i.param.name); });

TEST(Worker, HandsOffOutcomeWithStaleMacWhenNotFound) {
    TScan scan;
    TMacAddr a{0x02, 0x51, 0, 0, 0, 0x01};
    scan.script->answers[Host("198.18.0.2")] = a;
    std::fill(MacAddr, MacAddr + 8, 0xEE);
    scan.Create(Host("198.18.0.1"), Host("198.18.0.3"));
    ASSERT_TRUE(scan.Finish());
    ASSERT_EQ(scan.handOffs.size(), 3u);
    EXPECT_FALSE(scan.handOffs[0].found);
    EXPECT_EQ(scan.handOffs[0].mac, (TMacAddr{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(scan.handOffs[1].found);
    EXPECT_EQ(scan.handOffs[1].mac, a);
    EXPECT_FALSE(scan.handOffs[2].found);
    EXPECT_EQ(scan.handOffs[2].mac, a);  // not cleared between probes
}

TEST(Worker, StopDuringProbeDeliversThatAddressAndNoMore) {
    TScan scan;
    TScanIPThread* w = scan.Create(Host("198.18.0.10"), Host("198.18.0.20"), true, true);
    scan.script->duringProbe = Host("198.18.0.13");
    scan.script->onMain = [w] { w->Terminate(); };
    w->Start();
    ASSERT_TRUE(scan.Finish());
    EXPECT_EQ(scan.script->probed, Range(Host("198.18.0.10"), Host("198.18.0.13")));
    EXPECT_EQ(scan.HandedIPs(), Range(Host("198.18.0.10"), Host("198.18.0.13")));
    EXPECT_EQ(scan.events.back(), "end");
    EXPECT_EQ(scan.ended, 1);
}

TEST(Worker, StopInsideHandOffEndsBeforeNextAddress) {
    TScan scan;
    TScanIPThread* w = scan.Create(Host("198.18.0.10"), Host("198.18.0.20"));
    auto record = w->OnScan;
    w->OnScan = [&scan, record] {
        record();
        if (CurrentIP == Host("198.18.0.11")) scan.worker->Terminate();
    };
    ASSERT_TRUE(scan.Finish());
    EXPECT_EQ(scan.script->probed, Range(Host("198.18.0.10"), Host("198.18.0.11")));
    EXPECT_EQ(scan.ended, 1);
}

TEST(Worker, WithoutOnScanStillProbesWholeRange) {
    TScan scan;
    scan.Create(Host("198.18.0.1"), Host("198.18.0.6"), false);
    ASSERT_TRUE(scan.Finish());
    EXPECT_EQ(scan.script->probed, Range(Host("198.18.0.1"), Host("198.18.0.6")));
    EXPECT_EQ(scan.ended, 1);
}

TEST(Worker, SuspendedWorkerWaitsForStart) {
    TScan scan;
    TScanIPThread* w = scan.Create(Host("198.18.0.1"), Host("198.18.0.2"), true, true);
    EXPECT_EQ(CurrentIP, Host("198.18.0.1"));
    EXPECT_FALSE(scan.dispatcher->RunUntil([] { return false; }, 100ms));
    EXPECT_TRUE(scan.script->probed.empty());
    w->Start();
    ASSERT_TRUE(scan.Finish());
    EXPECT_EQ(scan.HandedIPs(), Range(Host("198.18.0.1"), Host("198.18.0.2")));
}

TEST(Worker, CancelWakesBlockedProbeAndEndsWithoutEndHandler) {
    TScan scan;
    scan.script->blockUntilCancel = Host("198.18.0.3");
    TScanIPThread* w = scan.Create(Host("198.18.0.1"), Host("198.18.0.9"), true, true);
    // As the closing window does: handlers emptied, then the stop, once address 3 is probed.
    scan.script->duringProbe = Host("198.18.0.3");
    scan.script->onMain = [w] {
        w->OnScan = nullptr;
        w->OnTerminate = nullptr;
        w->Cancel();
    };
    w->Start();
    ASSERT_TRUE(scan.dispatcher->RunUntil([&] { return scan.script->destroyed; }, 10s));
    EXPECT_EQ(scan.script->probed, Range(Host("198.18.0.1"), Host("198.18.0.3")));
    EXPECT_EQ(scan.HandedIPs(), Range(Host("198.18.0.1"), Host("198.18.0.2")));
    EXPECT_EQ(scan.ended, 0);
}

TEST(Worker, ErrorInHandOffEndsScanWithEndNotice) {
    TScan scan;
    TScanIPThread* w = scan.Create(Host("198.18.0.1"), Host("198.18.0.9"));
    w->OnScan = [] {
        if (CurrentIP == Host("198.18.0.2")) throw std::runtime_error("handler failed");
    };
    ASSERT_TRUE(scan.Finish());
    EXPECT_EQ(scan.script->probed, Range(Host("198.18.0.1"), Host("198.18.0.2")));
    EXPECT_EQ(scan.ended, 1);
}

}  // namespace
