// A wpcap.dll that must never be loaded: planted beside the program and in its working folder by
// window-wine.sh, it leaves the file "wpcap-loaded.txt" beside itself as soon as it is.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    std::wstring marker(path, n);
    marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"wpcap-loaded.txt";
    HANDLE f = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return TRUE;
}
