#include <windows.h>

#include "NpcapState.h"

namespace {

// Whether the process runs elevated (an administrator past the consent prompt).
bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

std::optional<bool> ServiceRunning() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return std::nullopt;
    std::optional<bool> running;
    if (SC_HANDLE service = OpenServiceW(manager, L"npcap", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status))
            running = status.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(service);
    } else if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        running = false;
    }
    CloseServiceHandle(manager);
    return running;
}

}  // namespace

TNpcapState ReadNpcapState() {
    HKEY key = nullptr;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\npcap", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return TNpcapState::Missing;
    if (opened != ERROR_SUCCESS) return TNpcapState::Unread;
    TNpcapFacts facts;
    facts.Installed = true;
    DWORD adminOnly = 0;
    DWORD size = sizeof adminOnly;
    if (RegGetValueW(key, L"Parameters", L"AdminOnly", RRF_RT_REG_DWORD, nullptr, &adminOnly,
                     &size) == ERROR_SUCCESS)
        facts.AdminOnly = adminOnly != 0;
    RegCloseKey(key);
    facts.Elevated = Elevated();
    facts.Running = ServiceRunning();
    return NpcapStateOf(facts);
}
