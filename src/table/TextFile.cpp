#include "TextFile.h"

void TLineCutter::CheckTail(std::string_view bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) > 32) {
            textAfterNul_ = true;
            return;
        }
    }
}

void TLineCutter::Feed(std::string_view bytes, const TLineVisitor& onLine) {
    if (ended_) {
        if (!textAfterNul_) CheckTail(bytes);
        return;
    }
    const std::size_t nul = bytes.find('\0');
    const std::string_view text = bytes.substr(0, nul);
    std::size_t start = 0;
    if (afterCR_ && !text.empty() && text[0] == '\n') start = 1;
    afterCR_ = false;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            partial_.append(text.substr(start));
            break;
        }
        if (partial_.empty()) {
            onLine(text.substr(start, end - start));
        } else {
            partial_.append(text.substr(start, end - start));
            onLine(partial_);
            partial_.clear();
        }
        start = end + 1;
        if (text[end] == '\r') {
            if (start == text.size()) {
                afterCR_ = true;
            } else if (text[start] == '\n') {
                ++start;
            }
        }
    }
    if (nul != std::string_view::npos) {
        ended_ = true;
        CheckTail(bytes.substr(nul));
    }
}

void TLineCutter::Finish(const TLineVisitor& onLine) {
    if (!partial_.empty()) onLine(partial_);
    partial_.clear();
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    const TLineVisitor keep = [&lines](std::string_view line) { lines.emplace_back(line); };
    TLineCutter cutter;
    cutter.Feed(text, keep);
    cutter.Finish(keep);
    return lines;
}

TReadStatus CutLines(const TFileReader& read, const TLineVisitor& onLine) {
    std::string buffer(std::size_t{1} << 16, '\0');
    TLineCutter cutter;
    std::uint64_t total = 0;
    for (;;) {
        const std::int64_t n = read(buffer.data(), buffer.size());
        if (n < 0) return TReadStatus::Failed;
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        if (total > kMaxTextFileSize) return TReadStatus::Failed;
        cutter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), onLine);
    }
    cutter.Finish(onLine);
    return cutter.TextAfterNul() ? TReadStatus::HiddenText : TReadStatus::Ok;
}

TReadStatus CutLinesTwice(const TFileReader& read, const std::function<bool()>& rewind,
                          const TLineCheck& countLine, const TLineVisitor& onLine) {
    bool refused = false;
    // Once a line is refused the rest of the file is not read.
    const TFileReader readUntilRefused = [&](char* buffer, std::size_t size) -> std::int64_t {
        return refused ? 0 : read(buffer, size);
    };
    const TReadStatus counted = CutLines(readUntilRefused, [&](std::string_view line) {
        if (!refused && !countLine(line)) refused = true;
    });
    if (counted == TReadStatus::Failed || refused || !rewind()) return TReadStatus::Failed;
    return CutLines(read, onLine) == TReadStatus::Failed ? TReadStatus::Failed : counted;
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
