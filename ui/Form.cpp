#include "ui/Forms.h"

#include "ui/Geometry.h"
#include "ui/StartTrace.h"

#include <algorithm>

TForm::TForm(std::wstring name, std::wstring className, std::wstring layoutResource)
    : TComponent(std::move(name)), className_(std::move(className)), layoutResource_(std::move(layoutResource))
{
}

TForm::~TForm()
{
    // Components first: the buttons' windows die with the form's window, the timer stops.
    tooltip_.reset();
    if (hwnd_) {
        HWND h = hwnd_;
        DestroyWindow(h);
    }
    components_.clear();
}

TComponent* TForm::FindComponent(std::wstring_view name) const
{
    for (const auto& c : components_)
        if (c->Name() == name)
            return c.get();
    return nullptr;
}

namespace {
std::unique_ptr<TComponent> MakeComponent(const LayoutNode& node)
{
    const std::wstring& cls = node.className;
    if (cls == L"TShape")
        return std::make_unique<TShape>(node.name);
    if (cls == L"TLabel")
        return std::make_unique<TLabel>(node.name);
    if (cls == L"TButton")
        return std::make_unique<TButton>(node.name);
    if (cls == L"TTimer")
        return std::make_unique<TTimer>(node.name);
    if (cls == L"TImageList")
        return std::make_unique<TImageList>(node.name);
    throw ELayoutError(L"Window layout, line " + std::to_wstring(node.line) + L": class '" + cls + L"' of '" + node.name +
                       L"' is not known");
}

std::string LoadLayoutText(const std::wstring& resource)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, resource.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!res)
        throw ELayoutError(L"Resource " + resource + L" not found");
    HGLOBAL data = LoadResource(module, res);
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        throw ELayoutError(L"Resource " + resource + L" not found");
    return std::string(static_cast<const char*>(bytes), SizeofResource(module, res));
}
} // namespace

std::string TForm::LayoutText() const
{
    return LoadLayoutText(layoutResource_);
}

void TForm::Construct()
{
    const LayoutNode root = ParseLayout(LayoutText());
    if (root.className != className_)
        throw ELayoutError(L"Window layout is for class '" + root.className + L"', not '" + className_ + L"'");
    THandlerTable handlers;
    RegisterHandlers(handlers);
    TLayoutContext ctx{*this, handlers, {}};

    // Everything is applied to objects without windows first; a fault anywhere leaves no window
    // and no running timer behind.
    for (const auto& prop : root.properties)
        SetProperty(root, prop, ctx);
    for (const auto& child : root.children) {
        if (!child.children.empty())
            throw ELayoutError(L"Window layout, line " + std::to_wstring(child.line) + L": '" + child.name + L"' cannot hold components");
        if (FindComponent(child.name))
            throw ELayoutError(L"Window layout, line " + std::to_wstring(child.line) + L": '" + child.name + L"' is named twice");
        auto component = MakeComponent(child);
        if (auto* control = dynamic_cast<TControl*>(component.get()))
            control->SetParent(this);
        for (const auto& prop : child.properties)
            component->SetProperty(child, prop, ctx);
        components_.push_back(std::move(component));
    }
    for (auto& fix : ctx.fixups)
        fix();
    ScaleForScreen();
    for (auto& c : components_)
        if (auto* label = dynamic_cast<TLabel*>(c.get()))
            label->AdjustBounds();
    for (auto& c : components_)
        c->Loaded();
    StartTrace("layout loaded");
}

void TForm::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Left") {
        left_ = IntValue(node, prop, ctx);
    } else if (n == L"Top") {
        top_ = IntValue(node, prop, ctx);
    } else if (n == L"Cursor") {
        const std::wstring v = IdentValue(node, prop, ctx);
        if (v == L"crSizeAll")
            Cursor = crSizeAll;
        else if (v == L"crDefault")
            Cursor = crDefault;
        else
            ctx.Fail(node, prop, L"unknown cursor '" + v + L"'");
    } else if (n == L"AlphaBlend") {
        AlphaBlend = BoolValue(node, prop, ctx);
    } else if (n == L"AlphaBlendValue") {
        AlphaBlendValue = IntValue(node, prop, ctx);
    } else if (n == L"BorderStyle") {
        const std::wstring v = IdentValue(node, prop, ctx);
        if (v != L"bsNone")
            ctx.Fail(node, prop, L"only bsNone is known");
        BorderNone = true;
    } else if (n == L"Caption") {
        Caption = StringValue(node, prop, ctx);
    } else if (n == L"ClientHeight") {
        ClientHeight = IntValue(node, prop, ctx);
    } else if (n == L"ClientWidth") {
        ClientWidth = IntValue(node, prop, ctx);
    } else if (n == L"Color") {
        Color = static_cast<TColor>(IntValue(node, prop, ctx));
    } else if (n == L"TransparentColor") {
        TransparentColor = BoolValue(node, prop, ctx);
    } else if (n == L"TransparentColorValue") {
        TransparentColorValue = static_cast<TColor>(IntValue(node, prop, ctx));
    } else if (n == L"Icon.Resource") {
        iconResource_ = StringValue(node, prop, ctx);
    } else if (n == L"OldCreateOrder") {
        if (BoolValue(node, prop, ctx))
            ctx.Fail(node, prop, L"only False is known");
    } else if (n == L"OnClose") {
        OnClose = HandlerValue(ctx.handlers.close, node, prop, ctx);
    } else if (n == L"OnCreate") {
        OnCreate = HandlerValue(ctx.handlers.notify, node, prop, ctx);
    } else if (n == L"PixelsPerInch") {
        PixelsPerInch = IntValue(node, prop, ctx);
    } else if (n == L"TextHeight") {
        TextHeight = IntValue(node, prop, ctx);
    } else if (!SetFontProperty(Font, node, prop, ctx)) {
        TComponent::SetProperty(node, prop, ctx);
    }
}

// The layout is made for 96 pixels per inch and a "0" 13 pixels high. On another screen density the
// window font follows the density, and then everything follows the font.
void TForm::ScaleForScreen()
{
    int dpi;
    {
        ScreenDC screen;
        dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
    if (dpi != PixelsPerInch && PixelsPerInch > 0)
        Font.Height = MulDivRound(Font.Height, dpi, PixelsPerInch);
    SIZE zero{};
    {
        ScreenDC screen;
        SelectedObject useFont(screen.get(), Font.Handle());
        GetTextExtentPoint32W(screen.get(), L"0", 1, &zero);
    }
    if (zero.cy == TextHeight || TextHeight <= 0)
        return;
    const int m = zero.cy, d = TextHeight;
    for (auto& c : components_) {
        if (auto* control = dynamic_cast<TControl*>(c.get())) {
            const Rect r = ScaleRect(control->BoundsRect(), m, d);
            control->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
            if (auto* label = dynamic_cast<TLabel*>(control); label && !label->ParentFont)
                label->Font.Height = MulDivRound(label->Font.Height, m, d);
        }
    }
    ClientWidth = MulDivRound(ClientWidth, m, d);
    ClientHeight = MulDivRound(ClientHeight, m, d);
}

HWND TForm::Handle()
{
    if (!hwnd_)
        CreateHandle();
    return hwnd_;
}

void TForm::CreateHandle()
{
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{sizeof(wc)};
    if (!GetClassInfoExW(inst, className_.c_str(), &wc)) {
        wc = WNDCLASSEXW{sizeof(wc)};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &TForm::StaticWndProc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = className_.c_str();
        if (!RegisterClassExW(&wc))
            throw EOSError(L"Error creating window class: " + SystemErrorText(GetLastError()));
    }
    const DWORD style = (BorderNone ? WS_POPUP : WS_OVERLAPPEDWINDOW) | WS_CLIPCHILDREN;
    RECT rc{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&rc, style, FALSE, WS_EX_CONTROLPARENT);
    HWND owner = Application ? Application->Handle() : nullptr;
    HWND h = CreateWindowExW(WS_EX_CONTROLPARENT, className_.c_str(), Caption.c_str(), style, left_, top_, rc.right - rc.left,
                             rc.bottom - rc.top, owner, nullptr, inst, this);
    if (!h)
        throw EOSError(L"Error creating window: " + SystemErrorText(GetLastError()));
    ApplyLayeredAttributes();

    if (!iconResource_.empty()) {
        bigIcon_.reset(static_cast<HICON>(LoadImageW(inst, iconResource_.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
        smallIcon_.reset(static_cast<HICON>(LoadImageW(inst, iconResource_.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
        SendMessageW(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
        SendMessageW(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    }

    for (TButton* b : TabOrderButtons())
        b->CreateHandle(h, Font.Handle());

    // Hints: only controls that ask for one get a tool; nothing else shows a tip.
    // HACK: Wine 8 stacks a window after its owned popups when it is made topmost; a tip owned by
    // the clock would take the clock out of the topmost band. The tip needs no owner: it only
    // shows while the pointer rests on a button of the clock.
    tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, inst, nullptr));
    if (tooltip_) {
        SendMessageW(tooltip_.get(), TTM_SETDELAYTIME, TTDT_INITIAL, 500);
        SendMessageW(tooltip_.get(), TTM_SETDELAYTIME, TTDT_AUTOPOP, 2500);
        for (auto& c : components_) {
            auto* b = dynamic_cast<TButton*>(c.get());
            if (!b || !b->ShowHint || b->Hint.empty())
                continue;
            TTTOOLINFOW ti{};
            ti.cbSize = sizeof(ti);
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = h;
            ti.uId = reinterpret_cast<UINT_PTR>(b->Handle());
            ti.lpszText = const_cast<wchar_t*>(b->Hint.c_str());
            SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        }
    }
    StartTrace("window made");
}

void TForm::ApplyLayeredAttributes()
{
    if (!hwnd_ || !(AlphaBlend || TransparentColor))
        return;
    // Looked up by name: systems without layered windows show an opaque window instead.
    using SetLayeredFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    auto setLayered = reinterpret_cast<SetLayeredFn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetLayeredWindowAttributes")));
    if (!setLayered)
        return;
    SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_LAYERED);
    DWORD flags = 0;
    if (TransparentColor)
        flags |= LWA_COLORKEY;
    if (AlphaBlend)
        flags |= LWA_ALPHA;
    setLayered(hwnd_, ColorToRGB(TransparentColorValue), static_cast<BYTE>(AlphaBlendValue), flags);
}

std::vector<TButton*> TForm::TabOrderButtons() const
{
    std::vector<TButton*> buttons;
    for (const auto& c : components_)
        if (auto* b = dynamic_cast<TButton*>(c.get()))
            buttons.push_back(b);
    std::stable_sort(buttons.begin(), buttons.end(), [](TButton* a, TButton* b) { return a->TabOrder < b->TabOrder; });
    return buttons;
}

void TForm::Show(TWindowState state)
{
    HWND h = Handle();
    showing_ = true;
    // The application window first: showing an owner restacks its shown popups below it, and on
    // Wine that takes a topmost clock out of the topmost band.
    if (Application)
        Application->FormVisibilityChanged();
    if (!Application || !Application->IsMinimized())
        ShowWindow(h, state == TWindowState::wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOW);
}

void TForm::Hide()
{
    showing_ = false;
    if (hwnd_)
        ShowWindow(hwnd_, SW_HIDE);
    if (Application)
        Application->FormVisibilityChanged();
}

void TForm::SetLeft(int left)
{
    MoveTo(left, top_);
}

void TForm::SetTop(int top)
{
    MoveTo(left_, top);
}

// The window moves at once when it exists; size and stacking stay.
void TForm::MoveTo(int left, int top)
{
    left_ = left;
    top_ = top;
    if (hwnd_)
        SetWindowPos(hwnd_, nullptr, left_, top_, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::Close()
{
    // No close query is bound, so the close is always allowed.
    TCloseAction action = TCloseAction::caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == TCloseAction::caNone)
        return;
    if (Application && Application->MainForm() == this)
        Application->Terminate();
    else
        Hide();
}

void TForm::InvalidateRect(const Rect& r)
{
    if (!hwnd_)
        return;
    RECT rc{r.left, r.top, r.right, r.bottom};
    ::InvalidateRect(hwnd_, &rc, FALSE);
}

bool TForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

void TForm::PaintScene(HDC dc, const RECT& area)
{
    // Painted off screen and copied in one go, so a refresh never flickers.
    RECT client;
    GetClientRect(hwnd_, &client);
    HDC mem = CreateCompatibleDC(dc);
    UniqueBitmap bmp(CreateCompatibleBitmap(dc, client.right, client.bottom));
    {
        SelectedObject useBmp(mem, bmp.get());
        UniqueBrush back(CreateSolidBrush(ColorToRGB(Color)));
        FillRect(mem, &client, back.get());
        for (auto& c : components_)
            if (auto* g = dynamic_cast<TGraphicControl*>(c.get()); g && g->Visible)
                g->Paint(mem);
        BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, mem, area.left, area.top, SRCCOPY);
    }
    DeleteDC(mem);
}

void TForm::Paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    PaintScene(dc, ps.rcPaint);
    EndPaint(hwnd_, &ps);
    StartTrace("painted");
}

// The topmost drawn component under the point: the last created wins, as it is drawn last.
TGraphicControl* TForm::ControlAt(int x, int y) const
{
    for (auto it = components_.rbegin(); it != components_.rend(); ++it) {
        auto* g = dynamic_cast<TGraphicControl*>(it->get());
        if (g && g->Visible && g->Enabled && x >= g->Left && x < g->Left + g->Width && y >= g->Top && y < g->Top + g->Height)
            return g;
    }
    return nullptr;
}

void TForm::MouseMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    const int x = static_cast<short>(LOWORD(lParam));
    const int y = static_cast<short>(HIWORD(lParam));
    TShiftState shift = 0;
    if (wParam & MK_SHIFT)
        shift |= ssShift;
    if (wParam & MK_CONTROL)
        shift |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0)
        shift |= ssAlt;
    if (wParam & MK_LBUTTON)
        shift |= ssLeft;
    if (wParam & MK_RBUTTON)
        shift |= ssRight;
    if (wParam & MK_MBUTTON)
        shift |= ssMiddle;

    TGraphicControl* target = captureControl_ ? captureControl_ : ControlAt(x, y);
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        // The control pressed on keeps every move until the button goes up.
        if (target) {
            captureControl_ = target;
            SetCapture(hwnd_);
        }
        break;
    case WM_LBUTTONUP:
        if (captureControl_) {
            captureControl_ = nullptr;
            ReleaseCapture();
        }
        break;
    case WM_MOUSEMOVE:
        if (target)
            target->MouseMove(shift, x - target->Left, y - target->Top);
        break;
    default:
        break;
    }
}

void TForm::FocusFirstControl()
{
    if (focusedControl_ && IsWindow(focusedControl_)) {
        SetFocus(focusedControl_);
        return;
    }
    const auto buttons = TabOrderButtons();
    if (!buttons.empty() && buttons.front()->Handle())
        SetFocus(buttons.front()->Handle());
}

// Tab and the arrow keys walk the buttons in tab order; Enter clicks the focused one. Space is the
// button's own business. Escape does nothing: none of the buttons cancels.
bool TForm::DialogKey(const MSG& msg)
{
    if (msg.message != WM_KEYDOWN)
        return false;
    const bool shift = GetKeyState(VK_SHIFT) < 0, ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
    const auto buttons = TabOrderButtons();
    if (buttons.empty())
        return false;
    HWND focus = GetFocus();
    auto current = std::find_if(buttons.begin(), buttons.end(), [focus](TButton* b) { return b->Handle() == focus; });
    int step = 0;
    switch (msg.wParam) {
    case VK_TAB:
        if (ctrl || alt)
            return false;
        step = shift ? -1 : 1;
        break;
    case VK_RIGHT:
    case VK_DOWN:
        if (alt)
            return false;
        step = 1;
        break;
    case VK_LEFT:
    case VK_UP:
        if (alt)
            return false;
        step = -1;
        break;
    case VK_RETURN:
        if (shift || ctrl || alt || current == buttons.end())
            return false;
        (*current)->Click();
        return true;
    default:
        return false;
    }
    const int n = static_cast<int>(buttons.size());
    int index = current == buttons.end() ? (step > 0 ? -1 : 0) : static_cast<int>(current - buttons.begin());
    index = ((index + step) % n + n) % n;
    SetFocus(buttons[static_cast<size_t>(index)]->Handle());
    return true;
}

LRESULT CALLBACK TForm::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TForm* self;
    if (msg == WM_NCCREATE) {
        self = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    return GuardCallback([&] { return self->WndProc(msg, wParam, lParam); }, LRESULT{0});
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (HandleMessage(msg, wParam, lParam, result))
        return result;
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_PRINTCLIENT: {
        // Themed buttons ask for what lies behind them: the panel, not the key colour.
        RECT client;
        GetClientRect(hwnd_, &client);
        PaintScene(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_SETCURSOR:
        // Over the form's own surface the drawn controls have no cursor of their own, so the
        // form's applies; over the buttons their own (the arrow) shows.
        if (reinterpret_cast<HWND>(wParam) == hwnd_ && LOWORD(lParam) == HTCLIENT && Cursor == crSizeAll) {
            SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
            return TRUE;
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        MouseMessage(msg, wParam, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        captureControl_ = nullptr;
        return 0;
    case WM_CANCELMODE:
        if (captureControl_) {
            captureControl_ = nullptr;
            ReleaseCapture();
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam) {
            for (auto& c : components_)
                if (auto* b = dynamic_cast<TButton*>(c.get()); b && b->Handle() == reinterpret_cast<HWND>(lParam)) {
                    b->Click();
                    return 0;
                }
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            FocusFirstControl();
            return 0;
        } else {
            HWND focus = GetFocus();
            if (focus && GetParent(focus) == hwnd_)
                focusedControl_ = focus;
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    case WM_CLOSE:
        Close();
        return 0;
    case WM_MOVE: {
        RECT rc;
        GetWindowRect(hwnd_, &rc);
        left_ = rc.left;
        top_ = rc.top;
        return 0;
    }
    default:
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}
