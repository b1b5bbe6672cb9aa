#pragma once

#include <cstdint>

// WM_HOTKEY's lParam carries the modifiers in its low word and the virtual
// key in its high word. Only exactly Alt (MOD_ALT = 1, no other bit, not even
// MOD_NOREPEAT) with the A key (0x41) starts the announcement.
bool IsAltAHotKey(std::uint32_t lParam);

// The hot-key identifier derived from the global atom of "MyHotKey": the atom
// minus 0xC000 as a 32-bit signed value. String atoms (0xC000..0xFFFF) map to
// 0..0x3FFF; a failed atom (0) gives -0xC000, which is passed on unchecked.
std::int32_t HotKeyIdFromAtom(std::uint16_t atom);
