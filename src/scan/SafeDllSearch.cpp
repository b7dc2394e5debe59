#include "SafeDllSearch.h"

#include <windows.h>

bool TakeSafeDllSearch() {
    // Looked up rather than linked, so that the program still starts where it is missing.
    using TSetDefault = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    const auto set = reinterpret_cast<TSetDefault>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return set != nullptr &&
           set(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
}
