#include "ArpProbeWin.h"

#include <winsock2.h>
// winsock2.h before the others
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "UTypes.h"

bool SystemSendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    // Room for the platform's 8-byte answer; only the first 6 bytes are the address.
    ULONG buf[2] = {0, 0};
    ULONG len = 6;
    // The wire-order value, first octet in the least significant byte, is the IPAddr's
    // in-memory layout on every Windows target (all little-endian).
    if (SendARP(static_cast<IPAddr>(wireIP), 0, buf, &len) != NO_ERROR || len < 6) return false;
    std::memcpy(mac, buf, 6);
    return true;
}

namespace {

// One announced range and its calls. The pool threads own it together with the probe, so that a
// call still blocked in SendARP when the probe goes away finishes on its own and then ends.
struct TRangeCalls {
    struct TSlot {
        bool done = false;
        bool found = false;
        std::array<std::uint8_t, 8> mac{};
    };

    TRangeCalls(TSendArp send, std::uint32_t first, std::uint32_t last, std::size_t window)
        : Send(std::move(send)),
          First(first),
          Total(std::uint64_t{last} - first + 1),
          Slots(std::max<std::size_t>(window, 1)) {}

    // The body of each pool thread: claims the next address while it lies within the window
    // ahead of the head, makes its call and keeps the outcome for the worker.
    void Call() {
        std::unique_lock lock(Mutex);
        for (;;) {
            Wake.wait(lock,
                      [&] { return Closed || Claimed >= Total || Claimed < Head + Slots.size(); });
            if (Closed || Claimed >= Total) return;
            std::uint64_t offset = Claimed++;
            lock.unlock();
            std::array<std::uint8_t, 8> mac{};
            bool found = false;
            try {
                found = Send(HostToNet(static_cast<std::uint32_t>(First + offset)), mac.data());
            } catch (...) {
                // A failing call is "not found", as a failing SendARP is.
            }
            lock.lock();
            TSlot& s = Slots[offset % Slots.size()];
            s = TSlot{true, found, mac};
            Wake.notify_all();
        }
    }

    const TSendArp Send;
    const std::uint32_t First;
    const std::uint64_t Total;
    std::mutex Mutex;
    std::condition_variable Wake;
    std::vector<TSlot> Slots;   // by offset modulo their number
    std::uint64_t Head = 0;     // offset of the address the worker asks for next
    std::uint64_t Claimed = 0;  // offsets below it are claimed by a pool thread
    bool Closed = false;        // no further call is started
    bool Cancelled = false;     // the worker's wait ends at once
};

class TArpProbeWin : public TArpProbe {
  public:
    TArpProbeWin(TSendArp send, TSendArpPool pool) : send_(std::move(send)), pool_(pool) {}
    ~TArpProbeWin() override { Close(false); }

    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override {
        Close(false);
        if (firstIP > lastIP) return;
        auto calls = std::make_shared<TRangeCalls>(send_, firstIP, lastIP, pool_.Window);
        std::uint64_t threads = std::min<std::uint64_t>(pool_.Threads, calls->Total);
        std::size_t started = 0;
        for (; started < threads; ++started) {
            try {
                std::thread([calls] { calls->Call(); }).detach();
            } catch (const std::system_error&) {
                break;  // fewer threads; with none, every address is probed alone
            }
        }
        if (started > 0) calls_ = std::move(calls);
    }

    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        if (cancelled_) return false;
        if (calls_) {
            TRangeCalls& c = *calls_;
            std::unique_lock lock(c.Mutex);
            std::uint32_t ip = NetToHost(wireIP);
            if (c.Head < c.Total && ip - c.First == c.Head) {
                TRangeCalls::TSlot& s = c.Slots[c.Head % c.Slots.size()];
                c.Wake.wait(lock, [&] { return s.done || c.Cancelled; });
                if (c.Cancelled) return false;
                bool found = s.found;
                if (found) std::memcpy(mac, s.mac.data(), 6);
                s = TRangeCalls::TSlot{};
                ++c.Head;
                c.Wake.notify_all();
                return found;
            }
        }
        // Asked out of the announced order: this address alone.
        std::array<std::uint8_t, 8> buf{};
        if (!send_(wireIP, buf.data())) return false;
        std::memcpy(mac, buf.data(), 6);
        return true;
    }

    // SendARP itself cannot be interrupted: a call in progress ends within the system's timeout,
    // on a pool thread that nobody waits for.
    void Cancel() override {
        cancelled_ = true;
        Close(true);
    }

  private:
    void Close(bool cancel) {
        if (!calls_) return;
        {
            std::lock_guard lock(calls_->Mutex);
            calls_->Closed = true;
            calls_->Cancelled = calls_->Cancelled || cancel;
        }
        calls_->Wake.notify_all();
        if (!cancel) calls_.reset();
    }

    TSendArp send_;
    TSendArpPool pool_;
    std::shared_ptr<TRangeCalls> calls_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<TArpProbe> CreateArpProbeWin(TSendArp sendArp, TSendArpPool pool) {
    return std::make_unique<TArpProbeWin>(std::move(sendArp), pool);
}

std::unique_ptr<TArpProbe> CreateArpProbe() { return CreateArpProbeWin(SystemSendArp); }
