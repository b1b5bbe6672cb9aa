#include "ui/Forms.h"

#include "ui/Geometry.h"

#include <algorithm>

COLORREF ColorToRGB(TColor color)
{
    if (color & clSystemColor)
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

HFONT TFont::Handle() const
{
    if (!handle_ || madeName_ != Name || madeHeight_ != Height || madeCharset_ != Charset) {
        handle_.reset(CreateFontW(Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, static_cast<BYTE>(Charset),
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                  Name.c_str()));
        if (!handle_)
            throw EOutOfResources(L"Out of system resources");
        madeName_ = Name;
        madeHeight_ = Height;
        madeCharset_ = Charset;
    }
    return handle_.get();
}

// ---------------------------------------------------------------------------------------------
// Layout property plumbing

void TLayoutContext::Fail(const LayoutNode& node, const LayoutProperty& prop, const std::wstring& why) const
{
    throw ELayoutError(L"Window layout, line " + std::to_wstring(prop.line) + L": " + node.className + L" '" + node.name +
                       L"', property '" + prop.name + L"': " + why);
}

void TComponent::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    ctx.Fail(node, prop, L"unknown property");
}

int TComponent::IntValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.value.kind != LayoutValue::Kind::Integer)
        ctx.Fail(node, prop, L"a number was expected");
    return static_cast<int>(prop.value.integer);
}

bool TComponent::BoolValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring v = IdentValue(node, prop, ctx);
    if (v == L"True")
        return true;
    if (v == L"False")
        return false;
    ctx.Fail(node, prop, L"True or False was expected");
}

std::wstring TComponent::StringValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.value.kind != LayoutValue::Kind::String)
        ctx.Fail(node, prop, L"a quoted text was expected");
    return prop.value.text;
}

std::wstring TComponent::IdentValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.value.kind != LayoutValue::Kind::Identifier)
        ctx.Fail(node, prop, L"a name was expected");
    return prop.value.text;
}

namespace {
TColor ColorValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.value.kind == LayoutValue::Kind::Integer && prop.value.integer >= 0 && prop.value.integer <= 0xFFFFFF)
        return static_cast<TColor>(prop.value.integer);
    if (prop.value.kind == LayoutValue::Kind::Identifier) {
        if (prop.value.text == L"clWindowText")
            return clWindowText;
        if (prop.value.text == L"clBlack")
            return clBlack;
    }
    ctx.Fail(node, prop, L"a colour was expected");
}
} // namespace

bool TComponent::SetFontProperty(TFont& font, const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Font.Charset") {
        if (IdentValue(node, prop, ctx) != L"DEFAULT_CHARSET")
            ctx.Fail(node, prop, L"only DEFAULT_CHARSET is known");
        font.Charset = DEFAULT_CHARSET;
    } else if (n == L"Font.Color") {
        font.Color = ColorValue(node, prop, ctx);
    } else if (n == L"Font.Height") {
        font.Height = IntValue(node, prop, ctx);
    } else if (n == L"Font.Name") {
        font.Name = StringValue(node, prop, ctx);
    } else if (n == L"Font.Style") {
        if (prop.value.kind != LayoutValue::Kind::Set || !prop.value.items.empty())
            ctx.Fail(node, prop, L"only the empty style [] is known");
    } else {
        return false;
    }
    return true;
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    Left = left;
    Top = top;
    Width = width;
    Height = height;
}

void TControl::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Left")
        Left = IntValue(node, prop, ctx);
    else if (n == L"Top")
        Top = IntValue(node, prop, ctx);
    else if (n == L"Width")
        Width = IntValue(node, prop, ctx);
    else if (n == L"Height")
        Height = IntValue(node, prop, ctx);
    else if (n == L"Hint")
        Hint = StringValue(node, prop, ctx);
    else if (n == L"ShowHint")
        ShowHint = BoolValue(node, prop, ctx);
    else if (n == L"ParentShowHint")
        ParentShowHint = BoolValue(node, prop, ctx);
    else
        TComponent::SetProperty(node, prop, ctx);
}

// ---------------------------------------------------------------------------------------------
// Graphic controls

void TGraphicControl::MouseMove(TShiftState shift, int x, int y)
{
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
}

void TGraphicControl::Invalidate() const
{
    if (Parent())
        Parent()->InvalidateRect(BoundsRect());
}

void TGraphicControl::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.name == L"OnMouseMove") {
        OnMouseMove = HandlerValue(ctx.handlers.mouseMove, node, prop, ctx);
    } else {
        TControl::SetProperty(node, prop, ctx);
    }
}

void TShape::Paint(HDC dc)
{
    UniquePen pen(CreatePen(PS_SOLID, PenWidth, ColorToRGB(PenColor)));
    UniqueBrush brush(CreateSolidBrush(ColorToRGB(BrushColor)));
    SelectedObject usePen(dc, pen.get());
    SelectedObject useBrush(dc, brush.get());
    const RoundRectShape s = ShapeRoundRect(Width, Height, PenWidth);
    if (RoundRect)
        ::RoundRect(dc, Left + s.rect.left, Top + s.rect.top, Left + s.rect.right, Top + s.rect.bottom, s.ellipse, s.ellipse);
    else
        Rectangle(dc, Left + s.rect.left, Top + s.rect.top, Left + s.rect.right, Top + s.rect.bottom);
}

void TShape::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    if (prop.name == L"Brush.Color") {
        BrushColor = ColorValue(node, prop, ctx);
    } else if (prop.name == L"Shape") {
        const std::wstring v = IdentValue(node, prop, ctx);
        if (v == L"stRoundRect")
            RoundRect = true;
        else if (v == L"stRectangle")
            RoundRect = false;
        else
            ctx.Fail(node, prop, L"unknown shape '" + v + L"'");
    } else {
        TGraphicControl::SetProperty(node, prop, ctx);
    }
}

const TFont& TLabel::EffectiveFont() const
{
    return ParentFont && Parent() ? Parent()->Font : Font;
}

UINT TLabel::DrawFlags() const
{
    return DT_EXPANDTABS | DT_NOCLIP | (ShowAccelChar ? 0u : static_cast<UINT>(DT_NOPREFIX));
}

void TLabel::SetCaption(const std::wstring& text)
{
    if (text == caption_)
        return;
    Invalidate(); // where the old text was
    caption_ = text;
    AdjustBounds();
    Invalidate();
}

void TLabel::AdjustBounds()
{
    if (!AutoSize)
        return;
    ScreenDC screen;
    SelectedObject useFont(screen.get(), EffectiveFont().Handle());
    RECT rc{0, 0, 0, 0};
    // An empty text still takes the height of a line: it is measured as one blank.
    const std::wstring text = caption_.empty() ? std::wstring(L" ") : caption_;
    DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &rc, DrawFlags() | DT_CALCRECT);
    Width = rc.right - rc.left;
    Height = rc.bottom - rc.top;
}

void TLabel::Paint(HDC dc)
{
    ++repaints_;
    SelectedObject useFont(dc, EffectiveFont().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColorToRGB(EffectiveFont().Color));
    RECT rc{Left, Top, Left + Width, Top + Height};
    DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &rc, DrawFlags());
}

void TLabel::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Caption")
        caption_ = StringValue(node, prop, ctx);
    else if (n == L"ParentFont")
        ParentFont = BoolValue(node, prop, ctx);
    else if (n == L"Transparent")
        Transparent = BoolValue(node, prop, ctx);
    else if (!SetFontProperty(Font, node, prop, ctx))
        TGraphicControl::SetProperty(node, prop, ctx);
}

// ---------------------------------------------------------------------------------------------
// Image list

void TImageList::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"ColorDepth") {
        if (IdentValue(node, prop, ctx) != L"cd32Bit")
            ctx.Fail(node, prop, L"only cd32Bit is known");
        ColorDepth32 = true;
    } else if (n == L"Width") {
        ImageWidth = IntValue(node, prop, ctx);
    } else if (n == L"Height") {
        ImageHeight = IntValue(node, prop, ctx);
    } else if (n == L"Left" || n == L"Top") {
        IntValue(node, prop, ctx); // a place in the design tool only
    } else if (n == L"Bitmap.Resource") {
        bitmapResource_ = StringValue(node, prop, ctx);
    } else {
        TComponent::SetProperty(node, prop, ctx);
    }
}

void TImageList::Loaded()
{
    list_.reset(ImageList_Create(ImageWidth, ImageHeight, ColorDepth32 ? ILC_COLOR32 : ILC_COLOR24, 1, 1));
    if (!list_)
        throw EOutOfResources(L"Failed to create image list");
    if (bitmapResource_.empty())
        return;
    UniqueBitmap bmp(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), bitmapResource_.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!bmp)
        throw ELayoutError(L"Window layout: picture '" + bitmapResource_ + L"' is missing");
    if (ImageList_Add(list_.get(), bmp.get(), nullptr) < 0)
        throw ELayoutError(L"Window layout: picture '" + bitmapResource_ + L"' does not fit the image list");
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TButton::Click()
{
    if (OnClick)
        OnClick(this);
}

void TButton::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Caption") {
        Caption = StringValue(node, prop, ctx);
    } else if (n == L"ImageIndex") {
        ImageIndex = IntValue(node, prop, ctx);
    } else if (n == L"Images") {
        const std::wstring target = IdentValue(node, prop, ctx);
        TForm& form = ctx.form;
        // Resolved once every component exists: il1 comes after btn1 in the layout.
        ctx.fixups.push_back([this, &form, target, &node, &prop, &ctx] {
            auto* list = dynamic_cast<TImageList*>(form.FindComponent(target));
            if (!list)
                ctx.Fail(node, prop, L"no image list named '" + target + L"'");
            Images = list;
        });
    } else if (n == L"Style") {
        const std::wstring v = IdentValue(node, prop, ctx);
        if (v == L"bsCommandLink")
            Style = TButtonStyle::bsCommandLink;
        else if (v == L"bsPushButton")
            Style = TButtonStyle::bsPushButton;
        else
            ctx.Fail(node, prop, L"unknown button style '" + v + L"'");
    } else if (n == L"TabOrder") {
        TabOrder = IntValue(node, prop, ctx);
    } else if (n == L"OnClick") {
        OnClick = HandlerValue(ctx.handlers.notify, node, prop, ctx);
    } else {
        TControl::SetProperty(node, prop, ctx);
    }
}

void TButton::CreateHandle(HWND parent, HFONT font)
{
    // Command links exist from Windows 6 on; earlier systems get a push button of the same size.
    commandLink_ = Style == TButtonStyle::bsCommandLink && WindowsVersionAtLeast6();
    const DWORD type = commandLink_ ? BS_COMMANDLINK : BS_PUSHBUTTON;
    hwnd_.reset(CreateWindowExW(0, L"BUTTON", Caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | type, Left, Top, Width, Height,
                                parent, nullptr, GetModuleHandleW(nullptr), nullptr));
    if (!hwnd_)
        throw EOSError(L"Error creating window: " + SystemErrorText(GetLastError()));
    SendMessageW(hwnd_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (Images && ImageIndex == 0) {
        // One picture for every state of the button, shown at its left, no margins.
        BUTTON_IMAGELIST bil{};
        bil.himl = Images->Handle();
        bil.margin = RECT{0, 0, 0, 0};
        bil.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
        SendMessageW(hwnd_.get(), BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&bil));
    }
    SetWindowSubclass(hwnd_.get(), &TButton::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TButton::SetBounds(int left, int top, int width, int height)
{
    TControl::SetBounds(left, top, width, height);
    if (hwnd_)
        SetWindowPos(hwnd_.get(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TButton::SetDefaultLook(bool focused)
{
    DWORD style;
    if (commandLink_)
        style = focused ? BS_DEFCOMMANDLINK : BS_COMMANDLINK;
    else
        style = focused ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    SendMessageW(hwnd_.get(), BM_SETSTYLE, style, TRUE);
}

LRESULT CALLBACK TButton::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref)
{
    auto* self = reinterpret_cast<TButton*>(ref);
    switch (msg) {
    case WM_SETFOCUS:
        // The button with the focus takes the default-button look.
        GuardCallback([&] { self->SetDefaultLook(true); return 0; }, 0);
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    case WM_KILLFOCUS:
        GuardCallback([&] { self->SetDefaultLook(false); return 0; }, 0);
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, &TButton::SubclassProc, 1);
        self->hwnd_.release();
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    default:
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------------
// Timer: a hidden message window of its own, so it ticks before the form has a window.

namespace {
constexpr wchar_t kTimerWindowClass[] = L"TPUtilWindow";
}

TTimer::TTimer(std::wstring name) : TComponent(std::move(name)) {}

TTimer::~TTimer()
{
    if (hwnd_ && running_)
        KillTimer(hwnd_.get(), 1);
}

void TTimer::SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx)
{
    const std::wstring& n = prop.name;
    if (n == L"Interval") {
        Interval = static_cast<UINT>(IntValue(node, prop, ctx));
    } else if (n == L"Enabled") {
        Enabled = BoolValue(node, prop, ctx);
    } else if (n == L"OnTimer") {
        OnTimer = HandlerValue(ctx.handlers.notify, node, prop, ctx);
    } else if (n == L"Left" || n == L"Top") {
        IntValue(node, prop, ctx); // a place in the design tool only
    } else {
        TComponent::SetProperty(node, prop, ctx);
    }
}

void TTimer::Loaded()
{
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    if (!hwnd_) {
        WNDCLASSEXW wc{sizeof(wc)};
        if (!GetClassInfoExW(GetModuleHandleW(nullptr), kTimerWindowClass, &wc)) {
            wc = WNDCLASSEXW{sizeof(wc)};
            wc.lpfnWndProc = &TTimer::WndProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kTimerWindowClass;
            RegisterClassExW(&wc);
        }
        hwnd_.reset(CreateWindowExW(0, kTimerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this));
        if (!hwnd_)
            throw EOutOfResources(L"Not enough timers available");
        SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    if (running_) {
        KillTimer(hwnd_.get(), 1);
        running_ = false;
    }
    if (Enabled && Interval != 0 && OnTimer) {
        if (!SetTimer(hwnd_.get(), 1, Interval, nullptr))
            throw EOutOfResources(L"Not enough timers available");
        running_ = true;
    }
}

LRESULT CALLBACK TTimer::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TTimer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_TIMER:
        if (self && self->OnTimer)
            GuardCallback([&] { self->OnTimer(self); return 0; }, 0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
