#pragma once

// Registers the windows' compiled-in pictures (the program icon); safe to call more than once.
void PrepareLook();
