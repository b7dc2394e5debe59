// What the program does before any toolkit object exists: it opens the raw ARP socket while it
// may, gives up every privilege it was started with, and whenever there was one to give up (file
// capabilities, set-ID, sudo, root) keeps nothing from the environment or command line that
// would make the toolkit load code from elsewhere, and holds the socket only if its own folder
// is root's alone.
#pragma once

#include <string_view>

// Opens /dev/null on each of the standard streams 0, 1 and 2 that is closed, as set-ID programs
// do; StartUnprivileged does it first.
void OpenStandardStreams();

// False when a privilege could not be given up (the reason is on stderr): the program must not
// go on then.
bool StartUnprivileged(int& argc, char** argv);

// A privileged start: the environment variables that are kept (the display, the locale, the
// user's home; no plugin path, style, theme or module of any kind).
bool KeptInSecureMode(std::string_view variable);
// Removes the toolkit's options that load code or looks from elsewhere (-plugin,
// -platformpluginpath, -platformtheme, -style, -stylesheet, -testability, -qmljsdebugger),
// with their values; returns the new argument count.
int DropCodeLoadingArguments(int argc, char** argv);
