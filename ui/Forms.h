#pragma once
// The least window layer the clock needs, named after the framework the program was designed on:
// an application object with its hidden taskbar window and error report, a form, and the handful of
// components the layout uses. Win32 only.
#include "ui/Exceptions.h"
#include "ui/Geometry.h"
#include "ui/Handles.h"
#include "ui/Layout.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TForm;
class TApplication;

class TObject {
public:
    virtual ~TObject() = default;
};

// Modifier keys and mouse buttons held during a mouse event, one bit each.
using TShiftState = unsigned;
enum : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

using TNotifyEvent = std::function<void(TObject* sender)>;
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

// A colour is an RGB value (red in the low byte) or, with the top byte set, a system colour index.
using TColor = std::uint32_t;
constexpr TColor clSystemColor = 0xFF000000u;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBlack = 0x000000;
COLORREF ColorToRGB(TColor color);

enum TCursor : int { crDefault = 0, crArrow = -2, crSizeAll = -22 };

// Handlers a form offers to its layout, by name.
struct THandlerTable {
    std::map<std::wstring, TNotifyEvent> notify;
    std::map<std::wstring, TCloseEvent> close;
    std::map<std::wstring, TMouseMoveEvent> mouseMove;
};

class TFont {
public:
    std::wstring Name = L"Tahoma";
    int Height = -11;
    TColor Color = clWindowText;
    int Charset = DEFAULT_CHARSET;
    bool operator==(const TFont& o) const { return Name == o.Name && Height == o.Height && Color == o.Color && Charset == o.Charset; }
    HFONT Handle() const; // created on first use, re-created after a change

private:
    mutable UniqueFont handle_;
    mutable std::wstring madeName_;
    mutable int madeHeight_ = 0;
    mutable int madeCharset_ = -1;
};

// Context handed to components while the layout is applied.
struct TLayoutContext {
    TForm& form;
    const THandlerTable& handlers;
    std::vector<std::function<void()>> fixups; // references to components resolved once all exist
    [[noreturn]] void Fail(const LayoutNode& node, const LayoutProperty& prop, const std::wstring& why) const;
};

class TComponent : public TObject {
public:
    explicit TComponent(std::wstring name) : name_(std::move(name)) {}
    const std::wstring& Name() const { return name_; }
    // Applies one layout property; an unknown name or a value of the wrong kind fails the load.
    virtual void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    // All components exist and all references are resolved.
    virtual void Loaded() {}

protected:
    static int IntValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    static bool BoolValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    static std::wstring StringValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    static std::wstring IdentValue(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    static bool SetFontProperty(TFont& font, const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx);
    // The handler the property names, from one table of the form's handlers; an unknown name
    // fails the load.
    template <typename Table>
    static typename Table::mapped_type HandlerValue(const Table& table, const LayoutNode& node, const LayoutProperty& prop,
                                                    TLayoutContext& ctx)
    {
        const std::wstring name = IdentValue(node, prop, ctx);
        auto it = table.find(name);
        if (it == table.end())
            ctx.Fail(node, prop, L"no handler named '" + name + L"'");
        return it->second;
    }

private:
    std::wstring name_;
};

class TControl : public TComponent {
public:
    using TComponent::TComponent;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    TCursor Cursor = crDefault;
    std::wstring Hint;
    bool ShowHint = false;
    bool ParentShowHint = true;
    bool Visible = true;
    bool Enabled = true;
    Rect BoundsRect() const { return {Left, Top, Left + Width, Top + Height}; }
    virtual void SetBounds(int left, int top, int width, int height);
    TForm* Parent() const { return parent_; }
    void SetParent(TForm* parent) { parent_ = parent; }
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;

private:
    TForm* parent_ = nullptr;
};

// A control without a window of its own: the form paints it and routes mouse input to it.
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
    TMouseMoveEvent OnMouseMove;
    virtual void Paint(HDC dc) = 0;
    virtual void MouseMove(TShiftState shift, int x, int y);
    void Invalidate() const;
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
};

class TShape : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    TColor BrushColor = 0xFFFFFF;
    TColor PenColor = clBlack;
    int PenWidth = 1;
    bool RoundRect = false;
    void Paint(HDC dc) override;
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
};

class TLabel : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    bool ParentFont = true;
    bool Transparent = false;
    bool ShowAccelChar = true;
    bool AutoSize = true;
    TFont Font;
    const std::wstring& Caption() const { return caption_; }
    // Repaints and re-measures only when the text really changes.
    void SetCaption(const std::wstring& text);
    // Takes the size of the text in the label's font; left and top stay.
    void AdjustBounds();
    const TFont& EffectiveFont() const;
    void Paint(HDC dc) override;
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
    int RepaintCount() const { return repaints_; }

private:
    std::wstring caption_;
    UINT DrawFlags() const;
    int repaints_ = 0;
};

class TImageList : public TComponent {
public:
    using TComponent::TComponent;
    int ImageWidth = 16, ImageHeight = 16;
    bool ColorDepth32 = false;
    HIMAGELIST Handle() const { return list_.get(); }
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
    void Loaded() override;

private:
    std::wstring bitmapResource_;
    UniqueImageList list_;
};

enum class TButtonStyle { bsPushButton, bsCommandLink };

class TButton : public TControl {
public:
    using TControl::TControl;
    std::wstring Caption;
    int ImageIndex = -1;
    TImageList* Images = nullptr;
    TButtonStyle Style = TButtonStyle::bsPushButton;
    int TabOrder = 0;
    TNotifyEvent OnClick;
    // The click itself, as a press of the button would make it: focus and look are left alone.
    void Click();
    HWND Handle() const { return hwnd_.get(); }
    void CreateHandle(HWND parent, HFONT font);
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
    void SetBounds(int left, int top, int width, int height) override;
    bool IsCommandLink() const { return commandLink_; }

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void SetDefaultLook(bool focused);
    UniqueWindow hwnd_;
    bool commandLink_ = false;
};

class TTimer : public TComponent {
public:
    explicit TTimer(std::wstring name);
    ~TTimer() override;
    UINT Interval = 1000;
    bool Enabled = true;
    TNotifyEvent OnTimer;
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;
    void Loaded() override;

private:
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    void UpdateTimer();
    UniqueWindow hwnd_;
    bool running_ = false;
};

enum class TWindowState { wsNormal, wsMaximized };

class TForm : public TComponent {
public:
    TForm(std::wstring name, std::wstring className, std::wstring layoutResource);
    ~TForm() override;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    // Loads the layout, scales it for the screen and measures the labels. Throws, leaving nothing
    // half-applied, when the layout names something unknown.
    void Construct();
    // The native window, created on first use.
    HWND Handle();
    bool HandleAllocated() const { return hwnd_ != nullptr; }
    void Show(TWindowState state = TWindowState::wsNormal);
    void Hide();
    bool IsShowing() const { return showing_; }
    // The close request: OnClose, then the end of the application when this is the main form.
    void Close();

    int Left() const { return left_; }
    int Top() const { return top_; }
    void SetLeft(int left);
    void SetTop(int top);
    int ClientWidth = 0, ClientHeight = 0;
    TColor Color = 0xF0F0F0;
    TCursor Cursor = crDefault;
    bool AlphaBlend = false;
    int AlphaBlendValue = 255;
    bool TransparentColor = false;
    TColor TransparentColorValue = 0;
    bool BorderNone = false;
    std::wstring Caption;
    TFont Font;
    int PixelsPerInch = 96;
    int TextHeight = 13;
    TNotifyEvent OnCreate;
    TCloseEvent OnClose;

    TComponent* FindComponent(std::wstring_view name) const;
    template <typename T>
    T* Component(std::wstring_view name) const
    {
        auto* c = dynamic_cast<T*>(FindComponent(name));
        if (!c)
            throw ELayoutError(L"Component '" + std::wstring(name) + L"' is missing from the window layout");
        return c;
    }
    const std::vector<std::unique_ptr<TComponent>>& Components() const { return components_; }
    void InvalidateRect(const Rect& r);
    void SetProperty(const LayoutNode& node, const LayoutProperty& prop, TLayoutContext& ctx) override;

protected:
    // The layout text; by default the RCDATA resource named at construction.
    virtual std::string LayoutText() const;
    // Handlers the layout may bind, by name.
    virtual void RegisterHandlers(THandlerTable& table) = 0;
    // Messages the form class handles itself; return true when handled.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    friend class TApplication;
    static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateHandle();
    void MoveTo(int left, int top);
    void ApplyLayeredAttributes();
    void ScaleForScreen();
    void Paint();
    void PaintScene(HDC dc, const RECT& area);
    TGraphicControl* ControlAt(int x, int y) const;
    void MouseMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    std::vector<TButton*> TabOrderButtons() const;
    bool DialogKey(const MSG& msg);
    void FocusFirstControl();

    std::wstring className_;
    std::wstring layoutResource_;
    std::vector<std::unique_ptr<TComponent>> components_;
    HWND hwnd_ = nullptr;
    int left_ = 0, top_ = 0;
    bool showing_ = false;
    TGraphicControl* captureControl_ = nullptr;
    HWND focusedControl_ = nullptr;
    UniqueWindow tooltip_;
    UniqueIcon bigIcon_, smallIcon_;
    std::wstring iconResource_;
};

// The time separator of the user's regional settings, re-read when they change.
struct TFormatSettings {
    std::wstring TimeSeparator = L":";
};
extern TFormatSettings FormatSettings;

class TApplication {
public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    void Initialize();
    bool MainFormOnTaskBar = false;
    bool ShowMainForm = true;
    void SetTitle(const std::wstring& title);
    const std::wstring& Title() const { return title_; }
    HWND Handle() const { return hwnd_; }
    TForm* MainForm() const { return mainForm_; }

    // Creates a form: its object is allocated and stored in `ref` before its layout loads.
    template <typename T>
    void CreateForm(T*& ref)
    {
        auto form = std::make_unique<T>();
        ref = form.get();
        TForm* raw = form.get();
        forms_.push_back(std::move(form));
        if (!CreateFormSteps(raw))
            ref = nullptr;
    }

    void Run();
    void Terminate();
    // The error report: whatever escaped a handler is shown, and the caller carries on.
    void HandleException(std::exception_ptr e) noexcept;
    void ShowException(const std::wstring& message);
    // Work for the end of the program, registered by the units in start-up order.
    void AddUnitEnd(std::function<void()> end) { unitEnds_.push_back(std::move(end)); }
    // The end of the program: forms destroyed, units ended, COM and OLE shut down, exit code 0.
    [[noreturn]] void EndProgram();

    void FormVisibilityChanged();
    bool IsMinimized() const;

private:
    static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    bool CreateFormSteps(TForm* form);
    void Minimize();
    void Restore();
    void ReadTimeSeparator(bool userDefault);
    bool PreTranslate(const MSG& msg);

    HWND hwnd_ = nullptr;
    std::wstring title_;
    TForm* mainForm_ = nullptr;
    std::vector<std::unique_ptr<TForm>> forms_;
    std::vector<std::function<void()>> unitEnds_;
    bool oleInitialized_ = false;
    bool comInitialized_ = false;
    UINT taskbarCreated_ = 0;
    UniqueIcon bigIcon_, smallIcon_;
};

extern TApplication* Application;

// Every entry from Win32 into the program goes through this: nothing escapes a callback.
template <typename F>
auto GuardCallback(F&& f, decltype(f()) onError) noexcept -> decltype(f())
{
    try {
        return f();
    } catch (...) {
        if (Application)
            Application->HandleException(std::current_exception());
        return onError;
    }
}

// The system's description of a Win32 or COM error code, or empty.
std::wstring SystemErrorText(DWORD code);
bool WindowsVersionAtLeast6();
