#include "ui/Dialogs.h"

#include "ui/Forms.h"
#include "ui/Handles.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kInformation[] = L"Information";
constexpr wchar_t kYes[] = L"&Yes";

HMODULE SystemLibrary(const wchar_t* name)
{
    // Only from System32: a DLL of the same name beside the exe must never be picked up.
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool VisualStylesInEffect()
{
    HMODULE theme = SystemLibrary(L"uxtheme.dll");
    if (!theme)
        return false;
    using IsAppThemedFn = BOOL(WINAPI*)();
    auto isAppThemed = reinterpret_cast<IsAppThemedFn>(reinterpret_cast<void*>(GetProcAddress(theme, "IsAppThemed")));
    const bool themed = isAppThemed && isAppThemed();
    FreeLibrary(theme);
    return themed;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Present only in version 6 of the common controls, which the manifest asks for.
TaskDialogIndirectFn TaskDialogFunction()
{
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    return comctl ? reinterpret_cast<TaskDialogIndirectFn>(reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect"))) : nullptr;
}

void CentreIn(HWND window, const RECT& area)
{
    RECT rc;
    GetWindowRect(window, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - w) / 2, area.top + (area.bottom - area.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT CALLBACK TaskDialogCallback(HWND hwnd, UINT msg, WPARAM, LPARAM, LONG_PTR)
{
    if (msg == TDN_CREATED) {
        // Centred in the work area of the monitor nearest to the owner.
        HWND owner = GetWindow(hwnd, GW_OWNER);
        MONITORINFO mi{sizeof(mi)};
        if (GetMonitorInfoW(MonitorFromWindow(owner ? owner : hwnd, MONITOR_DEFAULTTONEAREST), &mi))
            CentreIn(hwnd, mi.rcWork);
    }
    return S_OK;
}

TModalResult ShowTaskDialog(TaskDialogIndirectFn taskDialog, const std::wstring& text)
{
    TASKDIALOG_BUTTON button{IDYES, kYes};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = GetActiveWindow();
    config.hInstance = GetModuleHandleW(nullptr);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.pszWindowTitle = kInformation;
    config.pszMainIcon = TD_INFORMATION_ICON;
    config.pszContent = text.c_str();
    config.cButtons = 1;
    config.pButtons = &button;
    config.nDefaultButton = IDYES;
    config.pfCallback = &TaskDialogCallback;
    int pressed = 0;
    const HRESULT hr = taskDialog(&config, &pressed, nullptr, nullptr);
    if (FAILED(hr))
        throw EOSError(SystemErrorText(static_cast<DWORD>(hr)));
    return pressed == IDYES ? TModalResult::mrYes : TModalResult::mrCancel;
}

// The classic form: a dialog of our own with the information icon, the text and one button.
struct ClassicDialog {
    std::wstring text;
    UniqueFont font;
    HWND button = nullptr;
};

std::wstring ClipboardText(const std::wstring& text)
{
    const std::wstring rule = L"---------------------------\r\n";
    return rule + kInformation + L"\r\n" + rule + text + L"\r\n" + rule + L"Yes\r\n" + rule;
}

void CopyToClipboard(HWND owner, const std::wstring& text)
{
    if (!OpenClipboard(owner))
        return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* p = GlobalLock(mem)) {
            memcpy(p, text.c_str(), bytes);
            GlobalUnlock(mem);
            if (!SetClipboardData(CF_UNICODETEXT, mem))
                GlobalFree(mem);
        } else {
            GlobalFree(mem);
        }
    }
    CloseClipboard();
}

LRESULT CALLBACK YesButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref)
{
    if (msg == WM_KEYDOWN && wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
        auto* d = reinterpret_cast<ClassicDialog*>(ref);
        MessageBeep(0);
        CopyToClipboard(GetParent(hwnd), ClipboardText(d->text));
        return 0;
    }
    if (msg == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, &YesButtonProc, 1);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void LayOutClassic(HWND dlg, ClassicDialog& d)
{
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof(ncm);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
    d.font.reset(CreateFontIndirectW(&ncm.lfMessageFont));

    const int margin = 12, iconSize = 32, gap = 10;
    SIZE textSize{};
    RECT textRect{0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
    {
        ScreenDC screen;
        SelectedObject useFont(screen.get(), d.font.get());
        DrawTextW(screen.get(), d.text.c_str(), static_cast<int>(d.text.size()), &textRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        textSize = {textRect.right, textRect.bottom};
    }
    const int buttonW = 75, buttonH = 25;
    const int contentH = std::max(iconSize, static_cast<int>(textSize.cy));
    const int clientW = std::max(margin + iconSize + gap + static_cast<int>(textSize.cx) + margin, buttonW + 2 * margin);
    const int clientH = margin + contentH + gap + buttonH + margin;

    HINSTANCE inst = GetModuleHandleW(nullptr);
    HWND icon = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin, margin, iconSize, iconSize, dlg,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(20)), inst, nullptr);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ASTERISK)), 0);
    HWND label = CreateWindowExW(0, L"STATIC", d.text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFT, margin + iconSize + gap,
                                 margin, textSize.cx, textSize.cy, dlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(0xFFFF)), inst, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(d.font.get()), FALSE);
    d.button = CreateWindowExW(0, L"BUTTON", kYes, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, (clientW - buttonW) / 2,
                               clientH - margin - buttonH, buttonW, buttonH, dlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDYES)), inst,
                               nullptr);
    SendMessageW(d.button, WM_SETFONT, reinterpret_cast<WPARAM>(d.font.get()), FALSE);
    SetWindowSubclass(d.button, &YesButtonProc, 1, reinterpret_cast<DWORD_PTR>(&d));
    SendMessageW(dlg, DM_SETDEFID, IDYES, 0);

    RECT frame{0, 0, clientW, clientH};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE)), FALSE, static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE)));
    SetWindowPos(dlg, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    CentreIn(dlg, screen);
}

INT_PTR CALLBACK ClassicDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        auto* d = reinterpret_cast<ClassicDialog*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        SetWindowTextW(dlg, kInformation);
        GuardCallback([&] { LayOutClassic(dlg, *d); return 0; }, 0);
        SetFocus(d->button);
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        // Escape arrives as IDCANCEL: no button cancels, so it does nothing.
        if (LOWORD(wParam) == IDYES) {
            EndDialog(dlg, IDYES);
            return TRUE;
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

TModalResult ShowClassicDialog(const std::wstring& text)
{
    // An empty template: the controls are made and placed in pixels when the dialog starts.
    struct alignas(4) Template {
        DLGTEMPLATE dlg;
        WORD menu, windowClass, title;
    } tpl{};
    tpl.dlg.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    tpl.dlg.cx = 100;
    tpl.dlg.cy = 50;
    ClassicDialog d;
    d.text = text;
    const INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &tpl.dlg, GetActiveWindow(), &ClassicDialogProc, reinterpret_cast<LPARAM>(&d));
    if (r == -1)
        throw EOSError(SystemErrorText(GetLastError()));
    return r == IDYES ? TModalResult::mrYes : TModalResult::mrCancel;
}

} // namespace

TModalResult ShowInformationDialog(const std::wstring& text)
{
    // The form is chosen afresh each time: the theme may have been switched meanwhile.
    if (WindowsVersionAtLeast6() && VisualStylesInEffect()) {
        if (auto taskDialog = TaskDialogFunction())
            return ShowTaskDialog(taskDialog, text);
    }
    return ShowClassicDialog(text);
}
