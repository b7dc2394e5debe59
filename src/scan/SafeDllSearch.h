// Windows: where the process looks for a DLL asked for by name.
#pragma once

// Limits every later load by name to the program's own folder and System32, so that no DLL a
// component asks for by name is taken from the working folder or PATH. Called first thing in
// the program, before anything loads a DLL; false where the system lacks the call (Windows 7
// without its update), which then keeps its standard order.
bool TakeSafeDllSearch();
