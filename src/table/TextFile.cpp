#include "TextFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

std::vector<std::string> SplitLines(std::string_view text) {
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

TReadStatus ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? TReadStatus::Missing : TReadStatus::Failed;
    }
    if ((st.st_mode & S_IFMT) != S_IFREG) return TReadStatus::Failed;
    // stdio rather than a stream: a stream buffer takes a read error for the end of the file,
    // which would load a cut list and let the next save drop the rest.
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return TReadStatus::Failed;
    std::string text;
    text.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return TReadStatus::Failed;
    lines = SplitLines(text);
    return TReadStatus::Ok;
}

namespace {

bool TargetIsReadOnly(const std::string& path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    // A file this user may not write stays, even where the folder would let us replace it.
    // access() says yes to root for any file, so for root the owner's write bit decides.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    return access(path.c_str(), W_OK) != 0 || (st.st_mode & S_IWUSR) == 0;
#endif
}

bool WriteAll(std::FILE* f, const std::string& text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) return false;
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    int rc;
    do {
        rc = fsync(fileno(f));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
#endif
}

bool RenameOver(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    if (TargetIsReadOnly(path)) return false;
#ifdef _WIN32
    const std::string temp = path + ".tmp" + std::to_string(_getpid());
#else
    const std::string temp = path + ".tmp" + std::to_string(getpid());
#endif
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return false;
#ifndef _WIN32
    // The new file keeps the permissions the administrator gave the old one.
    if (struct stat st{}; stat(path.c_str(), &st) == 0) fchmod(fileno(f), st.st_mode & 07777);
#endif
    bool ok = WriteAll(f, JoinLines(lines));
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = RenameOver(temp, path);
    if (!ok) std::remove(temp.c_str());
    return ok;
}
