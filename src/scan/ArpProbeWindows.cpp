// The probe of a Windows scan: raw ARP through the packet capture library when it is installed
// and an adapter covers the range, else SendARP with its read-ahead. Chosen at the scan's start.
#include <mutex>

#include "ArpProbeRaw.h"
#include "ArpProbeWin.h"
#include "FrameLinkCapture.h"
#include "NpcapState.h"

namespace {

// Why SendARP asked: the capture driver's state where it explains it, else the link's reason.
// Reading the state never fails a scan.
std::string SlowPathNotice(const std::string& why) {
    std::string advice = NpcapAdvice(ReadNpcapState());
    if (!advice.empty()) return advice;
    return "本次扫描改用了较慢的 SendARP，因为抓包接口无法使用：" + why;
}

class TArpProbeChosen : public TArpProbe {
  public:
    bool SendArp(std::uint32_t wireIP, std::uint8_t* mac) override {
        const std::uint32_t ip = NetToHost(wireIP);
        return Choose(ip, ip).SendArp(wireIP, mac);
    }
    void ExpectRange(std::uint32_t firstIP, std::uint32_t lastIP) override {
        Choose(firstIP, lastIP).ExpectRange(firstIP, lastIP);
    }
    void Cancel() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        if (probe_) probe_->Cancel();
    }
    void Stop() override {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        if (probe_) probe_->Stop();
    }
    std::vector<TContested> TakeContested() override {
        return probe_ ? probe_->TakeContested() : std::vector<TContested>{};
    }
    TProbeFault TakeFault() override {
        TProbeFault fault = probe_ ? probe_->TakeFault() : TProbeFault{};
        fault.Notice = notice_;
        return fault;
    }
    const char* Method() const override { return probe_ ? probe_->Method() : ""; }

  private:
    TArpProbe& Choose(std::uint32_t first, std::uint32_t last) {
        if (!probe_) {
            std::unique_ptr<TArpProbe> p;
            std::string why;
            if (auto link = OpenCaptureLink(first, last, &why))
                p = CreateRawArpProbeOn(std::move(link));
            if (!p) {
                p = CreateArpProbeWin(SystemSendArp);
                notice_ = SlowPathNotice(why);
            }
            std::lock_guard lock(mutex_);
            if (cancelled_) p->Cancel();
            if (stopped_) p->Stop();
            probe_ = std::move(p);
        }
        return *probe_;
    }

    std::mutex mutex_;  // between Cancel and Stop, from the main thread, and the choice
    bool cancelled_ = false;
    bool stopped_ = false;
    std::unique_ptr<TArpProbe> probe_;
    std::string notice_;
};

}  // namespace

std::unique_ptr<TArpProbe> CreateArpProbe() { return std::make_unique<TArpProbeChosen>(); }
