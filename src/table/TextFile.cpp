#include "TextFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

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
    std::ifstream in(path, std::ios::binary);
    if (!in) return TReadStatus::Failed;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return TReadStatus::Failed;
    lines = SplitLines(text.view());
    return TReadStatus::Ok;
}

namespace {

bool TargetIsReadOnly(const std::string& path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    // Judged by the mode bits rather than access(), which says yes to root for any file.
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
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
