// LoadArpList on arbitrary bytes, then SaveArpList. Properties: every row line the reader accepted
// is a row of the table and is stored again; loading the stored file gives the same table and
// setting; saving that table again gives the same bytes. Bytes with text after a NUL are an
// unreadable list: no rows, and never written over.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "AddressTable.h"
#include "ArpListFile.h"
#include "TextFile.h"

namespace {

// A folder of our own on a memory file system where there is one, so that every save's fsync
// stays cheap; removed at exit.
const std::string& WorkDir() {
    // Never destroyed, so that the exit handler can still name it.
    static const std::string* dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        auto* path = new std::string((base / "quorvel-fuzz-XXXXXX").string());
        if (mkdtemp(path->data()) == nullptr) std::abort();
        return path;
    }();
    static const bool removedAtExit = std::atexit([] {
                                          std::error_code ec;
                                          std::filesystem::remove_all(*dir, ec);
                                      }) == 0;
    (void)removedAtExit;
    return *dir;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
}

using TPairs = std::vector<std::pair<std::string, std::string>>;

TPairs Pairs(const TMemoryRows& rows) {
    TPairs pairs;
    for (const TRow& r : rows.Rows()) pairs.emplace_back(r.IP, r.MAC);
    return pairs;
}

// The rows the reader's rule takes from the text, in file order.
TPairs AcceptedRows(std::string_view text) {
    TPairs rows;
    for (const std::string& line : SplitLines(text)) {
        if (line.starts_with(';')) continue;
        std::vector<std::string> pieces = SplitPieces(line, '|');
        if (pieces.size() == 2) rows.emplace_back(TrimText(pieces[0]), TrimText(pieces[1]));
    }
    return rows;
}

// Whether anything but NULs and blanks follows a NUL.
bool TextAfterNul(std::string_view text) {
    std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos) return false;
    for (char c : text.substr(nul)) {
        if (static_cast<unsigned char>(c) > 32) return true;
    }
    return false;
}

// Loads ArpList.ini into fresh rows; gives the rows and the setting.
std::pair<TPairs, bool> Load(TMemoryRows& rows) {
    ShowTrayIcon = true;
    TAddressTable table(rows);
    table.SetDirectory(WorkDir());
    if (table.LoadArpList() != TLoadStatus::Loaded) std::abort();
    return {Pairs(rows), ShowTrayIcon};
}

std::string Save(TMemoryRows& rows) {
    TAddressTable table(rows);
    table.SetDirectory(WorkDir());
    if (!table.SaveArpList()) std::abort();
    return ReadAll(WorkDir() + "/ArpList.ini");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string list = WorkDir() + "/ArpList.ini";
    WriteAll(list, data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (TextAfterNul(text)) {
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(WorkDir());
        if (table.LoadArpList() != TLoadStatus::Unreadable) std::abort();
        // The rows before the NUL are shown, the file is kept as it stands.
        TPairs accepted = AcceptedRows(text);
        TPairs shown = Pairs(rows);
        std::sort(accepted.begin(), accepted.end());
        std::sort(shown.begin(), shown.end());
        if (accepted != shown) std::abort();
        if (table.SaveArpList() || ReadAll(list) != text) std::abort();
        return 0;
    }

    TMemoryRows first;
    auto [loaded, tray] = Load(first);
    TPairs accepted = AcceptedRows(text);
    TPairs sortedLoaded = loaded;
    std::sort(accepted.begin(), accepted.end());
    std::sort(sortedLoaded.begin(), sortedLoaded.end());
    if (accepted != sortedLoaded) std::abort();

    std::string saved = Save(first);
    std::vector<std::string> savedLines = SplitLines(saved);
    for (const auto& [ip, mac] : loaded) {
        // A cell the plain form cannot carry (empty, or an address that looks like a comment)
        // is checked by the reload below.
        if (ip.empty() || mac.empty() || ip.starts_with(';')) continue;
        if (std::find(savedLines.begin(), savedLines.end(), ip + "|" + mac) == savedLines.end()) {
            std::abort();
        }
    }

    TMemoryRows second;
    auto [reloaded, trayAgain] = Load(second);
    if (reloaded != loaded || trayAgain != tray) std::abort();
    if (Save(second) != saved) std::abort();
    return 0;
}
