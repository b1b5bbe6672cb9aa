#include "ui/Forms.h"

#include "clock/ClockTexts.h"
#include "ui/ErrorText.h"
#include "ui/StartTrace.h"
#include "ui/Text.h"

#include <ole2.h>

#include <optional>

TApplication* Application = nullptr;
TFormatSettings FormatSettings;

namespace {
constexpr wchar_t kApplicationWindowClass[] = L"TApplication";
}

std::wstring SystemErrorText(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    return text;
}

bool WindowsVersionAtLeast6()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#ifdef _MSC_VER
#pragma warning(suppress : 4996) // the major version is all that is asked, and it is reported truthfully
#endif
    if (!GetVersionExW(&info))
        return true;
    return info.dwMajorVersion >= 6;
}

TApplication::TApplication()
{
    Application = this;
    oleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    ReadTimeSeparator(false);

    HINSTANCE inst = GetModuleHandleW(nullptr);
    bigIcon_.reset(static_cast<HICON>(LoadImageW(inst, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    smallIcon_.reset(static_cast<HICON>(LoadImageW(inst, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));

    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = &TApplication::StaticWndProc;
    wc.hInstance = inst;
    wc.hIcon = bigIcon_.get();
    wc.hIconSm = smallIcon_.get();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kApplicationWindowClass;
    RegisterClassExW(&wc);

    // The hidden window that carries the taskbar button: zero size at the centre of the primary
    // screen, so it is never seen itself.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
    title_ = L"Project1";
    hwnd_ = CreateWindowExW(0, kApplicationWindowClass, title_.c_str(), WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            x, y, 0, 0, nullptr, nullptr, inst, this);
    if (hwnd_) {
        HMENU sys = GetSystemMenu(hwnd_, FALSE);
        DeleteMenu(sys, SC_MAXIMIZE, MF_BYCOMMAND);
        DeleteMenu(sys, SC_SIZE, MF_BYCOMMAND);
        DeleteMenu(sys, SC_MOVE, MF_BYCOMMAND);
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    }
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
}

TApplication::~TApplication()
{
    forms_.clear();
    if (oleInitialized_)
        OleUninitialize();
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (Application == this)
        Application = nullptr;
}

void TApplication::Initialize()
{
    // The voice object is created on this thread later: it wants a single-threaded apartment.
    comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
}

void TApplication::SetTitle(const std::wstring& title)
{
    title_ = title;
    if (hwnd_)
        SetWindowTextW(hwnd_, title_.c_str());
}

bool TApplication::CreateFormSteps(TForm* form)
{
    try {
        form->Construct();
    } catch (...) {
        // Without its layout the window cannot exist; the report says why.
        HandleException(std::current_exception());
        forms_.pop_back();
        return false;
    }
    if (form->OnCreate) {
        try {
            form->OnCreate(form);
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
    try {
        form->Handle();
    } catch (...) {
        HandleException(std::current_exception());
        forms_.pop_back();
        return false;
    }
    if (!mainForm_)
        mainForm_ = form;
    return true;
}

void TApplication::Run()
{
    if (!mainForm_)
        return;
    // The launcher's show request: maximised, or the whole application minimised.
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    GetStartupInfoW(&si);
    const WORD show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : static_cast<WORD>(SW_SHOWNORMAL);
    TWindowState state = TWindowState::wsNormal;
    if (show == SW_SHOWMAXIMIZED)
        state = TWindowState::wsMaximized;
    else if (show == SW_SHOWMINNOACTIVE)
        Minimize();
    if (ShowMainForm) {
        mainForm_->Show(state);
        StartTrace("shown");
    }

    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        try {
            if (!PreTranslate(msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
}

bool TApplication::PreTranslate(const MSG& msg)
{
    if (msg.message != WM_KEYDOWN || !msg.hwnd)
        return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    for (auto& f : forms_)
        if (f->HandleAllocated() && f->hwnd_ == root)
            return f->DialogKey(msg);
    return false;
}

void TApplication::Terminate()
{
    PostQuitMessage(0);
}

void TApplication::HandleException(std::exception_ptr e) noexcept
{
    try {
        try {
            std::rethrow_exception(e);
        } catch (const Exception& ex) {
            ShowException(ex.Message());
        } catch (const std::bad_alloc&) {
            ShowException(L"Out of memory");
        } catch (const std::exception& ex) {
            ShowException(Utf8ToWide(ex.what()));
        } catch (...) {
            ShowException(L"Unknown exception");
        }
    } catch (...) {
        // The report itself failed (no memory for the box): nothing sensible is left to do.
    }
}

void TApplication::ShowException(const std::wstring& message)
{
    // End any mouse tracking first, so the box gets the mouse.
    if (HWND capture = GetCapture())
        SendMessageW(capture, WM_CANCELMODE, 0, 0);
    const std::wstring text = ErrorReportText(message);
    HWND owner = GetActiveWindow();
    if (!owner && hwnd_)
        owner = GetLastActivePopup(hwnd_);
    MessageBoxW(owner, text.c_str(), title_.c_str(), MB_ICONERROR);
}

void TApplication::EndProgram()
{
    // Hints off and the forms destroyed: the clock window leaves the screen, then the taskbar
    // button goes with the application window hidden.
    forms_.clear();
    mainForm_ = nullptr;
    if (hwnd_)
        ShowWindow(hwnd_, SW_HIDE);
    // The units end in the reverse order of their start-up.
    for (auto it = unitEnds_.rbegin(); it != unitEnds_.rend(); ++it) {
        try {
            (*it)();
        } catch (...) {
        }
    }
    unitEnds_.clear();
    if (comInitialized_) {
        CoUninitialize();
        comInitialized_ = false;
    }
    if (oleInitialized_) {
        OleUninitialize();
        oleInitialized_ = false;
    }
    if (hwnd_) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    ExitProcess(0);
}

bool TApplication::IsMinimized() const
{
    return hwnd_ && IsIconic(hwnd_);
}

void TApplication::FormVisibilityChanged()
{
    if (!hwnd_ || IsIconic(hwnd_))
        return;
    bool anyShowing = false;
    for (auto& f : forms_)
        anyShowing = anyShowing || f->IsShowing();
    // The taskbar button is there exactly while a form is shown.
    ShowWindow(hwnd_, anyShowing ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void TApplication::Minimize()
{
    if (!hwnd_)
        return;
    // The forms are hidden but remember that they are shown, so a restore brings them back.
    for (auto& f : forms_)
        if (f->IsShowing() && f->HandleAllocated())
            ShowWindow(f->hwnd_, SW_HIDE);
    ShowWindow(hwnd_, SW_MINIMIZE);
}

void TApplication::Restore()
{
    if (!hwnd_)
        return;
    ShowWindow(hwnd_, SW_RESTORE);
    for (auto& f : forms_)
        if (f->IsShowing())
            ShowWindow(f->Handle(), SW_SHOW);
    if (mainForm_ && mainForm_->IsShowing())
        SetForegroundWindow(mainForm_->Handle());
}

void TApplication::ReadTimeSeparator(bool userDefault)
{
    LCID locale = GetThreadLocale();
    if (userDefault) {
        // After a change of the regional settings, the user's defaults are the ones to follow.
        SetThreadLocale(LOCALE_USER_DEFAULT);
        locale = LOCALE_USER_DEFAULT;
    }
    wchar_t buffer[16] = {};
    const int n = GetLocaleInfoW(locale, LOCALE_STIME, buffer, 16);
    std::optional<std::wstring> value;
    if (n > 0)
        value = std::wstring(buffer);
    FormatSettings.TimeSeparator = TimeSeparatorFromLocale(value);
}

LRESULT CALLBACK TApplication::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TApplication* self;
    if (msg == WM_NCCREATE) {
        self = static_cast<TApplication*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<TApplication*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    return GuardCallback([&] { return self->WndProc(msg, wParam, lParam); }, LRESULT{0});
}

LRESULT TApplication::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
        ReadTimeSeparator(true);
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
    switch (msg) {
    case WM_CLOSE:
        // Closing from the taskbar button is a close request of the main form.
        if (mainForm_)
            mainForm_->Close();
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            Minimize();
            return 0;
        case SC_RESTORE:
            Restore();
            return 0;
        default:
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
        }
    case WM_ACTIVATE:
        // The application window never keeps the activation: the clock window takes it.
        if (LOWORD(wParam) != WA_INACTIVE && mainForm_ && mainForm_->IsShowing() && !IsIconic(hwnd_))
            SetActiveWindow(mainForm_->Handle());
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shutdown: the program ends at once, without a close request.
        if (wParam)
            EndProgram();
        return 0;
    case WM_SETTINGCHANGE:
        ReadTimeSeparator(true);
        return 0;
    default:
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}
