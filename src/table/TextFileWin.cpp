// Reading and replacing text files on Windows: the list is read with others allowed to read but
// not to write it, and a save goes to a new file of an unpredictable name that MoveFileEx puts
// over the old one. Names are UTF-8 here and go to the wide-character calls, so that any folder
// name works whatever the system's code page. A file another program holds for a moment (virus
// scanners, indexers and backup tools open every file just written) is tried again for about
// 2 s, as editors and version-control tools do on Windows.
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "TextFile.h"

namespace {

class THandle {
  public:
    explicit THandle(HANDLE h) : h_(h) {}
    ~THandle() {
        if (Valid()) CloseHandle(h_);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (Valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

TFileResult Fault(TFileFault fault, int error = 0) { return TFileResult{fault, error, -1}; }

std::wstring Wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// What another program's open handle gives: the file is held, not refused for good.
bool HeldBriefly(DWORD error, bool accessDenied) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           (accessDenied && error == ERROR_ACCESS_DENIED);
}

// Runs step until it succeeds, fails otherwise than by a held file, or about 2 s have passed,
// with sleeps growing from 10 ms to 250 ms. A rename over a file that another program opened
// without FILE_SHARE_DELETE is refused as access denied, so renames count that as held too.
template <typename Step>
bool Retried(Step step, bool accessDenied) {
    constexpr ULONGLONG kPatienceMs = 2000;
    const ULONGLONG start = GetTickCount64();
    DWORD pause = 10;
    while (!step()) {
        const DWORD error = GetLastError();
        if (!HeldBriefly(error, accessDenied) || GetTickCount64() - start >= kPatienceMs) {
            SetLastError(error);
            return false;
        }
        Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 250);
    }
    return true;
}

HANDLE OpenHeld(const std::wstring& path, DWORD access, DWORD share) {
    HANDLE h = INVALID_HANDLE_VALUE;
    Retried(
        [&] {
            h = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            return h != INVALID_HANDLE_VALUE;
        },
        false);
    return h;
}

TFileResult FromError(DWORD error) {
    const int code = static_cast<int>(error);
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return Fault(TFileFault::NoAccess, code);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return Fault(TFileFault::InUse, code);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Fault(TFileFault::DiskFull, code);
        case ERROR_WRITE_PROTECT:
            return Fault(TFileFault::ReadOnlyDisk, code);
        default:
            return Fault(TFileFault::Failed, code);
    }
}

std::wstring TemporaryPath(const std::wstring& path) {
    static const wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    std::wstring suffix;
    for (int i = 0; i < 3; ++i) {
        std::uint32_t bits = random();
        for (int k = 0; k < 4; ++k, bits /= 36) suffix += kDigits[bits % 36];
    }
    return path + L".tmp-" + suffix;
}

bool WriteAll(HANDLE h, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, text.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return FlushFileBuffers(h) != 0;
}

// Where no new file may be made beside it, a file this user may write is rewritten in place.
TFileResult RewriteInPlace(const std::wstring& path, const std::string& text) {
    THandle h(OpenHeld(path, GENERIC_WRITE, 0));
    if (!h.Valid()) return FromError(GetLastError());
    if (!WriteAll(h.Get(), text) || !SetEndOfFile(h.Get()) || !FlushFileBuffers(h.Get())) {
        return FromError(GetLastError());
    }
    return {};
}

}  // namespace

// Only the working folder: paths are taken as they are.
TReadStatus ReadTextLines(const std::string& path, const TLineCheck& countLine,
                          const TLineVisitor& onLine, int /*folder*/) {
    THandle h(OpenHeld(Wide(path), GENERIC_READ, FILE_SHARE_READ));
    if (!h.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TReadStatus::Missing
                                                                              : TReadStatus::Failed;
    }
    LARGE_INTEGER size{};
    if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(h.Get(), &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > kMaxTextFileSize) {
        return TReadStatus::Failed;
    }
    const auto read = [&h](char* buffer, std::size_t bytes) -> std::int64_t {
        DWORD got = 0;
        if (!ReadFile(h.Get(), buffer, static_cast<DWORD>(bytes), &got, nullptr)) return -1;
        return got;
    };
    const auto rewind = [&h] {
        LARGE_INTEGER start{};
        return SetFilePointerEx(h.Get(), start, nullptr, FILE_BEGIN) != 0;
    };
    return CutLinesTwice(read, rewind, countLine, onLine);
}

TFileResult WriteTextLines(const std::string& path, const std::vector<std::string>& lines,
                           int /*folder*/) {
    const std::string text = JoinLines(lines);
    const std::wstring target = Wide(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Fault(TFileFault::NotAFile);
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return Fault(TFileFault::ReadOnly);

    std::wstring temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temp = TemporaryPath(target);
        created = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        if (error == ERROR_ACCESS_DENIED && exists) return RewriteInPlace(target, text);
        return FromError(error);
    }
    THandle h(created);
    if (!h.Valid()) return Fault(TFileFault::Failed, ERROR_FILE_EXISTS);
    bool ok = WriteAll(h.Get(), text);
    DWORD error = ok ? 0 : GetLastError();
    h.Close();
    const auto replace = [&] {
        return MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    };
    if (ok && !Retried(replace, true)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return FromError(error);
    }
    return {};
}

std::string SystemErrorText(int error) {
    wchar_t text[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, text, 512, nullptr);
    while (n > 0 && text[n - 1] <= L' ') --n;
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), s.data(), size, nullptr, nullptr);
    return s;
}
