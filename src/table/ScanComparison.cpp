#include "ScanComparison.h"

#include <algorithm>
#include <optional>

#include "UTypes.h"

namespace {

std::optional<TMacAddr> MacOf(const std::string& text) {
    try {
        return StrToMac(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::string MacWithVendor(const TVendorRegistry* registry, const std::uint8_t* mac) {
    const std::string vendor = VendorOf(registry, mac);
    return MacToColonStr(mac) + (vendor.empty() ? "" : "（" + vendor + "）");
}

}  // namespace

const char* FindStateName(TFindState state) {
    switch (state) {
        case TFindState::New:
            return "new";
        case TFindState::Changed:
            return "changed";
        case TFindState::Same:
            break;
    }
    return "same";
}

TScanComparison::TScanComparison(const TRows& rows, std::uint32_t first, std::uint32_t last) {
    for (int i = 0; i < rows.Count(); ++i) {
        const TRow& row = rows.Row(i);
        const std::uint32_t wire = StrToIP(row.IP);
        if (wire == 0 || IPToStr(wire) != row.IP) continue;  // not an address the table finds
        const std::uint32_t ip = NetToHost(wire);
        if (ip >= first && ip <= last) start_.try_emplace(ip, TStart{row.MAC});
    }
}

TFindVerdict TScanComparison::Verdict(std::uint32_t hostIP, const std::uint8_t* mac) {
    const auto it = start_.find(hostIP);
    if (it == start_.end()) return {TFindState::New, {}};
    const std::optional<TMacAddr> old = MacOf(it->second.MAC);
    const bool same = old && std::equal(old->begin(), old->end(), mac);
    return {same ? TFindState::Same : TFindState::Changed, it->second.MAC};
}

TFindVerdict TScanComparison::NoteProbe(std::uint32_t hostIP, bool found, const std::uint8_t* mac) {
    const auto it = start_.find(hostIP);
    if (it != start_.end()) {
        it->second.Probed = true;
        it->second.Answered = it->second.Answered || found;
    }
    if (!found) return {};
    TFindVerdict verdict = Verdict(hostIP, mac);
    if (counted_.insert(hostIP).second && verdict.State == TFindState::New) {
        TMacAddr copy;
        std::copy(mac, mac + copy.size(), copy.begin());
        new_.emplace_back(hostIP, copy);
    }
    return verdict;
}

TFindVerdict TScanComparison::NoteContested(const TContested& contested) {
    if (const auto it = start_.find(contested.IP); it != start_.end()) it->second.Answered = true;
    TFindVerdict verdict{TFindState::New, {}};
    for (const TMacAddr& mac : contested.Macs) {
        verdict = Verdict(contested.IP, mac.data());
        if (verdict.State != TFindState::Same) break;
    }
    return verdict;
}

std::vector<std::uint32_t> TScanComparison::Missing() const {
    std::vector<std::uint32_t> missing;
    for (const auto& [ip, row] : start_)
        if (row.Probed && !row.Answered) missing.push_back(ip);
    std::sort(missing.begin(), missing.end());
    return missing;
}

std::vector<TReportSection> TScanComparison::Sections(const TVendorRegistry* registry) const {
    TReportSection found{"以下地址不在原列表中，为新发现的主机：", {}};
    for (const auto& [ip, mac] : new_)
        found.Entries.push_back(IPToStr(HostToNet(ip)) + "：" +
                                MacWithVendor(registry, mac.data()));
    TReportSection missing{"以下地址在列表中，但本次扫描未应答（列表中的记录保持不变）：", {}};
    for (const std::uint32_t ip : Missing()) missing.Entries.push_back(IPToStr(HostToNet(ip)));
    std::vector<TReportSection> sections{found, missing};
    std::erase_if(sections, [](const TReportSection& s) { return s.Entries.empty(); });
    return sections;
}
