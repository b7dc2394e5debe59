// The ARP raw socket, opened once at start while the process still may and kept for its whole
// life, so that every right to open another one can be given up before anything else runs.
#pragma once

#include <string>

#include "LinuxIo.h"

// Opens the socket unless it is already held, and locks its filter so that nothing run in this
// process later can take the filter off or replace it. False when this process may not open a
// socket, or when its filter could not be locked: then no socket is held, and why (when given)
// tells the reason.
bool HoldRawArpSocket(std::string* why = nullptr);
// Closes the held socket: scans then use the unprivileged probe.
void ReleaseRawArpSocket();
// A descriptor of the held socket for one probe to own and close (the socket itself stays
// open), with the frames that arrived since the last probe thrown away; invalid when none is
// held.
TFd BorrowRawArpSocket();
