#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "StopSignals.h"

namespace {

std::mutex guard;
std::function<void()> stop;

std::mutex endGuard;
std::condition_variable endedChanged;
bool ended = false;

// Windows gives a handler about 5 s after a console's close before it ends the process anyway.
constexpr auto LastSaveWait = std::chrono::milliseconds(4500);

bool EndsProcess(DWORD type) {
    return type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
    {
        std::lock_guard lock(guard);
        if (!stop) return FALSE;
        stop();
    }
    if (EndsProcess(type)) {
        std::unique_lock lock(endGuard);
        endedChanged.wait_for(lock, LastSaveWait, [] { return ended; });
    }
    return TRUE;
}

}  // namespace

struct TStopSignals::TImpl {};

TStopSignals::TStopSignals(std::function<void()> onStop) {
    {
        std::lock_guard lock(guard);
        stop = std::move(onStop);
    }
    {
        std::lock_guard lock(endGuard);
        ended = false;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

TStopSignals::~TStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        std::lock_guard lock(endGuard);
        ended = true;
    }
    endedChanged.notify_all();
    std::lock_guard lock(guard);
    stop = nullptr;
}
