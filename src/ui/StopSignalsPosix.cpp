#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "StopSignals.h"

struct TStopSignals::TImpl {
    // SIGINT, SIGTERM and SIGHUP, but one ignored by whoever started us stays ignored (nohup)
    sigset_t Stops{};
    sigset_t Set{};  // Stops and SIGUSR2, by which the waiter is told to end
    sigset_t Old{};
    std::atomic<bool> Ending{false};
    std::thread Waiter;
};

TStopSignals::TStopSignals(std::function<void()> onStop) : impl_(std::make_unique<TImpl>()) {
    sigemptyset(&impl_->Stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        if (sigaction(signal, nullptr, &was) == 0 && was.sa_handler != SIG_IGN)
            sigaddset(&impl_->Stops, signal);
    }
    impl_->Set = impl_->Stops;
    sigaddset(&impl_->Set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &impl_->Set, &impl_->Old);
    impl_->Waiter = std::thread([impl = impl_.get(), onStop = std::move(onStop)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&impl->Set, &signal) != 0) continue;
            if (impl->Ending) return;
            if (sigismember(&impl->Stops, signal) == 1) onStop();
        }
    });
}

TStopSignals::~TStopSignals() {
    impl_->Ending = true;
    pthread_kill(impl_->Waiter.native_handle(), SIGUSR2);
    impl_->Waiter.join();
    pthread_sigmask(SIG_SETMASK, &impl_->Old, nullptr);
}
