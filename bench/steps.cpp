// The bare window plus chosen pieces of what the clock does at start, named on the command line,
// so the benchmark can measure what each piece costs in start time and memory:
//
//   comctl6   common controls 6 (the manifest's): a command link with a 48x48 32-bit image list,
//             two push buttons with Chinese captions
//   ole       OleInitialize and CoInitialize
//   voice     ole, then the voice object by ProgID and its Volume put through IDispatch
//   layered   topmost layered window: colour key and alpha 200, a round-rect panel
//   text      Tahoma at -11 and -56 px, the clock's kinds of text drawn (Chinese through the
//             font link)
//   all       every piece
//
// Built with the clock's toolchain and flags; a diagnostic, not part of the product.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cwchar>
#include <initializer_list>

namespace {

constexpr wchar_t kClass[] = L"QuenletSteps";
constexpr UINT_PTR kTimer = 1;
constexpr COLORREF kKey = RGB(0x10, 0x88, 0xFF);
constexpr COLORREF kPanel = RGB(0x11, 0x88, 0xFF);

struct Pieces {
    bool comctl6 = false, ole = false, voice = false, layered = false, text = false;
} g_pieces;

HFONT g_small = nullptr, g_large = nullptr;
IDispatch* g_voice = nullptr;

// The DLLs of each piece are loaded when the piece is asked for (the clock imports them), so that
// a run without the piece does not pay for them.
template <class F>
F Proc(const wchar_t* dll, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(dll), name)));
}

bool Has(const wchar_t* line, const wchar_t* word)
{
    const size_t n = wcslen(word);
    for (const wchar_t* p = wcsstr(line, word); p; p = wcsstr(p + 1, word)) {
        const bool startOk = p == line || p[-1] == L' ';
        const bool endOk = p[n] == 0 || p[n] == L' ';
        if (startOk && endOk)
            return true;
    }
    return false;
}

void Paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (g_pieces.layered) {
        RECT all;
        GetClientRect(hwnd, &all);
        HBRUSH key = CreateSolidBrush(kKey);
        FillRect(dc, &all, key);
        DeleteObject(key);
        HBRUSH panel = CreateSolidBrush(kPanel);
        HGDIOBJ oldBrush = SelectObject(dc, panel);
        RoundRect(dc, 8, 8, 266, 169, 10, 10);
        SelectObject(dc, oldBrush);
        DeleteObject(panel);
    }
    if (g_pieces.text) {
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ old = SelectObject(dc, g_large);
        RECT r{30, 22, 180, 90};
        DrawTextW(dc, L"12:34", -1, &r, DT_NOPREFIX | DT_SINGLELINE);
        SelectObject(dc, g_small);
        const wchar_t* lines[] = {L"Friday", L"11th,December,2026", L"Alt+A 语音报时"};
        const int tops[] = {96, 115, 144};
        for (int i = 0; i < 3; ++i) {
            RECT t{30, tops[i], 180, tops[i] + 13};
            DrawTextW(dc, lines[i], -1, &t, DT_NOPREFIX | DT_SINGLELINE);
        }
        SelectObject(dc, old);
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK StepsProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_TIMER:
        return 0;  // the clock's labels redraw only when their text changes: once a minute
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, kTimer);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void AddControls(HWND hwnd, HINSTANCE instance)
{
    // Version 6 through the manifest (resource 1), as for the clock.
    const auto initControls = Proc<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(L"comctl32.dll", "InitCommonControlsEx");
    const auto createList = Proc<HIMAGELIST(WINAPI*)(int, int, UINT, int, int)>(L"comctl32.dll", "ImageList_Create");
    const auto addToList = Proc<int(WINAPI*)(HIMAGELIST, HBITMAP, HBITMAP)>(L"comctl32.dll", "ImageList_Add");
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    initControls(&icc);
    HWND link = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_COMMANDLINK, 185, 33, 67,
                                57, hwnd, reinterpret_cast<HMENU>(1), instance, nullptr);
    HIMAGELIST images = createList(48, 48, ILC_COLOR32, 1, 1);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 48, -48, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    addToList(images, picture, nullptr);
    DeleteObject(picture);
    BUTTON_IMAGELIST bil{images, {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
    SendMessageW(link, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&bil));
    HWND help = CreateWindowExW(0, L"BUTTON", L"帮助", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 190, 105, 62, 25, hwnd,
                                reinterpret_cast<HMENU>(2), instance, nullptr);
    HWND close = CreateWindowExW(0, L"BUTTON", L"关闭", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 190, 136, 62, 24, hwnd,
                                 reinterpret_cast<HMENU>(3), instance, nullptr);
    if (g_small) {  // Tahoma, whose font link draws the captions
        for (HWND b : {link, help, close})
            SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(g_small), FALSE);
    }
}

void CreateVoice()
{
    const auto clsidFromProgId = Proc<HRESULT(WINAPI*)(LPCOLESTR, LPCLSID)>(L"ole32.dll", "CLSIDFromProgID");
    const auto coCreateInstance =
        Proc<HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)>(L"ole32.dll", "CoCreateInstance");
    CLSID clsid;
    if (FAILED(clsidFromProgId(L"SAPI.SpVoice", &clsid)))
        return;
    if (FAILED(coCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&g_voice))))
        return;
    LPOLESTR name = const_cast<LPOLESTR>(L"Volume");
    DISPID id = 0;
    if (FAILED(g_voice->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)))
        return;
    VARIANT volume{};
    volume.vt = VT_I4;
    volume.lVal = 100;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&volume, &put, 1, 1};
    g_voice->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR cmdLine, int show)
{
    const bool all = Has(cmdLine, L"all");
    g_pieces.comctl6 = all || Has(cmdLine, L"comctl6");
    g_pieces.voice = all || Has(cmdLine, L"voice");
    g_pieces.ole = g_pieces.voice || Has(cmdLine, L"ole");
    g_pieces.layered = all || Has(cmdLine, L"layered");
    g_pieces.text = all || Has(cmdLine, L"text");

    if (g_pieces.ole) {
        LoadLibraryW(L"oleaut32.dll");  // the clock's automation strings and variants
        Proc<HRESULT(WINAPI*)(LPVOID)>(L"ole32.dll", "OleInitialize")(nullptr);
        Proc<HRESULT(WINAPI*)(LPVOID)>(L"ole32.dll", "CoInitialize")(nullptr);
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = StepsProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    if (!RegisterClassW(&wc))
        return 1;
    const DWORD ex = g_pieces.layered ? WS_EX_LAYERED | WS_EX_TOPMOST : 0;
    HWND hwnd = CreateWindowExW(ex, kClass, L"QuenletSteps", WS_POPUP, 0, 0, 274, 178, nullptr, nullptr, instance,
                                nullptr);
    if (!hwnd)
        return 1;
    if (g_pieces.layered)
        SetLayeredWindowAttributes(hwnd, kKey, 200, LWA_COLORKEY | LWA_ALPHA);
    if (g_pieces.text) {
        g_small = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
        g_large = CreateFontW(-56, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    }
    if (g_pieces.comctl6)
        AddControls(hwnd, instance);
    if (g_pieces.voice)
        CreateVoice();
    SetTimer(hwnd, kTimer, 500, nullptr);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (g_voice)
        g_voice->Release();
    if (g_pieces.ole) {
        Proc<void(WINAPI*)()>(L"ole32.dll", "CoUninitialize")();
        Proc<void(WINAPI*)()>(L"ole32.dll", "OleUninitialize")();
    }
    return 0;
}
