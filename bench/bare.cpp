// The baseline the clock is measured against: a borderless 274x178 pop-up window with a 500 ms
// timer and nothing else. Built with the clock's toolchain and flags (-Os, static, -municode).
#include <windows.h>

#include "../ui/StartTrace.h"  // nothing unless the phase profile builds it in

namespace {

constexpr wchar_t kClass[] = L"QuenletBare";
constexpr UINT_PTR kTimer = 1;

LRESULT CALLBACK BareProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT: {
        const LRESULT painted = DefWindowProcW(hwnd, msg, wParam, lParam);
        StartTrace("painted");
        return painted;
    }
    case WM_TIMER:
        return 0;  // the clock's refresh tick, without the refresh
    case WM_DESTROY:
        KillTimer(hwnd, kTimer);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    StartTrace("main");
    WNDCLASSW wc{};
    wc.lpfnWndProc = BareProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    if (!RegisterClassW(&wc))
        return 1;
    HWND hwnd = CreateWindowExW(0, kClass, L"QuenletBare", WS_POPUP, 0, 0, 274, 178, nullptr, nullptr, instance,
                                nullptr);
    if (!hwnd)
        return 1;
    SetTimer(hwnd, kTimer, 500, nullptr);
    StartTrace("window made");
    ShowWindow(hwnd, show);
    StartTrace("shown");
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
