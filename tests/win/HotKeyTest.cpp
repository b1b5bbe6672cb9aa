// The system-wide Alt+A: its identifier, what it holds while registered, and the message that a
// key press from the keyboard (SendInput, as from any application) brings to the window.
#include "hotkey/HotKey.h"
#include "tests/win/WinTestSupport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// A plain hidden window that notes the hot-key messages it gets.
class HotKeyWindow {
public:
    HotKeyWindow()
    {
        static const wchar_t* kClass = L"QuenletHotKeyTest";
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &HotKeyWindow::Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kClass;
            registered = RegisterClassW(&wc) != 0;
        }
        hwnd = CreateWindowExW(0, kClass, L"hot key", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    }
    ~HotKeyWindow()
    {
        if (hwnd)
            DestroyWindow(hwnd);
    }
    HotKeyWindow(const HotKeyWindow&) = delete;
    HotKeyWindow& operator=(const HotKeyWindow&) = delete;

    HWND hwnd = nullptr;
    std::vector<std::pair<WPARAM, LPARAM>> got;

private:
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        auto* self = reinterpret_cast<HotKeyWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (msg == WM_HOTKEY && self) {
            self->got.emplace_back(wp, lp);
            return 0;
        }
        return DefWindowProcW(h, msg, wp, lp);
    }
};

INPUT Key(WORD vk, bool up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

// Presses the modifiers, then A, and lets everything go again.
void PressA(std::vector<WORD> modifiers)
{
    std::vector<INPUT> ins;
    for (WORD m : modifiers)
        ins.push_back(Key(m, false));
    ins.push_back(Key('A', false));
    ins.push_back(Key('A', true));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        ins.push_back(Key(*it, true));
    ASSERT_EQ(SendInput(static_cast<UINT>(ins.size()), ins.data(), sizeof(INPUT)), ins.size());
}

// A registration of Alt+A by someone else: possible only while nobody holds the combination.
bool AltAIsFree()
{
    HotKeyWindow other;
    constexpr int kOtherId = 0x3FFF;
    if (!RegisterHotKey(other.hwnd, kOtherId, MOD_ALT, 'A'))
        return false;
    UnregisterHotKey(other.hwnd, kOtherId);
    return true;
}

TEST(AltAHotKey, IdentifierIsTheAtomOfMyHotKeyLessC000AndTheSameEveryTime)
{
    HotKeyWindow w;
    const std::int32_t id = RegisterAltAHotKey(w.hwnd);
    const ATOM atom = GlobalFindAtomW(L"MyHotKey");
    ASSERT_NE(atom, 0) << "the atom was not added";
    EXPECT_EQ(id, static_cast<std::int32_t>(atom) - 0xC000);
    EXPECT_GE(id, 0);
    EXPECT_LE(id, 0x3FFF);
    UnregisterAltAHotKey(w.hwnd, id);
    // The atom is never deleted, so a later registration (a later run) gets the same identifier.
    EXPECT_EQ(GlobalFindAtomW(L"MyHotKey"), atom);
    const std::int32_t again = RegisterAltAHotKey(w.hwnd);
    EXPECT_EQ(again, id);
    UnregisterAltAHotKey(w.hwnd, again);
}

TEST(AltAHotKey, HoldsAltAWhileRegisteredAndFreesItOnRelease)
{
    ASSERT_TRUE(AltAIsFree()) << "something else holds Alt+A: nothing below would mean anything";
    HotKeyWindow w;
    const std::int32_t id = RegisterAltAHotKey(w.hwnd);
    EXPECT_FALSE(AltAIsFree());
    UnregisterAltAHotKey(w.hwnd, id);
    EXPECT_TRUE(AltAIsFree());
}

TEST(AltAHotKey, AltAFromTheKeyboardReachesTheWindowOtherModifiersDoNot)
{
    HotKeyWindow w;
    const std::int32_t id = RegisterAltAHotKey(w.hwnd);
    PressA({VK_MENU, VK_SHIFT});
    PressA({});
    // Alt+A last: once its message is in, any message the others would have brought is in too.
    PressA({VK_MENU});
    EXPECT_TRUE(PollUntil([&] { return !w.got.empty(); })) << "no WM_HOTKEY for Alt+A";
    UnregisterAltAHotKey(w.hwnd, id);
    ASSERT_EQ(w.got.size(), 1u);
    EXPECT_EQ(static_cast<std::int32_t>(w.got[0].first), id);
    EXPECT_EQ(LOWORD(w.got[0].second), MOD_ALT);
    EXPECT_EQ(HIWORD(w.got[0].second), 'A');
}

TEST(AltAHotKey, ASecondWindowGetsTheSameIdentifierButNeverTheKey)
{
    HotKeyWindow first, second;
    const std::int32_t id = RegisterAltAHotKey(first.hwnd);
    // A second copy: same atom, same identifier, its registration fails without a word.
    EXPECT_EQ(RegisterAltAHotKey(second.hwnd), id);
    PressA({VK_MENU});
    EXPECT_TRUE(PollUntil([&] { return !first.got.empty(); })) << "the first window got no WM_HOTKEY";
    EXPECT_TRUE(second.got.empty());
    // The second window's release frees nothing of the first's.
    UnregisterAltAHotKey(second.hwnd, id);
    EXPECT_FALSE(AltAIsFree());
    // Once the first lets go, the combination is free: the second did not take it over.
    UnregisterAltAHotKey(first.hwnd, id);
    EXPECT_TRUE(AltAIsFree());
}

} // namespace
