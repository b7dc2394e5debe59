#include "ScanOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "UTypes.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString IPText(std::uint32_t hostIP) { return Text(IPToStr(HostToNet(hostIP))); }
QString MacText(const TMacAddr& mac) { return Text(MacToColonStr(mac.data())); }

std::string Line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

// {"ip", "mac", "vendor", "state", "old_mac" when changed}; for a contested address also
// "contested": true and "macs" (every MAC that answered, "mac" being the first).
std::string FindJson(std::uint32_t hostIP, const std::vector<TMacAddr>& macs,
                     const TVendorRegistry* registry, const TFindVerdict& verdict, bool contested) {
    QJsonObject find{{"ip", IPText(hostIP)},
                     {"mac", MacText(macs.at(0))},
                     {"vendor", Text(VendorOf(registry, macs.at(0).data()))},
                     {"state", FindStateName(verdict.State)}};
    if (verdict.State == TFindState::Changed) find["old_mac"] = Text(verdict.OldMAC);
    if (contested) {
        find["contested"] = true;
        QJsonArray all;
        for (const TMacAddr& mac : macs) all.append(MacText(mac));
        find["macs"] = all;
    }
    return Line(find);
}

}  // namespace

TScanOutput::TScanOutput(TScanFormat format, const TRows& rows, TScanRange range)
    : format_(format), range_(range), comparison_(rows, range.First, range.Last) {}

std::string TScanOutput::Probed(std::uint32_t hostIP, bool found, const std::uint8_t* mac) {
    const TFindVerdict verdict = comparison_.NoteProbe(hostIP, found, mac);
    if (!found) return {};
    if (format_ == TScanFormat::Tsv)
        return IPToStr(HostToNet(hostIP)) + "\t" + MacToColonStr(mac) + "\n";
    TMacAddr copy;
    std::copy(mac, mac + copy.size(), copy.begin());
    return FindJson(hostIP, {copy}, &Vendors(), verdict, false);
}

std::string TScanOutput::Contested(const std::vector<TContested>& contested) {
    std::string lines;
    for (const TContested& c : contested) {
        ++contested_;
        const TFindVerdict verdict = comparison_.NoteContested(c);
        if (format_ == TScanFormat::Json && !c.Macs.empty())
            lines += FindJson(c.IP, c.Macs, &Vendors(), verdict, true);
    }
    return lines;
}

std::string TScanOutput::Text(const TScanReport& report) const {
    const std::string counts = "本次扫描与原列表相比：新主机 " +
                               std::to_string(comparison_.NewCount()) + " 台，MAC地址改变 " +
                               std::to_string(report.Changes().size()) + " 台，未应答 " +
                               std::to_string(comparison_.Missing().size()) + " 台，多个MAC应答 " +
                               std::to_string(contested_) + " 个。";
    const std::string lists = JoinSections(comparison_.Sections(&Vendors()));
    return lists.empty() ? counts : counts + "\n\n" + lists;
}

std::string TScanOutput::Summary(const TScanReport& report, const TScanFacts& facts) const {
    if (format_ != TScanFormat::Json) return {};
    const std::vector<std::uint32_t> missingIPs = comparison_.Missing();
    QJsonArray missing;
    for (const std::uint32_t ip : missingIPs) missing.append(IPText(ip));
    // Whether the scan's last save wrote each file; false for all when nothing was saved.
    const std::optional<TSaveReport>& saves = facts.Saves;
    const QJsonObject files{{"ArpList.ini", saves && saves->List},
                            {"BindArp.bat", saves && saves->Arp},
                            {"BindDhcp.bat", saves && saves->Dhcp}};
    return Line(QJsonObject{{"summary", true},
                            {"range", IPText(range_.First) + "-" + IPText(range_.Last)},
                            {"new", static_cast<qint64>(comparison_.NewCount())},
                            {"changed", static_cast<qint64>(report.Changes().size())},
                            {"missing", static_cast<qint64>(missingIPs.size())},
                            {"contested", static_cast<qint64>(contested_)},
                            {"missing_ips", missing},
                            {"files", files},
                            {"list_unreadable", facts.ListUnreadable},
                            {"probe", facts.Probe},
                            {"seconds", facts.Seconds},
                            {"registry_date", QString::fromStdString(Vendors().Date())},
                            {"stopped", facts.Stopped},
                            {"exit", facts.Exit}});
}
