#include "Privilege.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

struct TCapSets {
    std::uint64_t Effective = 0, Permitted = 0, Inheritable = 0;
};

constexpr std::uint64_t Bit(int cap) { return std::uint64_t{1} << cap; }
constexpr std::uint64_t FileRights = Bit(CAP_CHOWN) | Bit(CAP_DAC_OVERRIDE) | Bit(CAP_FOWNER);

bool GetCaps(TCapSets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    auto join = [](std::uint32_t low, std::uint32_t high) {
        return std::uint64_t{low} | std::uint64_t{high} << 32;
    };
    sets.Effective = join(data[0].effective, data[1].effective);
    sets.Permitted = join(data[0].permitted, data[1].permitted);
    sets.Inheritable = join(data[0].inheritable, data[1].inheritable);
    return true;
}

bool SetCaps(const TCapSets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    for (int i = 0; i < 2; ++i) {
        data[i].effective = static_cast<std::uint32_t>(sets.Effective >> (32 * i));
        data[i].permitted = static_cast<std::uint32_t>(sets.Permitted >> (32 * i));
        data[i].inheritable = static_cast<std::uint32_t>(sets.Inheritable >> (32 * i));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

// Capabilities this kernel knows: the bounding set answers for each of them.
int CapCount() {
    int n = 0;
    while (n < 64 && prctl(PR_CAPBSET_READ, n, 0, 0, 0) >= 0) ++n;
    return n;
}

bool AnyAmbient() {
    for (int cap = 0, n = CapCount(); cap < n; ++cap) {
        if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) > 0) return true;
    }
    return false;
}

std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::optional<unsigned> ParseId(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    const char* end = text + std::strlen(text);
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end || value == static_cast<unsigned>(-1)) return std::nullopt;
    return value;
}

// Only what may be kept stays in the bounding set, so that no program started later gets more.
// Without CAP_SETPCAP nothing can be dropped from it: a process that holds no capability and
// may not gain any (no_new_privs) has no use for it then.
void LimitBoundingSet(std::uint64_t keep) {
    for (int cap = 0, n = CapCount(); cap < n; ++cap) {
        if ((keep & Bit(cap)) == 0) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }
}

std::string KeepOnly(std::uint64_t keep) {
    TCapSets now;
    if (!GetCaps(now)) return Failed("capget");
    keep &= now.Permitted;
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return Failed("PR_CAP_AMBIENT_CLEAR_ALL");
    if (!SetCaps({keep, keep, 0})) return Failed("capset");
    TCapSets after;
    if (!GetCaps(after)) return Failed("capget");
    if (after.Effective != keep || after.Permitted != keep || after.Inheritable != 0 ||
        AnyAmbient())
        return "capabilities remain";
    return {};
}

std::string NoNewPrivileges() {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Failed("PR_SET_NO_NEW_PRIVS");
    if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 1) return "no_new_privs not set";
    return {};
}

bool IdsAre(uid_t uid, gid_t gid) {
    uid_t r, e, s;
    gid_t rg, eg, sg;
    return getresuid(&r, &e, &s) == 0 && getresgid(&rg, &eg, &sg) == 0 && r == uid && e == uid &&
           s == uid && rg == gid && eg == gid && sg == gid;
}

std::string SwitchIds(uid_t uid, gid_t gid) {
    if (setresgid(gid, gid, gid) != 0) return Failed("setresgid");
    if (setresuid(uid, uid, uid) != 0) return Failed("setresuid");
    if (!IdsAre(uid, gid)) return "ids did not change";
    return {};
}

std::string BecomeUser(uid_t uid, gid_t gid) {
    const passwd* pw = getpwuid(uid);
    const std::string name = pw ? pw->pw_name : "";
    const std::string home = pw ? pw->pw_dir : "/";
    if (pw ? initgroups(name.c_str(), gid) != 0 : setgroups(1, &gid) != 0)
        return Failed("setgroups");
    // The bounding set stays whole: what this user starts from here behaves as it does when
    // the user starts it.
    if (std::string e = SwitchIds(uid, gid); !e.empty()) return e;
    if (std::string e = KeepOnly(0); !e.empty()) return e;
    // The way back must be shut.
    if (setuid(0) == 0 || seteuid(0) == 0) return "root could be taken back";
    if (gid != 0 && (setgid(0) == 0 || setegid(0) == 0)) return "group 0 could be taken back";
    // Files the toolkit keeps under the home folder belong to the user too.
    setenv("HOME", home.c_str(), 1);
    if (!name.empty()) {
        setenv("USER", name.c_str(), 1);
        setenv("LOGNAME", name.c_str(), 1);
    }
    return {};
}

std::string ClearCapabilities(uid_t uid, gid_t gid) {
    LimitBoundingSet(0);
    if (!IdsAre(uid, gid)) {
        if (std::string e = SwitchIds(uid, gid); !e.empty()) return e;
    }
    if (std::string e = KeepOnly(0); !e.empty()) return e;
    return NoNewPrivileges();
}

std::string KeepFileRights() {
    LimitBoundingSet(FileRights);
    if (std::string e = KeepOnly(FileRights); !e.empty()) return e;
    return NoNewPrivileges();
}

}  // namespace

TStartRights ReadStartRights() {
    TStartRights r;
    getresuid(&r.RealUid, &r.EffectiveUid, &r.SavedUid);
    getresgid(&r.RealGid, &r.EffectiveGid, &r.SavedGid);
    r.Secure = getauxval(AT_SECURE) != 0;
    TCapSets caps;
    r.HasCapabilities = !GetCaps(caps) || caps.Permitted != 0 || AnyAmbient();
    r.SudoUid = std::getenv("SUDO_UID");
    r.SudoGid = std::getenv("SUDO_GID");
    return r;
}

TDropPlan PlanDrop(const TStartRights& r) {
    const bool root = r.RealUid == 0 || r.EffectiveUid == 0 || r.SavedUid == 0;
    if (root) {
        // Set-user-ID root: back to the user who started it. The environment is that user's
        // to write, so SUDO_UID cannot be believed then.
        if (r.RealUid != 0) return {TDropMode::BecomeUser, r.RealUid, r.RealGid};
        std::optional<unsigned> uid = ParseId(r.SudoUid), gid = ParseId(r.SudoGid);
        if (!r.Secure && uid && gid && *uid != 0) return {TDropMode::BecomeUser, *uid, *gid};
        return {TDropMode::KeepFileRights, 0, r.RealGid};
    }
    const bool setId = r.EffectiveUid != r.RealUid || r.SavedUid != r.RealUid ||
                       r.EffectiveGid != r.RealGid || r.SavedGid != r.RealGid;
    if (r.HasCapabilities || setId || r.Secure)
        return {TDropMode::ClearCapabilities, r.RealUid, r.RealGid};
    return {};
}

std::string DropPrivileges(const TDropPlan& plan) {
    switch (plan.Mode) {
        case TDropMode::None:
            return {};
        case TDropMode::BecomeUser:
            return BecomeUser(plan.Uid, plan.Gid);
        case TDropMode::ClearCapabilities:
            return ClearCapabilities(plan.Uid, plan.Gid);
        case TDropMode::KeepFileRights:
            return KeepFileRights();
    }
    return "unknown mode";
}
