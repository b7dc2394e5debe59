#include "ScanIPThread.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

#include "UTypes.h"

std::uint32_t CurrentIP = 0;
std::uint8_t MacAddr[8] = {};
bool Found = false;

TScanIPThread::TScanIPThread(std::uint32_t startIP, std::uint32_t endIP, bool createSuspended,
                             std::unique_ptr<TArpProbe> probe,
                             std::shared_ptr<TDispatcher> dispatcher)
    : StartIP(startIP), EndIP(endIP), probe_(std::move(probe)), dispatcher_(std::move(dispatcher)) {
    ++alive_;
    CurrentIP = startIP;
    if (!createSuspended) Start();
}

TScanIPThread::~TScanIPThread() {
    if (thread_.joinable()) thread_.join();
    --alive_;
}

void TScanIPThread::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] {
        try {
            Execute();
        } catch (...) {
            // An error escaping the hand-off ends the scan; the end notice still comes.
        }
        if (probe_) {
            contested_ = probe_->TakeContested();
            fault_ = probe_->TakeFault();
        }
        dispatcher_->Queue([this] {
            auto free = [](TScanIPThread* t) { delete t; };
            std::unique_ptr<TScanIPThread, decltype(free)> self(this, free);
            if (OnTerminate) OnTerminate();
        });
    });
}

void TScanIPThread::Terminate() {
    terminated_ = true;
    if (probe_) probe_->Stop();
}

bool TScanIPThread::Terminated() const { return terminated_; }

void TScanIPThread::Cancel() {
    Terminate();
    if (probe_) probe_->Cancel();
}

void TScanIPThread::Execute() {
#ifdef _WIN32
    WSADATA wsa;
    bool winsock = WSAStartup(MAKEWORD(2, 0), &wsa) == 0;
#endif
    if (CurrentIP <= EndIP) probe_->ExpectRange(CurrentIP, EndIP);
    for (;;) {
        if (terminated_) break;
        if (CurrentIP > EndIP) break;
        Found = probe_->SendArp(HostToNet(CurrentIP), MacAddr);
        dispatcher_->Synchronize([this] {
            if (OnScan) OnScan();
        });
        if (CurrentIP == EndIP) break;  // also at 255.255.255.255: never wraps to 0.0.0.0
        ++CurrentIP;
    }
#ifdef _WIN32
    if (winsock) WSACleanup();
#endif
}
