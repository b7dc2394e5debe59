#pragma once

// The windows ask for "宋体"; where it is missing, CJK fonts that are stand in for it, so that
// every Chinese text renders. Safe to call more than once.
void UseChineseFontSubstitutes();
