#include "ArpListFile.h"

#include <algorithm>
#include <climits>

#ifdef _WIN32
#include <windows.h>
#endif

const char* const kMakerNotice = "(C)2026 Quorvel Software Studio";

namespace {

// In a double-byte code page the second byte of a character may look like "|" or "=".
bool IsLeadByte(unsigned char c) {
#ifdef _WIN32
    return IsDBCSLeadByte(c) != 0;
#else
    (void)c;  // UTF-8 never hides an ASCII byte inside a character
    return false;
#endif
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The row line of two cells. An empty cell, or an IP cell starting with ";" (from hand-edited
// rows such as " |x" or "\t;x|y"), would make the next load drop the row or take it for a
// comment; one leading blank, which the reader trims, keeps the row as it is.
std::string RowLine(const std::string& ip, const std::string& mac) {
    std::string line = ip.empty() || ip.starts_with(';') ? " " + ip : ip;
    line += '|';
    line += mac.empty() ? " " : mac;
    return line;
}

}  // namespace

namespace {

// Hands on each piece of text split at sep, as SplitPieces describes; the pieces lie side by
// side in text, with only the separators between them left out.
template <typename F>
void ForEachPiece(std::string_view text, char sep, F onPiece) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
            i += 2;
        } else if (c == '\'' || c == '"') {
            const std::size_t close = text.find(c, i + 1);
            i = close == std::string_view::npos ? text.size() : close + 1;
        } else if (c == sep) {
            if (i > start) onPiece(text.substr(start, i - start));
            start = ++i;
        } else {
            ++i;
        }
    }
    if (text.size() > start) onPiece(text.substr(start));
}

}  // namespace

std::vector<std::string> SplitPieces(std::string_view text, char sep) {
    std::vector<std::string> pieces;
    ForEachPiece(text, sep, [&pieces](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

bool IsRowLine(std::string_view line) {
    if (line.starts_with(';')) return false;
    int pieces = 0;
    ForEachPiece(line, '|', [&pieces](std::string_view) { ++pieces; });
    return pieces == 2;
}

std::string TrimText(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return std::string(text.substr(begin, end - begin));
}

namespace {

// Sign, digits with an optional fraction, optional exponent: "-1", "2.5", ".5", "1e3".
// Gives whether the number is other than 0.
bool ReadPlainNumber(std::string_view text, bool& nonZero) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    nonZero = false;
    auto mantissa = [&] {
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            nonZero = nonZero || text[i] != '0';
            ++digits;
            ++i;
        }
    };
    mantissa();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa();
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t exponent = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == exponent) return false;
    }
    return i == text.size();
}

}  // namespace

bool TryStrToBool(std::string_view text, bool& value) {
    if (bool nonZero = false; ReadPlainNumber(text, nonZero)) {
        value = nonZero;
        return true;
    }
    if (EqualsIgnoringCase(text, "true")) {
        value = true;
        return true;
    }
    if (EqualsIgnoringCase(text, "false")) {
        value = false;
        return true;
    }
    return false;
}

void ParseArpLine(std::string_view line, TRows& rows, bool& showTrayIcon) {
    if (line.starts_with(';')) return;
    std::vector<std::string> pieces = SplitPieces(line, '|');
    if (pieces.size() == 2) {
        rows.Append(TrimText(pieces[0]), TrimText(pieces[1]));
    } else if (pieces.size() == 1) {
        std::vector<std::string> setting = SplitPieces(pieces[0], '=');
        bool value = false;
        if (setting.size() == 2 && EqualsIgnoringCase(TrimText(setting[0]), "TrayIcon") &&
            TryStrToBool(TrimText(setting[1]), value)) {
            showTrayIcon = value;
        }
    }
}

void ParseArpList(const std::vector<std::string>& lines, TRows& rows, bool& showTrayIcon) {
    for (const std::string& line : lines) ParseArpLine(line, rows, showTrayIcon);
}

TReadStatus ReadArpList(const std::string& path, TRows& rows, bool& showTrayIcon, int folder) {
    std::size_t count = 0;
    bool reserved = false;
    return ReadTextLines(
        path,
        [&count](std::string_view line) { return !IsRowLine(line) || ++count <= kMaxListRows; },
        [&](std::string_view line) {
            // The count is whole once the lines come.
            if (!reserved) {
                const auto room = static_cast<std::size_t>(INT_MAX - rows.Count());
                rows.Reserve(rows.Count() + static_cast<int>(std::min(count, room)));
                reserved = true;
            }
            ParseArpLine(line, rows, showTrayIcon);
        },
        folder);
}

std::vector<std::string> BuildArpList(const TRows& rows, bool showTrayIcon) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(rows.Count()) + 2);
    lines.push_back(std::string(";Generated by Quorvel. ") + kMakerNotice);
    if (!showTrayIcon) lines.emplace_back("TrayIcon=False");
    for (int i = 0; i < rows.Count(); ++i) {
        const TRow& row = rows.Row(i);
        lines.push_back(RowLine(row.IP, row.MAC));
    }
    return lines;
}
