#include "AddressTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <memory>
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

TAddressTable::TMerged TAddressTable::MergeFound(std::uint32_t hostIP, const std::uint8_t* mac) {
    const std::string ip = IPToStr(HostToNet(hostIP));
    const std::string macText = MacToColonStr(mac);
    if (!Ordered()) {
        // Rows changed behind the table's back: the whole table is looked at, as it is small
        // enough to have been changed by hand.
        TMerged merged{FindIP(ip).value_or(-1), false};
        if (merged.Row >= 0) {
            rows_.SetMAC(merged.Row, macText);
        } else {
            rows_.Append(ip, macText);
            SortByAddress();
            merged = TMerged{*FindIP(ip), true};
        }
        MarkDuplicates();
        macIndexed_ = false;
        return merged;
    }
    if (std::optional<int> row = FindIP(ip)) {
        const std::string old = rows_.Row(*row).MAC;
        if (old != macText) {
            rows_.SetMAC(*row, macText);
            UpdateMarks(*row, &old);
        }
        return TMerged{*row, false};
    }
    // After every row of the same address: where a stable sort of the appended row puts it.
    const int at = UpperBound(hostIP);
    rows_.Insert(at, ip, macText);
    ++orderedCount_;
    UpdateMarks(at, nullptr);
    return TMerged{at, true};
}

std::optional<int> TAddressTable::FindIP(const std::string& ipText) const {
    if (!Ordered()) {
        for (int i = 0; i < rows_.Count(); ++i) {
            if (rows_.Row(i).IP == ipText) return i;
        }
        return std::nullopt;
    }
    const std::uint32_t key = IPSortKey(ipText);
    for (int i = LowerBound(key); i < rows_.Count() && IPSortKey(rows_.Row(i).IP) == key; ++i) {
        if (rows_.Row(i).IP == ipText) return i;
    }
    return std::nullopt;
}

int TAddressTable::LowerBound(std::uint32_t key) const {
    int low = 0, high = rows_.Count();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (IPSortKey(rows_.Row(mid).IP) < key) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

int TAddressTable::UpperBound(std::uint32_t key) const {
    int low = 0, high = rows_.Count();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (IPSortKey(rows_.Row(mid).IP) <= key) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

void TAddressTable::IndexMACs() {
    macRows_.clear();
    macRows_.reserve(static_cast<std::size_t>(rows_.Count()));
    for (int i = 0; i < rows_.Count(); ++i) {
        const TRow& row = rows_.Row(i);
        IndexMAC(row.MAC, IPSortKey(row.IP));
    }
    macIndexed_ = true;
}

void TAddressTable::IndexMAC(const std::string& mac, std::uint32_t key) {
    TMacRows& same = macRows_[mac];
    ++same.Count;
    same.KeySum += key;
}

void TAddressTable::UnindexMAC(const std::string& mac, std::uint32_t key) {
    const auto it = macRows_.find(mac);
    if (it == macRows_.end()) return;
    if (--it->second.Count == 0) {
        macRows_.erase(it);
    } else {
        it->second.KeySum -= key;
    }
}

bool TAddressTable::MarkOther(const std::string& mac, std::uint64_t key, int row, bool duplicate) {
    for (int i = LowerBound(static_cast<std::uint32_t>(key));
         i < rows_.Count() && IPSortKey(rows_.Row(i).IP) == key; ++i) {
        if (i != row && rows_.Row(i).MAC == mac) {
            Mark(i, duplicate);
            return true;
        }
    }
    return false;
}

void TAddressTable::Mark(int row, bool duplicate) {
    const char* remark = duplicate ? "?" : "";
    if (rows_.Row(row).Remark != remark) rows_.SetRemark(row, remark);
}

// A row is marked while another row has its MAC text: besides the row itself, only a text's
// one other row changes, when the text's count goes from one to two (the row's new text) or
// from two to one (its old text).
void TAddressTable::UpdateMarks(int row, const std::string* oldMac) {
    const std::string mac = rows_.Row(row).MAC;
    const std::uint32_t key = IPSortKey(rows_.Row(row).IP);
    if (!macIndexed_) {
        IndexMACs();
    } else {
        if (oldMac != nullptr) UnindexMAC(*oldMac, key);
        IndexMAC(mac, key);
    }
    bool found = true;
    const TMacRows& same = macRows_.at(mac);
    Mark(row, same.Count > 1);
    if (same.Count == 2) found = MarkOther(mac, same.KeySum - key, row, true);
    if (oldMac != nullptr) {
        const auto left = macRows_.find(*oldMac);
        if (left != macRows_.end() && left->second.Count == 1)
            found = MarkOther(*oldMac, left->second.KeySum, row, false) && found;
    }
    if (!found) {
        // The rows were changed behind the table's back: every mark is made again.
        MarkDuplicates();
        macIndexed_ = false;
    }
}

void TAddressTable::SortByAddress() {
    SortRows(rows_);
    orderedCount_ = rows_.Count();
    macIndexed_ = false;
}

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

void TAddressTable::RemoveSelected() {
    const bool ordered = Ordered();
    rows_.DeleteSelected();
    if (ordered) orderedCount_ = rows_.Count();
    macIndexed_ = false;
    macRows_.clear();
    MarkDuplicates();
}

TSaveReport TAddressTable::DeleteSelected() {
    RemoveSelected();
    return SaveAll();
}

TLoadStatus TAddressTable::LoadArpList() {
    TReadStatus status = TReadStatus::Failed;
    try {
        status = ReadArpList(PathOf("ArpList.ini"), rows_, ShowTrayIcon, folder_);
    } catch (const std::bad_alloc&) {
        status = TReadStatus::Failed;
    }
    try {
        SortByAddress();
        MarkDuplicates();
    } catch (const std::bad_alloc&) {
        status = TReadStatus::Failed;
    }
    macIndexed_ = false;
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

TFileResult WriteScript(const std::string& path, int folder, bool built, int badRow,
                        const std::vector<std::string>& lines) {
    if (!built) return TFileResult{TFileFault::UnreadableRow, 0, badRow};
    return WriteTextLines(path, lines, folder);
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

// What a save needs besides the rows, taken with them.
struct TSaveSettings {
    std::string ListPath, ArpPath, DhcpPath;
    int Folder = kWorkingFolder;  // the paths are relative to it
    bool ShowTrayIcon = true;
    bool Withheld = false;
    std::function<std::string()> LocalIP;
};

namespace {

TFileResult WriteArpList(const TRows& rows, const TSaveSettings& s) {
    if (s.Withheld) return Withheld();
    return Guarded(
        [&] { return WriteTextLines(s.ListPath, BuildArpList(rows, s.ShowTrayIcon), s.Folder); });
}

// While the stored list is withheld the table lacks its rows, and scripts written from it would
// drop their bindings and reservations when run; so they are withheld too.
TFileResult WriteBindArp(const TRows& rows, const TSaveSettings& s) {
    if (s.Withheld) return Withheld();
    return Guarded([&] {
        std::vector<std::string> lines;
        int badRow = -1;
        bool built = BuildBindArp(rows, lines, &badRow);
        return WriteScript(s.ArpPath, s.Folder, built, badRow, lines);
    });
}

TFileResult WriteBindDhcp(const TRows& rows, const TSaveSettings& s) {
    if (s.Withheld) return Withheld();
    return Guarded([&] {
        std::vector<std::string> lines;
        int badRow = -1;
        bool built = BuildBindDhcp(rows, s.LocalIP ? s.LocalIP() : std::string(), lines, &badRow);
        return WriteScript(s.DhcpPath, s.Folder, built, badRow, lines);
    });
}

}  // namespace

TSaveSettings TAddressTable::Settings() const {
    return TSaveSettings{PathOf("ArpList.ini"),
                         PathOf("BindArp.bat"),
                         PathOf("BindDhcp.bat"),
                         folder_,
                         ShowTrayIcon,
                         listWithheld_,
                         localIP_};
}

TFileResult TAddressTable::SaveArpList() {
    try {
        MarkDuplicates();
    } catch (const std::bad_alloc&) {
        // The marks stay as they were; they are not part of the file.
    }
    return WriteArpList(rows_, Settings());
}

TFileResult TAddressTable::SaveBindArp() { return WriteBindArp(rows_, Settings()); }

TFileResult TAddressTable::SaveBindDhcp() { return WriteBindDhcp(rows_, Settings()); }

TSaveReport TAddressTable::SaveAll() {
    TSaveReport report;
    report.List = SaveArpList();
    report.Arp = SaveBindArp();
    report.Dhcp = SaveBindDhcp();
    return report;
}

std::function<TSaveReport()> TAddressTable::Snapshot() const {
    TSaveSettings settings = Settings();
    // The local address as it is now; a save on another thread never calls into the caller.
    const std::string localIP = settings.LocalIP ? settings.LocalIP() : std::string();
    settings.LocalIP = [localIP] { return std::string(localIP); };
    std::shared_ptr<TMemoryRows> rows;
    try {
        rows = std::make_shared<TMemoryRows>();
        if (!settings.Withheld) {
            rows->Reserve(rows_.Count());
            for (int i = 0; i < rows_.Count(); ++i) rows->Append(rows_.Row(i).IP, rows_.Row(i).MAC);
        }
    } catch (const std::bad_alloc&) {
        return [] {
            const TFileResult noMemory{TFileFault::Failed, ENOMEM, -1};
            return TSaveReport{noMemory, noMemory, noMemory};
        };
    }
    return [rows, settings] {
        TSaveReport report;
        report.List = WriteArpList(*rows, settings);
        report.Arp = WriteBindArp(*rows, settings);
        report.Dhcp = WriteBindDhcp(*rows, settings);
        return report;
    };
}
