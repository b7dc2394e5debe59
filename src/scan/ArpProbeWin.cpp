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
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "UTypes.h"

std::uint32_t SystemSendArp(std::uint32_t wireIP, std::uint8_t* mac) {
    // Room for the platform's 8-byte answer; only the first 6 bytes are the address.
    ULONG buf[2] = {0, 0};
    ULONG len = 6;
    // The wire-order value, first octet in the least significant byte, is the IPAddr's
    // in-memory layout on every Windows target (all little-endian).
    const DWORD r = SendARP(static_cast<IPAddr>(wireIP), 0, buf, &len);
    if (r != NO_ERROR) return r;
    if (len < 6) return ERROR_BAD_NET_NAME;
    std::memcpy(mac, buf, 6);
    return NO_ERROR;
}

bool SendArpNoAnswer(std::uint32_t code) {
    // Vista and later say ERROR_BAD_NET_NAME; older systems ERROR_GEN_FAILURE; a cleared entry
    // ERROR_NOT_FOUND.
    return code == ERROR_BAD_NET_NAME || code == ERROR_GEN_FAILURE || code == ERROR_NOT_FOUND;
}

namespace {

// The system's words for an error code, in UTF-8.
std::string SystemMessage(std::uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8;
    if (n > 0) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                             nullptr, nullptr);
        utf8.resize(static_cast<std::size_t>(std::max(size, 0)));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), size, nullptr,
                            nullptr);
    }
    if (text != nullptr) LocalFree(text);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' '))
        utf8.pop_back();
    return "SendARP: " + std::to_string(code) + (utf8.empty() ? "" : " " + utf8);
}

// What the calls of one probe said: whether any could be made at all.
class TCallTally {
  public:
    // The outcome of one call, as the worker sees it.
    bool Note(std::uint32_t code) {
        std::lock_guard lock(mutex_);
        if (code == NO_ERROR || SendArpNoAnswer(code)) {
            ++made_;
        } else {
            ++refused_;
            lastRefusal_ = code;
        }
        return code == NO_ERROR;
    }
    TProbeFault TakeFault() {
        std::lock_guard lock(mutex_);
        TProbeFault f;
        if (made_ == 0 && refused_ > 0) f = {TProbeFaultKind::Refused, SystemMessage(lastRefusal_)};
        made_ = refused_ = 0;
        return f;
    }

  private:
    std::mutex mutex_;
    std::uint64_t made_ = 0;
    std::uint64_t refused_ = 0;
    std::uint32_t lastRefusal_ = 0;
};

// One announced range and its calls. The pool threads own it together with the probe, so that a
// call still blocked in SendARP when the probe goes away finishes on its own and then ends.
struct TRangeCalls {
    struct TSlot {
        bool done = false;
        bool found = false;
        std::array<std::uint8_t, 8> mac{};
    };

    TRangeCalls(TSendArp send, std::shared_ptr<TCallTally> tally, std::uint32_t first,
                std::uint32_t last, std::size_t window)
        : Send(std::move(send)),
          Tally(std::move(tally)),
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
                found = Tally->Note(
                    Send(HostToNet(static_cast<std::uint32_t>(First + offset)), mac.data()));
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
    const std::shared_ptr<TCallTally> Tally;
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
    const char* Method() const override { return "sendarp"; }

    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override {
        Close(false);
        if (firstIP > lastIP) return;
        auto calls = std::make_shared<TRangeCalls>(send_, tally_, firstIP, lastIP, pool_.Window);
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
        if (!tally_->Note(send_(wireIP, buf.data()))) return false;
        std::memcpy(mac, buf.data(), 6);
        return true;
    }

    // SendARP itself cannot be interrupted: a call in progress ends within the system's timeout,
    // on a pool thread that nobody waits for.
    void Cancel() override {
        cancelled_ = true;
        Close(true);
    }
    TProbeFault TakeFault() override { return tally_->TakeFault(); }

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
    std::shared_ptr<TCallTally> tally_ = std::make_shared<TCallTally>();
    std::shared_ptr<TRangeCalls> calls_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<TArpProbe> CreateArpProbeWin(TSendArp sendArp, TSendArpPool pool) {
    return std::make_unique<TArpProbeWin>(std::move(sendArp), pool);
}
