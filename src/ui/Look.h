#pragma once

// Readies what the windows' look needs, once: the compiled-in icon, and CJK fonts standing in for
// "宋体" where it is missing, so that every Chinese text renders.
void PrepareLook();
