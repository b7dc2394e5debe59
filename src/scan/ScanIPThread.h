// The scan worker: probes StartIP..EndIP (host order, inclusive) one address at a time on a
// thread of its own and hands each outcome to the main thread, waiting until it has been dealt
// with.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "ArpProbe.h"

// The outcome of the probe just made; written by the worker outside the hand-off, read by the
// main thread inside it.
extern std::uint32_t CurrentIP;  // host order
extern std::uint8_t MacAddr[8];  // first 6 bytes; stale when the probe failed
extern bool Found;

// How the worker reaches the main thread.
class TDispatcher {
  public:
    virtual ~TDispatcher() = default;
    // Runs fn on the main thread and returns once it has run.
    virtual void Synchronize(const std::function<void()>& fn) = 0;
    // Runs fn on the main thread later, without waiting.
    virtual void Queue(std::function<void()> fn) = 0;
};

class TScanIPThread {
  public:
    // Sets CurrentIP := startIP. The object frees itself once its body has ended and
    // OnTerminate (if still set) has run on the main thread.
    TScanIPThread(std::uint32_t startIP, std::uint32_t endIP, bool createSuspended,
                  std::unique_ptr<TArpProbe> probe, std::shared_ptr<TDispatcher> dispatcher);
    TScanIPThread(const TScanIPThread&) = delete;
    TScanIPThread& operator=(const TScanIPThread&) = delete;

    void Start();  // for a worker created suspended
    // The probe in progress ends at once (found only if its address has answered) and is handed
    // off; no further address is probed.
    void Terminate();
    bool Terminated() const;
    // Terminate, and wake the probe in progress so that the body ends at once; for closing the
    // program (the caller empties OnScan and OnTerminate first).
    void Cancel();
    // The addresses handed off as not found because different MACs answered for them; complete
    // once the body has ended (read it in OnTerminate).
    const std::vector<TContested>& Contested() const { return contested_; }
    // What kept the probe from asking (Kind None when nothing did); complete once the body has
    // ended.
    const TProbeFault& Fault() const { return fault_; }
    // Workers created and not yet freed, in the whole process.
    static int Alive() { return alive_.load(); }

    std::uint32_t StartIP;
    std::uint32_t EndIP;
    std::function<void()> OnScan;       // called on the main thread, may be empty
    std::function<void()> OnTerminate;  // called on the main thread after the body

  private:
    ~TScanIPThread();
    void Execute();

    static inline std::atomic<int> alive_{0};

    std::unique_ptr<TArpProbe> probe_;
    std::shared_ptr<TDispatcher> dispatcher_;
    std::vector<TContested> contested_;
    TProbeFault fault_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};
