#include <windows.h>

#include <mutex>

#include "StopSignals.h"

namespace {

std::mutex guard;
std::function<void()> stop;

BOOL WINAPI OnConsoleEvent(DWORD /*type*/) {
    std::lock_guard lock(guard);
    if (!stop) return FALSE;
    stop();
    return TRUE;
}

}  // namespace

struct TStopSignals::TImpl {};

TStopSignals::TStopSignals(std::function<void()> onStop) {
    {
        std::lock_guard lock(guard);
        stop = std::move(onStop);
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

TStopSignals::~TStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    std::lock_guard lock(guard);
    stop = nullptr;
}
