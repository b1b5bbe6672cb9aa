#pragma once
// What the Windows-side tests share: polling with a deadline and looking at message boxes from
// another thread, as a user would see them.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Calls `done` until it is true or the deadline passes; pumps this thread's messages meanwhile.
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(10));

struct SeenDialog {
    std::wstring caption;
    std::wstring text;          // the message box's text (static id 65535)
    std::vector<std::wstring> buttons;
    bool hasIcon = false;
};

// Runs on a thread of its own: waits for a dialog with that caption, records it and presses its
// button with the given id.
class DialogWatcher {
public:
    DialogWatcher(std::wstring caption, int buttonId = IDOK);
    ~DialogWatcher();
    // Waits for the watcher to finish; false when no dialog came before the deadline.
    bool Wait();
    const std::vector<SeenDialog>& Seen() const { return seen_; }
    void ExpectCount(int count) { expected_ = count; }

private:
    static DWORD WINAPI Thread(void* self);
    std::wstring caption_;
    int buttonId_;
    int expected_ = 1;
    HANDLE thread_ = nullptr;
    std::vector<SeenDialog> seen_;
    bool ok_ = false;
};

std::wstring WindowText(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
