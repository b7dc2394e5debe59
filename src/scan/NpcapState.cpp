#include "NpcapState.h"

TNpcapState NpcapStateOf(const TNpcapFacts& facts) {
    if (!facts.Installed) return TNpcapState::Missing;
    if (facts.Running == false) return TNpcapState::Stopped;
    if (facts.AdminOnly && !facts.Elevated) return TNpcapState::AdminOnly;
    return TNpcapState::Ready;
}

std::string NpcapAdvice(TNpcapState state) {
    switch (state) {
        case TNpcapState::Missing:
            return "未安装 Npcap：本次扫描改用了 Windows 的 SendARP，每个无应答的地址都要等系统"
                   "超时（约 3 秒），一个 /24 网段约需 12 秒，而经 Npcap 约 1.5 秒。快速扫描需要 "
                   "Npcap，可从 https://npcap.com/ 下载安装。";
        case TNpcapState::AdminOnly:
            return "Npcap 安装时选择了仅限管理员使用，而本程序未以管理员身份运行：本次扫描改用了"
                   "较慢的 SendARP。请以管理员身份运行本程序。";
        case TNpcapState::Stopped:
            return "Npcap 已安装，但其服务（npcap）未运行：本次扫描改用了较慢的 SendARP。请以管理员"
                   "身份执行“sc start npcap”，或重新启动计算机。";
        case TNpcapState::Ready:
        case TNpcapState::Unread:
            break;
    }
    return {};
}

std::string NpcapHelp(TNpcapState state) {
    switch (state) {
        case TNpcapState::Missing:
            return "Npcap is not installed: scans go through SendARP, each silent address\n"
                   "costing the system's timeout (a /24 in about 12 s against 1.5 s with Npcap).\n"
                   "Install it from https://npcap.com/ for the fast scan.";
        case TNpcapState::AdminOnly:
            return "Npcap is installed for administrators only and this program is not\n"
                   "elevated: scans go through the slower SendARP. Run it as administrator.";
        case TNpcapState::Stopped:
            return "Npcap is installed but its service (npcap) is stopped: scans go through\n"
                   "the slower SendARP. Start it (sc start npcap, as administrator) or restart.";
        case TNpcapState::Ready:
            return "Npcap is installed and ready: scans use it.";
        case TNpcapState::Unread:
            break;
    }
    return "Npcap's state could not be read; scans use it where it opens, else SendARP.";
}
