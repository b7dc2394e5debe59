// Giving up, once the raw socket is open, the rights the process was started with: a sudo
// start becomes the user who asked, a file capability is dropped entirely, and a root login
// keeps only what saving another user's files needs.
#pragma once

#include <sys/types.h>

#include <string>

// The identity and rights the process was started with.
struct TStartRights {
    uid_t RealUid = 0, EffectiveUid = 0, SavedUid = 0;
    gid_t RealGid = 0, EffectiveGid = 0, SavedGid = 0;
    bool Secure = false;            // secure-execution mode: set-ID or file capabilities
    bool HasCapabilities = false;   // any capability permitted or ambient
    const char* SudoUid = nullptr;  // SUDO_UID and SUDO_GID, null when unset
    const char* SudoGid = nullptr;
};

enum class TDropMode {
    None,               // nothing to give up
    BecomeUser,         // every uid and gid becomes Uid and Gid, with that user's groups
    ClearCapabilities,  // stays the real user (Uid, Gid), without any capability
    KeepFileRights,     // stays uid 0 with CAP_CHOWN, CAP_DAC_OVERRIDE and CAP_FOWNER only
};

struct TDropPlan {
    TDropMode Mode = TDropMode::None;
    uid_t Uid = 0;
    gid_t Gid = 0;
    bool operator==(const TDropPlan&) const = default;
};

TStartRights ReadStartRights();
TDropPlan PlanDrop(const TStartRights& rights);
// Carries the plan out and checks that nothing given up can be taken back: empty when done,
// else what failed.
std::string DropPrivileges(const TDropPlan& plan);
