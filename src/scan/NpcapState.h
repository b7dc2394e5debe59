// What the packet capture driver's installation lets this process do: read as its maker
// documents it (the service key HKLM\SYSTEM\CurrentControlSet\Services\npcap, its
// Parameters\AdminOnly value, the service's status from the service manager), and told to the
// administrator when a scan had to take the slower path.
#pragma once

#include <optional>
#include <string>

enum class TNpcapState {
    Unread,     // the system would not say; nothing is claimed
    Missing,    // not installed
    Ready,      // installed, running, and open to this process
    AdminOnly,  // installed for administrators only, and this process is not elevated
    Stopped,    // installed, but its service is not running
};

// What was read; Running empty when the service manager would not say.
struct TNpcapFacts {
    bool Installed = false;
    bool AdminOnly = false;
    bool Elevated = false;
    std::optional<bool> Running;
};

TNpcapState NpcapStateOf(const TNpcapFacts& facts);

// Reads the state on Windows; Unread elsewhere and wherever a read fails.
TNpcapState ReadNpcapState();

// What the state means for a scan, for the end-of-scan report (Chinese); empty for Ready and
// Unread.
std::string NpcapAdvice(TNpcapState state);
// The same for --help (English), every state told.
std::string NpcapHelp(TNpcapState state);
