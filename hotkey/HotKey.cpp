#include "hotkey/HotKey.h"

#include "hotkey/HotKeyFilter.h"

std::int32_t RegisterAltAHotKey(HWND window)
{
    // The same name gives the same atom in every process, and so the same identifier; the atom is
    // never deleted, so consecutive runs keep it.
    const ATOM atom = GlobalAddAtomW(L"MyHotKey");
    const std::int32_t id = HotKeyIdFromAtom(atom);
    RegisterHotKey(window, id, MOD_ALT, 0x41);
    return id;
}

void UnregisterAltAHotKey(HWND window, std::int32_t id)
{
    UnregisterHotKey(window, id);
}
