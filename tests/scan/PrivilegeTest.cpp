// What each way of starting gives up. The start-up itself is run for real, in each mode, by the
// end-to-end test tests/e2e/privilege.sh.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

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

// The held socket's filter is locked: code run later in the process can neither take it off
// nor put another in its place, so the socket never sees more than ARP replies.
TEST(HeldRawSocket, FilterCannotBeDetachedOrReplaced) {
    std::string why;
    if (!HoldRawArpSocket(&why)) {
        ASSERT_EQ(why, "") << "the socket was opened but its filter not locked";
        GTEST_SKIP() << "this process may not open a packet socket (needs CAP_NET_RAW)";
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
