#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ArpProbeWin.h"
#include "NpcapState.h"
#include "QueueDispatcher.h"
#include "ScanIPThread.h"
#include "UTypes.h"

namespace {

using namespace std::chrono_literals;
using TSteady = std::chrono::steady_clock;

// Only the failure path can be checked without a network of our own: the loopback address has
// no hardware address and no request leaves the host. (Under Wine SendARP always fails.) What
// the worker does with an answer is covered by its tests with a scripted probe.
TEST(ArpProbeWin, LoopbackGivesNoAnswerAndLeavesTheMacAlone) {
    std::unique_ptr<TArpProbe> probe = CreateArpProbe();
    ASSERT_NE(probe, nullptr);
    std::array<std::uint8_t, 8> mac = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(probe->SendArp(StrToIP("127.0.0.1"), mac.data()));
    EXPECT_EQ(mac, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// SendARP from a script: the hosts that answer and after how long, the time every other
// address takes to fail; it counts its calls. While held, every call waits for Release instead.
// Shared with the pool threads, which may outlive the probe by one call.
struct TScriptedSendArp {
    std::map<std::uint32_t, TMacAddr> answers;  // host order
    TSteady::duration answerAfter = 50ms;
    TSteady::duration failAfter = 3s;
    bool held = false;
    std::uint32_t failWith = 67;  // ERROR_BAD_NET_NAME: nobody answered
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint32_t> calls;  // host order

    static TSendArp Seam(const std::shared_ptr<TScriptedSendArp>& s) {
        return [s](std::uint32_t wireIP, std::uint8_t* mac) {
            std::uint32_t ip = NetToHost(wireIP);
            auto it = s->answers.find(ip);
            {
                std::unique_lock lock(s->mutex);
                s->calls.push_back(ip);
                s->changed.notify_all();
                if (s->held) {
                    s->changed.wait(lock, [&s] { return !s->held; });
                    return s->failWith;
                }
            }
            std::this_thread::sleep_for(it == s->answers.end() ? s->failAfter : s->answerAfter);
            if (it == s->answers.end()) return s->failWith;
            std::copy(it->second.begin(), it->second.end(), mac);
            return std::uint32_t{0};
        };
    }
    std::size_t Calls() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    void WaitForCalls(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return calls.size() >= count; });
    }
    void Release() {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
};

struct THandOff {
    std::uint32_t ip;
    bool found;
    TMacAddr mac;
};

// One scan through the Windows probe, driven on the test's thread as the window drives it.
struct TWinScan {
    std::shared_ptr<TQueueDispatcher> dispatcher = std::make_shared<TQueueDispatcher>();
    std::shared_ptr<TScriptedSendArp> sendArp = std::make_shared<TScriptedSendArp>();
    std::vector<THandOff> handOffs;
    bool ended = false;
    TProbeFault fault;
    TScanIPThread* worker = nullptr;

    void Start(const char* first, const char* last) {
        worker = new TScanIPThread(NetToHost(StrToIP(first)), NetToHost(StrToIP(last)), true,
                                   CreateArpProbeWin(TScriptedSendArp::Seam(sendArp)), dispatcher);
        worker->OnScan = [this] {
            TMacAddr mac;
            std::copy(MacAddr, MacAddr + 6, mac.begin());
            handOffs.push_back({CurrentIP, Found, mac});
        };
        worker->OnTerminate = [this] {
            fault = worker->Fault();
            ended = true;
            worker = nullptr;
        };
        worker->Start();
    }
    bool RunUntilEnd(std::chrono::milliseconds timeout) {
        return dispatcher->RunUntil([this] { return ended; }, timeout);
    }
};

TMacAddr MacOf(std::uint32_t ip) {
    return {
        0x02, 0x00, 0x5E, 0x10, static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
}

// Silent addresses cost one timeout per pool, not one each: 236 silent addresses of 3 s each
// would take about 12 minutes one after the other.
TEST(ArpProbeWin, ReadAheadScansASlash24InOrderWithinThirtySeconds) {
    TWinScan scan;
    std::uint32_t first = NetToHost(StrToIP("198.18.7.0"));
    for (std::uint32_t k = 0; k < 20; ++k)
        scan.sendArp->answers[first + 7 + 12 * k] = MacOf(first + 7 + 12 * k);
    auto begin = TSteady::now();
    scan.Start("198.18.7.0", "198.18.7.255");
    ASSERT_TRUE(scan.RunUntilEnd(30s));
    auto took = TSteady::now() - begin;
    EXPECT_LT(took, 30s);
    std::printf("/24 with 236 silent addresses (3 s each) and 20 hosts: %.1f s\n",
                std::chrono::duration<double>(took).count());

    ASSERT_EQ(scan.handOffs.size(), 256u);
    for (std::uint32_t k = 0; k < 256; ++k) {
        const THandOff& h = scan.handOffs[k];
        ASSERT_EQ(h.ip, first + k);
        auto answer = scan.sendArp->answers.find(h.ip);
        ASSERT_EQ(h.found, answer != scan.sendArp->answers.end()) << IPToStr(HostToNet(h.ip));
        if (h.found) {
            EXPECT_EQ(h.mac, answer->second);
        }
    }
    EXPECT_EQ(scan.sendArp->Calls(), 256u);  // each address once, nothing past the end
}

// Stop lets the address in progress finish and be handed off; close wakes the worker while
// every SendARP call still waits.
TEST(ArpProbeWin, StopAndCloseEndTheScanWithinOneTimeout) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        TWinScan scan;
        scan.sendArp->held = true;
        scan.Start("198.18.7.0", "198.18.7.255");
        // Once the pool is full, the worker waits for the first address.
        scan.sendArp->WaitForCalls(TSendArpPool{}.Threads);
        if (close) {
            scan.worker->OnScan = nullptr;
            scan.worker->Cancel();
            EXPECT_TRUE(scan.RunUntilEnd(10s)) << "the close does not wake the worker";
            scan.sendArp->Release();
        } else {
            scan.worker->Terminate();
            scan.sendArp->Release();
            EXPECT_TRUE(scan.RunUntilEnd(10s)) << "the stop is not honoured";
        }
        ASSERT_EQ(scan.handOffs.size(), close ? 0u : 1u);
        if (!close) {
            EXPECT_EQ(scan.handOffs[0].ip, NetToHost(StrToIP("198.18.7.0")));
        }
    }
}

// A scan none of whose calls could be made (as under Wine: "not supported") ends saying so, with
// the system's code; one address that was asked and found is enough for it not to.
TEST(ArpProbeWin, ScanWhoseEveryCallIsRefusedSaysSo) {
    for (bool oneAnswers : {false, true}) {
        TWinScan scan;
        scan.sendArp->failAfter = 1ms;
        scan.sendArp->failWith = 50;  // ERROR_NOT_SUPPORTED
        if (oneAnswers) scan.sendArp->answers[NetToHost(StrToIP("198.18.7.9"))] = MacOf(9);
        scan.Start("198.18.7.0", "198.18.7.31");
        ASSERT_TRUE(scan.RunUntilEnd(10s));
        EXPECT_EQ(scan.handOffs.size(), 32u);
        if (oneAnswers) {
            EXPECT_EQ(scan.fault.Kind, TProbeFaultKind::None);
        } else {
            EXPECT_EQ(scan.fault.Kind, TProbeFaultKind::Refused);
            EXPECT_EQ(scan.fault.Detail.rfind("SendARP: 50", 0), 0u) << scan.fault.Detail;
        }
    }
}

TEST(ArpProbeWin, SingleAddressScanMakesOneCall) {
    TWinScan scan;
    scan.sendArp->failAfter = 10ms;
    scan.Start("198.18.7.9", "198.18.7.9");
    ASSERT_TRUE(scan.RunUntilEnd(10s));
    ASSERT_EQ(scan.handOffs.size(), 1u);
    EXPECT_EQ(scan.sendArp->Calls(), 1u);
}

// Npcap's service key as its installer leaves it, without a service behind it: read as stopped,
// and as missing once the key is gone.
TEST(NpcapState, ReadFromTheServiceKeyAndTheServiceManager) {
    const wchar_t* const key = L"SYSTEM\\CurrentControlSet\\Services\\npcap";
    EXPECT_EQ(ReadNpcapState(), TNpcapState::Missing);
    const DWORD adminOnly = 1;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(key) + L"\\Parameters").c_str(),
                              L"AdminOnly", REG_DWORD, &adminOnly, sizeof adminOnly),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadNpcapState(), TNpcapState::Stopped);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    EXPECT_EQ(ReadNpcapState(), TNpcapState::Missing);
}

}  // namespace
