#include "AddressTable.h"

#include <string_view>
#include <unordered_map>

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

void TAddressTable::MergeFound(std::uint32_t hostIP, const std::uint8_t* mac) {
    const std::string ip = IPToStr(HostToNet(hostIP));
    const std::string macText = MacToColonStr(mac);
    for (int i = 0; i < rows_.Count(); ++i) {
        if (rows_.Row(i).IP == ip) {
            rows_.SetMAC(i, macText);
            SaveAll();
            return;
        }
    }
    rows_.Append(ip, macText);
    SortByAddress();
    SaveAll();
}

void TAddressTable::SortByAddress() { SortRows(rows_); }

void TAddressTable::MarkDuplicates() {
    // Counting each MAC text gives the marks of the pairwise comparison in linear time.
    const int n = rows_.Count();
    std::unordered_map<std::string_view, int> counts;
    counts.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ++counts[rows_.Row(i).MAC];
    for (int i = 0; i < n; ++i) {
        const TRow& row = rows_.Row(i);
        const char* remark = counts[row.MAC] > 1 ? "?" : "";
        if (row.Remark != remark) rows_.SetRemark(i, remark);
    }
}

void TAddressTable::DeleteSelected() {
    rows_.DeleteSelected();
    SaveAll();
}

TLoadStatus TAddressTable::LoadArpList() {
    std::vector<std::string> lines;
    TReadStatus status = ReadTextLines(PathOf("ArpList.ini"), lines);
    if (status == TReadStatus::Ok) ParseArpList(lines, rows_, ShowTrayIcon);
    listWithheld_ = status == TReadStatus::Failed;
    SortByAddress();
    MarkDuplicates();
    switch (status) {
        case TReadStatus::Ok:
            return TLoadStatus::Loaded;
        case TReadStatus::Missing:
            return TLoadStatus::Missing;
        case TReadStatus::Failed:
            break;
    }
    return TLoadStatus::Unreadable;
}

bool TAddressTable::SaveArpList() {
    MarkDuplicates();
    if (listWithheld_) return false;
    return WriteTextLines(PathOf("ArpList.ini"), BuildArpList(rows_, ShowTrayIcon));
}

// While the stored list is withheld the table lacks its rows, and scripts written from it would
// drop their bindings and reservations when run; so they are withheld too.
bool TAddressTable::SaveBindArp() {
    std::vector<std::string> lines;
    return !listWithheld_ && BuildBindArp(rows_, lines) &&
           WriteTextLines(PathOf("BindArp.bat"), lines);
}

bool TAddressTable::SaveBindDhcp() {
    std::vector<std::string> lines;
    return !listWithheld_ && BuildBindDhcp(rows_, localIP_ ? localIP_() : std::string(), lines) &&
           WriteTextLines(PathOf("BindDhcp.bat"), lines);
}

bool TAddressTable::SaveAll() {
    bool list = SaveArpList();
    bool arp = SaveBindArp();
    bool dhcp = SaveBindDhcp();
    return list && arp && dhcp;
}
