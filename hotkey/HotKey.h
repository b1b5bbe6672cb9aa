#pragma once
// The system-wide Alt+A, bound to one window under the identifier of the global atom "MyHotKey".
#include <windows.h>

#include <cstdint>

// Adds the atom, derives the identifier and registers Alt+A for the window. A registration that
// fails (another program or copy holds Alt+A) is silent: the identifier is returned all the same.
std::int32_t RegisterAltAHotKey(HWND window);
// Releases the registration; without one this does nothing.
void UnregisterAltAHotKey(HWND window, std::int32_t id);
