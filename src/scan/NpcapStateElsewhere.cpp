#include "NpcapState.h"

// Npcap is a Windows driver: nothing to read here.
TNpcapState ReadNpcapState() { return TNpcapState::Unread; }
