// What each way of starting gives up. The start-up itself is run for real, in each mode, by the
// end-to-end test tests/e2e/privilege.sh.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>

#include "../support/RootOnly.h"
#include "Privilege.h"
#include "RawSocket.h"

namespace {

TStartRights Started(uid_t ruid, uid_t euid, gid_t rgid, gid_t egid, bool secure, bool caps,
                     const char* sudoUid = nullptr, const char* sudoGid = nullptr) {
    TStartRights r;
    r.RealUid = ruid;
    r.EffectiveUid = r.SavedUid = euid;
    r.RealGid = rgid;
    r.EffectiveGid = r.SavedGid = egid;
    r.Secure = secure;
    r.HasCapabilities = caps;
    r.SudoUid = sudoUid;
    r.SudoGid = sudoGid;
    return r;
}

struct TPlanCase {
    const char* Name;
    TStartRights Rights;
    TDropPlan Plan;
};

TEST(PlanDrop, EachWayOfStarting) {
    using enum TDropMode;
    const TPlanCase cases[] = {
        {"a user, nothing granted", Started(1000, 1000, 100, 100, false, false), {None, 0, 0}},
        {"sudo", Started(0, 0, 0, 0, false, true, "1000", "100"), {BecomeUser, 1000, 100}},
        {"sudo by root", Started(0, 0, 0, 0, false, true, "0", "0"), {KeepFileRights, 0, 0}},
        {"root login", Started(0, 0, 0, 0, false, true), {KeepFileRights, 0, 0}},
        {"sudo variables unreadable",
         Started(0, 0, 0, 0, false, true, "10x", "100"),
         {KeepFileRights, 0, 0}},
        {"sudo without its group",
         Started(0, 0, 0, 0, false, true, "1000"),
         {KeepFileRights, 0, 0}},
        {"file capability",
         Started(1000, 1000, 100, 100, true, true),
         {ClearCapabilities, 1000, 100}},
        {"ambient capability",
         Started(1000, 1000, 100, 100, false, true),
         {ClearCapabilities, 1000, 100}},
        // The environment of a set-user-ID program is its caller's: SUDO_UID is not believed.
        {"set-user-ID root",
         Started(1000, 0, 100, 100, true, true, "0", "0"),
         {BecomeUser, 1000, 100}},
        {"set-group-ID", Started(1000, 1000, 100, 5, true, false), {ClearCapabilities, 1000, 100}},
    };
    for (const TPlanCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TDropPlan plan = PlanDrop(c.Rights);
        EXPECT_EQ(static_cast<int>(plan.Mode), static_cast<int>(c.Plan.Mode));
        EXPECT_EQ(plan.Uid, c.Plan.Uid);
        EXPECT_EQ(plan.Gid, c.Plan.Gid);
    }
}

// The drop carried out, as root, in a child process; what the child finds afterwards decides
// its exit code (0: as planned).
int InChild(const std::function<int()> body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) _exit(body());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// A line of /proc/self/status, e.g. "CapBnd:", without its key and blanks.
std::string StatusField(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            const std::size_t value = line.find_first_not_of(" \t", key.size());
            return value == std::string::npos ? "" : line.substr(value);
        }
    }
    return "";
}

std::uint64_t CapField(const std::string& key) {
    return std::stoull(StatusField(key), nullptr, 16);
}

// Takes capabilities out of the effective and permitted sets, as a start without them would be.
bool WithoutCapabilities(std::initializer_list<int> caps) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int cap : caps) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

constexpr std::uint64_t kFileRights =
    (1u << CAP_CHOWN) | (1u << CAP_DAC_OVERRIDE) | (1u << CAP_FOWNER);

// A root login keeps the three file rights and nothing else, the bounding set included, so that
// no program it starts gets more; and it can gain nothing afterwards.
TEST(DropPrivileges, RootStartKeepsOnlyTheFileRights) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to start as root";
    const int code = InChild([] {
        if (!DropPrivileges({TDropMode::KeepFileRights, 0, 0}).empty()) return 2;
        if (CapField("CapBnd:") != kFileRights) return 3;
        if (CapField("CapEff:") != kFileRights || CapField("CapPrm:") != kFileRights) return 4;
        if (CapField("CapInh:") != 0 || CapField("CapAmb:") != 0) return 5;
        return StatusField("NoNewPrivs:") == "1" ? 0 : 6;
    });
    // 2: the drop failed; 3: the bounding set; 4: the sets kept; 5: inherited; 6: no_new_privs
    EXPECT_EQ(code, 0);
}

// A sudo start becomes the user who asked, with that user's home and names in the environment
// (the toolkit keeps its files under HOME).
TEST(DropPrivileges, SudoStartBecomesTheUserWithItsHomeAndNames) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to start through sudo";
    const passwd* nobody = getpwuid(65534);
    ASSERT_NE(nobody, nullptr) << "no user 65534";
    const std::string home = nobody->pw_dir, name = nobody->pw_name;
    const int code = InChild([&] {
        setenv("HOME", "/root", 1);
        setenv("USER", "root", 1);
        setenv("LOGNAME", "root", 1);
        if (!DropPrivileges({TDropMode::BecomeUser, 65534, 65534}).empty()) return 2;
        if (getuid() != 65534 || geteuid() != 65534 || getgid() != 65534) return 3;
        if (CapField("CapEff:") != 0 || CapField("CapPrm:") != 0) return 4;
        const char* h = std::getenv("HOME");
        const char* u = std::getenv("USER");
        const char* l = std::getenv("LOGNAME");
        if (h == nullptr || h != home) return 5;
        return u != nullptr && l != nullptr && u == name && l == name ? 0 : 6;
    });
    // 2: the drop failed; 3: the ids; 4: capabilities left; 5: HOME; 6: USER or LOGNAME
    EXPECT_EQ(code, 0);
}

// Rights that cannot be given up are reported, not passed over: a root start through sudo
// without CAP_SETGID and CAP_SETUID cannot become the user.
TEST(DropPrivileges, AFailedDropIsReported) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to start as root";
    const int code = InChild([] {
        if (!WithoutCapabilities({CAP_SETGID, CAP_SETUID})) return 2;
        const std::string error = DropPrivileges({TDropMode::BecomeUser, 65534, 65534});
        if (error.empty()) return 3;
        return error.find("setgroups") != std::string::npos ? 0 : 4;
    });
    // 2: the test could not take the capabilities; 3: no error; 4: an error without its reason
    EXPECT_EQ(code, 0);
}

// The held socket's filter is locked: code run later in the process can neither take it off
// nor put another in its place, so the socket never sees more than ARP replies.
TEST(HeldRawSocket, FilterCannotBeDetachedOrReplaced) {
    std::string why;
    if (!HoldRawArpSocket(&why)) {
        ASSERT_EQ(why, "") << "the socket was opened but its filter not locked";
        QUORVEL_SKIP_ROOT_ONLY() << "this process may not open a packet socket (needs CAP_NET_RAW)";
    }
    TFd sock = BorrowRawArpSocket();
    ASSERT_TRUE(sock.Valid());
    const int none = 0;
    errno = 0;
    EXPECT_NE(setsockopt(sock.Get(), SOL_SOCKET, SO_DETACH_FILTER, &none, sizeof none), 0);
    EXPECT_EQ(errno, EPERM);
    sock_filter acceptAll[] = {BPF_STMT(BPF_RET | BPF_K, 0xFFFF)};
    const sock_fprog program{1, acceptAll};
    errno = 0;
    EXPECT_NE(setsockopt(sock.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program), 0);
    EXPECT_EQ(errno, EPERM);
    ReleaseRawArpSocket();
}

}  // namespace
