#include "tests/win/WinTestSupport.h"

#include <thread>

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t buf[1024] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

DialogWatcher::DialogWatcher(std::wstring caption, int buttonId) : caption_(std::move(caption)), buttonId_(buttonId)
{
    thread_ = CreateThread(nullptr, 0, &DialogWatcher::Thread, this, 0, nullptr);
}

DialogWatcher::~DialogWatcher()
{
    if (thread_) {
        WaitForSingleObject(thread_, 20000);
        CloseHandle(thread_);
    }
}

bool DialogWatcher::Wait()
{
    if (thread_) {
        WaitForSingleObject(thread_, 20000);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return ok_;
}

namespace {
BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* d = reinterpret_cast<SeenDialog*>(param);
    const std::wstring cls = ClassOf(child);
    if (cls == L"Button")
        d->buttons.push_back(WindowText(child));
    if (cls == L"Static") {
        if (GetDlgCtrlID(child) == 0xFFFF)
            d->text = WindowText(child);
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && SendMessageW(child, STM_GETICON, 0, 0))
            d->hasIcon = true;
    }
    return TRUE;
}
} // namespace

DWORD WINAPI DialogWatcher::Thread(void* param)
{
    auto* self = static_cast<DialogWatcher*>(param);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    HWND last = nullptr;
    while (static_cast<int>(self->seen_.size()) < self->expected_ && std::chrono::steady_clock::now() < end) {
        HWND box = FindWindowW(L"#32770", self->caption_.c_str());
        if (box && box != last && IsWindowVisible(box)) {
            SeenDialog d;
            d.caption = WindowText(box);
            EnumChildWindows(box, &CollectChild, reinterpret_cast<LPARAM>(&d));
            self->seen_.push_back(d);
            last = box;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(self->buttonId_, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, self->buttonId_)));
            // The box must go before the next one counts.
            while (IsWindow(box) && std::chrono::steady_clock::now() < end)
                Sleep(5);
        }
        Sleep(10);
    }
    self->ok_ = static_cast<int>(self->seen_.size()) == self->expected_;
    return 0;
}
