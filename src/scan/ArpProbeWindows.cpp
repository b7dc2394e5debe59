// The probe of a Windows scan: raw ARP through the packet capture library when it is installed
// and an adapter covers the range, else SendARP with its read-ahead. Chosen at the scan's start.
#include <mutex>

#include "ArpProbeRaw.h"
#include "ArpProbeWin.h"
#include "FrameLinkCapture.h"

namespace {

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
    TProbeFault TakeFault() override { return probe_ ? probe_->TakeFault() : TProbeFault{}; }
    const char* Method() const override { return probe_ ? probe_->Method() : ""; }

  private:
    TArpProbe& Choose(std::uint32_t first, std::uint32_t last) {
        if (!probe_) {
            std::unique_ptr<TArpProbe> p;
            if (auto link = OpenCaptureLink(first, last)) p = CreateRawArpProbeOn(std::move(link));
            if (!p) p = CreateArpProbeWin(SystemSendArp);
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
};

}  // namespace

std::unique_ptr<TArpProbe> CreateArpProbe() { return std::make_unique<TArpProbeChosen>(); }
