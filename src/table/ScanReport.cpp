#include "ScanReport.h"

#include <algorithm>
#include <utility>

#include "TextFile.h"
#include "UTypes.h"

namespace {

constexpr std::size_t kListed = 50;

// The MAC a cell holds, read as the tool reads MAC text; none when it cannot be read.
std::optional<TMacAddr> MacOf(const std::string& text) {
    try {
        return StrToMac(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

bool SameMac(const std::string& a, const std::string& b) {
    const std::optional<TMacAddr> x = MacOf(a);
    return x && x == MacOf(b);
}

std::string FaultText(const TFileResult& result, bool script) {
    switch (result.Fault) {
        case TFileFault::None:
            break;
        case TFileFault::ReadOnly:
            return "文件是只读的。";
        case TFileFault::NoAccess:
            return "没有写入权限（文件或所在文件夹不允许）。";
        case TFileFault::ReadOnlyDisk:
            return "所在磁盘是只读的。";
        case TFileFault::DiskFull:
            return "磁盘空间不足。";
        case TFileFault::InUse:
            return "文件正被其他程序占用。";
        case TFileFault::NotAFile:
            return "该名称处不是普通文件。";
        case TFileFault::LinkRefused:
            return "它是指向别处的链接，而链接或其目标文件夹属于其他用户；以管理员身份运行时不经此"
                   "链接写入。";
        case TFileFault::ListWithheld:
            return script ? "地址列表未能读取，为免丢失其中的绑定，脚本也不改写。"
                          : "启动时无法读取该文件，为保护其中的地址，本次运行不会改写它。";
        case TFileFault::UnreadableRow:
            return "第 " + std::to_string(result.Row + 1) +
                   " 行的 IP 地址或 MAC 地址无法写入脚本，原有文件保持不变。";
        case TFileFault::Failed:
            return "写入出错：" + SystemErrorText(result.Error) + "。";
    }
    return {};
}

// A scan that could not ask the network, or stopped being able to, must not read as an empty
// network.
// The probe section: a fault, and how the scan asked when it could not ask the fast way.
TReportSection ProbeSection(const TProbeFault& fault) {
    const std::string detail = fault.Detail.empty() ? "（系统未说明原因）" : fault.Detail;
    TReportSection section;
    switch (fault.Kind) {
        case TProbeFaultKind::None:
            section.Heading = "探测方式：";
            break;
        case TProbeFaultKind::Refused:
            section = {
                "本次扫描未能探测任何地址：系统拒绝了每一个ARP请求，未找到的地址并不表示没有"
                "主机，列表也未因此改变。请安装 Npcap 后再扫描；若安装时选择了仅限管理员使用，"
                "请以管理员身份运行本程序。系统的说明：",
                {detail}};
            break;
        case TProbeFaultKind::LinkFailed:
            section = {
                "扫描途中网卡出错（ARP请求未能发出，或回应无法读取），此后的地址未经探测，"
                "未找到的地址并不表示没有主机。系统的说明：",
                {detail}};
            break;
        case TProbeFaultKind::NoLink:
            section = {
                "本次扫描未能探测任何地址：范围内没有一个地址位于本机网卡所在的网络上，"
                "ARP请求无从发出，未找到的地址并不表示没有主机，列表也未因此改变。请检查扫描"
                "范围。",
                {detail}};
            break;
    }
    if (!fault.Notice.empty()) section.Entries.push_back(fault.Notice);
    return section;
}

// "MAC（vendor）", "MAC（未登记）" for a MAC the registry does not name; the MAC alone without
// a registry.
std::string WithVendor(const std::string& mac, const TVendorRegistry* registry) {
    const std::optional<TMacAddr> bytes = MacOf(mac);
    if (registry == nullptr || registry->Empty() || !bytes) return mac;
    const std::string vendor = VendorOf(registry, bytes->data());
    return mac + "（" + (vendor.empty() ? "未登记" : vendor) + "）";
}

// The heading says which files now hold the new MACs: those the scan's last save wrote (the
// scripts only when both were written).
TReportSection ChangedSection(const std::vector<TMacChange>& changes,
                              const std::optional<TSaveReport>& saves,
                              const TVendorRegistry* registry) {
    const bool list = saves && saves->List;
    const bool scripts = saves && saves->Arp && saves->Dhcp;
    const char* written = list && scripts ? "，列表和脚本已改用新的MAC地址"
                          : list          ? "，列表已改用新的MAC地址"
                          : scripts       ? "，脚本已改用新的MAC地址"
                                          : "";
    TReportSection section{std::string("以下地址的MAC地址已改变（旧 MAC -> 新 MAC）") + written +
                               "；若不是更换了网卡，可能有主机冒充（ARP欺骗）：",
                           {}};
    for (const TMacChange& c : changes) {
        const std::string old = c.OldMAC.empty() ? "（空）" : WithVendor(c.OldMAC, registry);
        section.Entries.push_back(c.IP + "：" + old + " -> " + WithVendor(c.NewMAC, registry));
    }
    return section;
}

// Addresses for which different MACs answered were left out of the table: either may be forged.
TReportSection ContestedSection(const std::vector<TContested>& contested) {
    TReportSection section{
        "以下地址有多个不同的MAC地址应答，可能有主机冒充（ARP欺骗）。"
        "这些地址未加入列表，已有的记录保持不变：",
        {}};
    for (const TContested& c : contested) {
        std::string entry = IPToStr(HostToNet(c.IP)) + "：";
        for (std::size_t k = 0; k < c.Macs.size(); ++k)
            entry += (k == 0 ? "" : "，") + MacToColonStr(c.Macs[k].data());
        if (c.More > 0) entry += "，另有 " + std::to_string(c.More) + " 次应答来自其他MAC地址";
        section.Entries.push_back(std::move(entry));
    }
    return section;
}

}  // namespace

void TScanReport::NoteFind(TAddressTable& table, std::uint32_t hostIP, const std::uint8_t* mac) {
    std::string ip = IPToStr(HostToNet(hostIP));
    std::string now = MacToColonStr(mac);
    if (auto it = index_.find(ip); it != index_.end()) {
        found_[it->second].NewMAC = std::move(now);
        return;
    }
    const std::optional<int> row = table.FindIP(ip);
    if (!row) return;  // a new row changes no binding
    index_.emplace(ip, found_.size());
    found_.push_back({std::move(ip), table.Rows().Row(*row).MAC, std::move(now)});
}

std::vector<TMacChange> TScanReport::Changes() const {
    std::vector<TMacChange> changes;
    for (const TMacChange& c : found_) {
        if (!SameMac(c.OldMAC, c.NewMAC)) changes.push_back(c);
    }
    return changes;
}

void TScanReport::NoteContested(const std::vector<TContested>& contested) {
    contested_.insert(contested_.end(), contested.begin(), contested.end());
}

std::vector<TReportSection> TScanReport::Sections() const {
    // In the order they are told; a section with no entries is left out.
    std::vector<TReportSection> sections{
        ProbeSection(fault_),
        ChangedSection(Changes(), saves_, vendors_),
        ContestedSection(contested_),
        saves_ ? UnsavedSection(*saves_) : TReportSection{},
    };
    std::erase_if(sections, [](const TReportSection& s) { return s.Entries.empty(); });
    return sections;
}

std::string TScanReport::Text() const { return JoinSections(Sections()); }

std::string JoinSections(const std::vector<TReportSection>& sections) {
    std::string text;
    for (const TReportSection& s : sections) {
        if (!text.empty()) text += "\n\n";
        text += s.Heading;
        const std::size_t listed = std::min(s.Entries.size(), kListed);
        for (std::size_t i = 0; i < listed; ++i) text += "\n" + s.Entries[i];
        if (s.Entries.size() > listed)
            text += "\n……另有 " + std::to_string(s.Entries.size() - listed) + " 项未列出";
    }
    return text;
}

TReportSection UnsavedSection(const TSaveReport& saves) {
    TReportSection section{"以下文件未能写入：", {}};
    const std::pair<const char*, const TFileResult*> files[] = {
        {"ArpList.ini", &saves.List}, {"BindArp.bat", &saves.Arp}, {"BindDhcp.bat", &saves.Dhcp}};
    for (const auto& [name, result] : files) {
        if (*result) continue;
        section.Entries.push_back(std::string("“") + name + "”：" +
                                  FaultText(*result, result != &saves.List));
    }
    return section;
}

std::string UnsavedText(const TSaveReport& saves) { return JoinSections({UnsavedSection(saves)}); }
