#include "AddressTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <new>
#include <string_view>
#include <vector>

#include "ArpListFile.h"
#include "BindScripts.h"
#include "LocalIP.h"
#include "TextFile.h"
#include "UTypes.h"

bool ShowTrayIcon = true;

TAddressTable::TAddressTable(TRows& rows) : rows_(rows), localIP_(GetLocalIP) {}

std::string TAddressTable::PathOf(const char* name) const {
    if (dir_.empty()) return name;
    return dir_ + "/" + name;
}

TSaveReport TAddressTable::MergeFound(std::uint32_t hostIP, const std::uint8_t* mac) {
    const std::string ip = IPToStr(HostToNet(hostIP));
    const std::string macText = MacToColonStr(mac);
    for (int i = 0; i < rows_.Count(); ++i) {
        if (rows_.Row(i).IP == ip) {
            rows_.SetMAC(i, macText);
            return SaveAll();
        }
    }
    rows_.Append(ip, macText);
    SortByAddress();
    return SaveAll();
}

std::optional<int> TAddressTable::FindIP(const std::string& ipText) const {
    for (int i = 0; i < rows_.Count(); ++i) {
        if (rows_.Row(i).IP == ipText) return i;
    }
    return std::nullopt;
}

void TAddressTable::SortByAddress() { SortRows(rows_); }

void TAddressTable::MarkDuplicates() {
    // Open addressing over row indexes, each slot holding the first row of one MAC text: the
    // marks of the pairwise comparison in linear time, without a copy of any cell.
    const int n = rows_.Count();
    std::size_t size = 16;
    while (size < 2 * static_cast<std::size_t>(n)) size *= 2;
    std::vector<int> slots(size, -1);
    std::vector<bool> duplicate(static_cast<std::size_t>(n), false);
    const std::hash<std::string_view> hash;
    for (int i = 0; i < n; ++i) {
        const std::string& mac = rows_.Row(i).MAC;
        std::size_t s = hash(mac) & (size - 1);
        while (slots[s] >= 0 && rows_.Row(slots[s]).MAC != mac) s = (s + 1) & (size - 1);
        if (slots[s] < 0) {
            slots[s] = i;
        } else {
            duplicate[static_cast<std::size_t>(i)] = true;
            duplicate[static_cast<std::size_t>(slots[s])] = true;
        }
    }
    for (int i = 0; i < n; ++i) {
        const char* remark = duplicate[static_cast<std::size_t>(i)] ? "?" : "";
        if (rows_.Row(i).Remark != remark) rows_.SetRemark(i, remark);
    }
}

TSaveReport TAddressTable::DeleteSelected() {
    rows_.DeleteSelected();
    return SaveAll();
}

TLoadStatus TAddressTable::LoadArpList() {
    TReadStatus status = TReadStatus::Failed;
    try {
        status = ReadArpList(PathOf("ArpList.ini"), rows_, ShowTrayIcon);
    } catch (const std::bad_alloc&) {
        status = TReadStatus::Failed;
    }
    try {
        SortByAddress();
        MarkDuplicates();
    } catch (const std::bad_alloc&) {
        status = TReadStatus::Failed;
    }
    // Rows before a NUL are shown, but the list is not written over: the rows after it would go.
    listWithheld_ = status == TReadStatus::Failed || status == TReadStatus::HiddenText;
    switch (status) {
        case TReadStatus::Ok:
            return TLoadStatus::Loaded;
        case TReadStatus::Missing:
            return TLoadStatus::Missing;
        case TReadStatus::Failed:
        case TReadStatus::HiddenText:
            break;
    }
    return TLoadStatus::Unreadable;
}

namespace {

TFileResult Withheld() { return TFileResult{TFileFault::ListWithheld, 0, -1}; }

TFileResult WriteScript(const std::string& path, bool built, int badRow,
                        const std::vector<std::string>& lines) {
    if (!built) return TFileResult{TFileFault::UnreadableRow, 0, badRow};
    return WriteTextLines(path, lines);
}

// A save that runs out of memory stores nothing and says so; the table stays as it was.
template <typename F>
TFileResult Guarded(F save) {
    try {
        return save();
    } catch (const std::bad_alloc&) {
        return TFileResult{TFileFault::Failed, ENOMEM, -1};
    }
}

}  // namespace

TFileResult TAddressTable::SaveArpList() {
    MarkDuplicates();
    if (listWithheld_) return Withheld();
    return Guarded([this] {
        return WriteTextLines(PathOf("ArpList.ini"), BuildArpList(rows_, ShowTrayIcon));
    });
}

// While the stored list is withheld the table lacks its rows, and scripts written from it would
// drop their bindings and reservations when run; so they are withheld too.
TFileResult TAddressTable::SaveBindArp() {
    if (listWithheld_) return Withheld();
    return Guarded([this] {
        std::vector<std::string> lines;
        int badRow = -1;
        bool built = BuildBindArp(rows_, lines, &badRow);
        return WriteScript(PathOf("BindArp.bat"), built, badRow, lines);
    });
}

TFileResult TAddressTable::SaveBindDhcp() {
    if (listWithheld_) return Withheld();
    return Guarded([this] {
        std::vector<std::string> lines;
        int badRow = -1;
        bool built = BuildBindDhcp(rows_, localIP_ ? localIP_() : std::string(), lines, &badRow);
        return WriteScript(PathOf("BindDhcp.bat"), built, badRow, lines);
    });
}

TSaveReport TAddressTable::SaveAll() {
    TSaveReport report;
    report.List = SaveArpList();
    report.Arp = SaveBindArp();
    report.Dhcp = SaveBindDhcp();
    return report;
}
