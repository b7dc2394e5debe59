// Reads a built program's resources as Explorer does: its version (VERSIONINFO), its icon and
// its manifest. Usage: exe_resources PROGRAM.exe VERSION; exit status 0 when all are there.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// RT_GROUP_ICON is 14 and RT_MANIFEST 24, given here in their wide-character form.
int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

std::wstring Value(std::vector<char>& info, const wchar_t* name) {
    void* text = nullptr;
    UINT size = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &text, &size) || size == 0) return {};
    return static_cast<const wchar_t*>(text);
}

std::string Resource(HMODULE m, LPCWSTR type) {
    HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), type);
    if (r == nullptr) return {};
    HGLOBAL g = LoadResource(m, r);
    return g == nullptr
               ? std::string()
               : std::string(static_cast<const char*>(LockResource(g)), SizeofResource(m, r));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring version = argv[2];
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(argv[1], &ignored));
    Check(!info.empty() &&
              GetFileVersionInfoW(argv[1], 0, static_cast<DWORD>(info.size()), info.data()),
          "the program has a version resource");
    if (info.empty()) return 1;
    Check(Value(info, L"ProductName") == L"Quorvel", "ProductName is Quorvel");
    Check(Value(info, L"ProductVersion") == version, "ProductVersion is the project's version");
    Check(Value(info, L"FileVersion") == version, "FileVersion is the project's version");
    Check(!Value(info, L"FileDescription").empty(), "FileDescription is given");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    Check(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) &&
              fixed != nullptr && fixed->dwSignature == VS_FFI_SIGNATURE,
          "the fixed file version is readable");
    if (fixed != nullptr)
        std::wprintf(L"version %u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                     LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));

    HMODULE m =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Check(m != nullptr, "the program opens as a resource file");
    if (m == nullptr) return 1;
    Check(FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)) != nullptr, "it has an icon");
    const std::string manifest = Resource(m, MAKEINTRESOURCEW(24));
    Check(manifest.find("level=\"asInvoker\"") != std::string::npos, "its manifest: asInvoker");
    Check(manifest.find(">UTF-8</activeCodePage>") != std::string::npos,
          "its manifest: UTF-8 as the code page");
    Check(manifest.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a") != std::string::npos,
          "its manifest: Windows 10 and 11 supported");
    FreeLibrary(m);
    return failures == 0 ? 0 : 1;
}
