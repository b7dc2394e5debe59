// The ARP raw socket, opened once at start while the process still may and kept for its whole
// life, so that every right to open another one can be given up before anything else runs.
#pragma once

#include "LinuxIo.h"

// Opens the socket unless it is already held; false when this process may not open one.
bool HoldRawArpSocket();
// Closes the held socket: scans then use the unprivileged probe.
void ReleaseRawArpSocket();
// A descriptor of the held socket for one probe to own and close (the socket itself stays
// open), with the frames that arrived since the last probe thrown away; invalid when none is
// held.
TFd BorrowRawArpSocket();
