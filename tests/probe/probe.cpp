// probe: a small Win32 helper that end-to-end tests run in the same Wine prefix as the clock,
// to observe its windows and to drive it from "another application".
//
// One command per line on stdin, one JSON line per answer on stdout (UTF-8, flushed at once);
// or one command from the command line. Every answer has "ok"; a failed one has "error".
// Window handles are decimal integers. The main thread pumps messages between commands, so
// the probe's own focus window never looks hung to the system.
//
//   windows [PID]            top-level windows in Z order (of one process)
//   children HWND            child windows, with the focus of their thread
//   post|send HWND MSG WPARAM LPARAM [TIMEOUT_MS]
//   keys COMBO...            SendInput, e.g. alt+a, shift+tab, return ("sent_us": send time,
//                            microseconds since the Unix epoch, as the recording voice logs)
//   focuskeys COMBO...       the same with a window of the probe's own in the foreground
//   click HWND               BM_CLICK, posted
//   gettext HWND [TIMEOUT_MS]
//   cursor X Y [IDC_NAME [TIMEOUT_MS]]   showcursor IDC_NAME [X Y]
//   dialogs [PID]   tooltips [all]   foreground   guiresources PID   timeformat
//   sysmenu HWND   fontcheck [HEIGHT [FACE]]   glyphcheck TEXT   screen   hittest X Y
//   textink HEIGHT FACE TEXT (ink of TEXT as a label draws it)
//   procs   ping (pid and local time)   quit

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Text and JSON

std::string to_utf8(std::wstring_view w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring to_wide(std::string_view s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

class Json {
public:
    Json& obj() { sep(); out_ += '{'; first_ = true; return *this; }
    Json& end_obj() { out_ += '}'; first_ = false; return *this; }
    Json& arr() { sep(); out_ += '['; first_ = true; return *this; }
    Json& end_arr() { out_ += ']'; first_ = false; return *this; }
    Json& key(std::string_view k) { sep(); quote(k); out_ += ':'; first_ = true; return *this; }
    Json& str(std::string_view v) { sep(); quote(v); return *this; }
    Json& str(std::wstring_view v) { return str(to_utf8(v)); }
    Json& num(long long v) { sep(); out_ += std::to_string(v); return *this; }
    Json& unum(unsigned long long v) { sep(); out_ += std::to_string(v); return *this; }
    Json& boolean(bool v) { sep(); out_ += v ? "true" : "false"; return *this; }
    Json& null() { sep(); out_ += "null"; return *this; }
    Json& hwnd(HWND h) { return num(static_cast<long long>(reinterpret_cast<intptr_t>(h))); }
    Json& rect(const RECT& r) { arr().num(r.left).num(r.top).num(r.right).num(r.bottom); return end_arr(); }

    template <class V> Json& field(std::string_view k, V v) { key(k); return put(v); }
    Json& field_hwnd(std::string_view k, HWND h) { key(k); return hwnd(h); }

    const std::string& text() const { return out_; }

private:
    Json& put(bool v) { return boolean(v); }
    Json& put(int v) { return num(v); }
    Json& put(long v) { return num(v); }
    Json& put(long long v) { return num(v); }
    Json& put(unsigned v) { return unum(v); }
    Json& put(unsigned long v) { return unum(v); }
    Json& put(unsigned long long v) { return unum(v); }
    Json& put(const char* v) { return str(std::string_view(v)); }
    Json& put(const wchar_t* v) { return str(std::wstring_view(v)); }
    Json& put(const std::string& v) { return str(std::string_view(v)); }
    Json& put(const std::wstring& v) { return str(std::wstring_view(v)); }

    void sep() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    void quote(std::string_view s) {
        out_ += '"';
        for (const char c : s) {
            const auto u = static_cast<unsigned char>(c);
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", u);
                    out_ += buf;
                } else {
                    out_ += c;  // UTF-8 passes through as is
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Small owners and window facts

struct DcOwner {
    HDC dc;
    explicit DcOwner(HDC d) : dc(d) {}
    ~DcOwner() { if (dc) DeleteDC(dc); }
    DcOwner(const DcOwner&) = delete;
    DcOwner& operator=(const DcOwner&) = delete;
};
struct GdiOwner {
    HGDIOBJ obj;
    explicit GdiOwner(HGDIOBJ o) : obj(o) {}
    ~GdiOwner() { if (obj) DeleteObject(obj); }
    GdiOwner(const GdiOwner&) = delete;
    GdiOwner& operator=(const GdiOwner&) = delete;
};
struct HandleOwner {
    HANDLE h;
    explicit HandleOwner(HANDLE x) : h(x) {}
    ~HandleOwner() { if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
};
struct Selected {
    HDC dc;
    HGDIOBJ old;
    Selected(HDC d, HGDIOBJ o) : dc(d), old(SelectObject(d, o)) {}
    ~Selected() { SelectObject(dc, old); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
};

std::wstring class_of(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

// GetWindowTextW does not send WM_GETTEXT to another process's window: it reads the caption
// the system keeps, so it never blocks on a busy target.
std::wstring caption_of(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring s(static_cast<size_t>(std::max(n, 0)) + 1, L'\0');
    const int got = GetWindowTextW(h, s.data(), static_cast<int>(s.size()));
    s.resize(static_cast<size_t>(std::max(got, 0)));
    return s;
}

struct SentText {
    bool timed_out = false;
    std::wstring text;
};

SentText sent_text(HWND h, UINT timeout_ms) {
    SentText out;
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeout_ms, &len)) {
        out.timed_out = true;
        return out;
    }
    std::wstring buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_NORMAL,
                             timeout_ms, &got)) {
        out.timed_out = true;
        return out;
    }
    buf.resize(std::min<size_t>(got, len));
    out.text = buf;
    return out;
}

DWORD pid_of(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

std::vector<HWND> top_level_windows() {
    std::vector<HWND> out;
    EnumWindows([](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&out));
    return out;
}

std::vector<HWND> child_windows(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND focus_of_thread(HWND h) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti)) return nullptr;
    return gti.hwndFocus;
}

bool same_class(HWND h, const wchar_t* name) { return _wcsicmp(class_of(h).c_str(), name) == 0; }

// ---------------------------------------------------------------------------------------------
// Arguments

struct Args {
    std::vector<std::string> words;  // words after the command name
    std::string rest;                // the line after the command name, as typed
};

long long to_int(const std::string& s, const char* what) {
    try {
        size_t used = 0;
        const long long v = std::stoll(s, &used, 0);
        if (used == s.size()) return v;
    } catch (const std::exception&) {
        // falls through to the clearer message below
    }
    try {  // values above LLONG_MAX, e.g. 0xFFFFFFFFFFFFFFFF
        size_t used = 0;
        const unsigned long long v = std::stoull(s, &used, 0);
        if (used == s.size()) return static_cast<long long>(v);
    } catch (const std::exception&) {
    }
    throw Failure(std::string("bad ") + what + ": " + s);
}

const std::string& need(const Args& a, size_t i, const char* what) {
    if (i >= a.words.size()) throw Failure(std::string("missing ") + what);
    return a.words[i];
}

HWND to_hwnd(const std::string& s) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(to_int(s, "hwnd")));
}

HWND need_window(const Args& a, size_t i) {
    HWND h = to_hwnd(need(a, i, "hwnd"));
    if (!IsWindow(h)) throw Failure("no such window: " + a.words[i]);
    return h;
}

// ---------------------------------------------------------------------------------------------
// Message pumping: the probe's own window must keep answering while a command waits.

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Polls `done` until it holds or `ms` have passed, serving messages in between.
bool pump_until(DWORD ms, const std::function<bool()>& done) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        pump();
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------------------------------------
// Keys

struct KeyStroke {
    std::vector<WORD> modifiers;
    WORD key = 0;
};

WORD vk_of(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    if (name.size() == 1) {
        const char c = name[0];
        if (c >= 'a' && c <= 'z') return static_cast<WORD>(c - 'a' + 'A');
        if (c >= '0' && c <= '9') return static_cast<WORD>(c);
    }
    static const std::map<std::string, WORD> named = {
        {"tab", VK_TAB},         {"space", VK_SPACE},       {"return", VK_RETURN},  {"enter", VK_RETURN},
        {"escape", VK_ESCAPE},   {"esc", VK_ESCAPE},        {"backspace", VK_BACK}, {"delete", VK_DELETE},
        {"insert", VK_INSERT},   {"home", VK_HOME},         {"end", VK_END},        {"pageup", VK_PRIOR},
        {"pagedown", VK_NEXT},   {"left", VK_LEFT},         {"right", VK_RIGHT},    {"up", VK_UP},
        {"down", VK_DOWN},       {"alt", VK_MENU},          {"shift", VK_SHIFT},    {"ctrl", VK_CONTROL},
        {"control", VK_CONTROL}, {"win", VK_LWIN},          {"apps", VK_APPS},      {"f1", VK_F1},
        {"f2", VK_F2},           {"f3", VK_F3},             {"f4", VK_F4},          {"f5", VK_F5},
        {"f6", VK_F6},           {"f7", VK_F7},             {"f8", VK_F8},          {"f9", VK_F9},
        {"f10", VK_F10},         {"f11", VK_F11},           {"f12", VK_F12},
    };
    const auto it = named.find(name);
    if (it == named.end()) throw Failure("unknown key: " + name);
    return it->second;
}

bool is_modifier(WORD vk) { return vk == VK_MENU || vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_LWIN; }

// "alt+shift+a": everything before the last "+" is a modifier.
KeyStroke parse_stroke(const std::string& combo) {
    KeyStroke k;
    size_t start = 0;
    for (;;) {
        const size_t plus = combo.find('+', start);
        const std::string part = combo.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        if (part.empty()) throw Failure("bad key combination: " + combo);
        if (plus == std::string::npos) {
            k.key = vk_of(part);
            break;
        }
        const WORD m = vk_of(part);
        if (!is_modifier(m)) throw Failure("not a modifier: " + part);
        k.modifiers.push_back(m);
        start = plus + 1;
    }
    return k;
}

bool is_extended(WORD vk) {
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
    case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE: case VK_LWIN: case VK_APPS:
        return true;
    default:
        return false;
    }
}

INPUT key_input(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (is_extended(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

// Modifiers pressed, the key pressed and released, modifiers released (last pressed first).
std::vector<INPUT> inputs_for(const std::vector<std::string>& combos) {
    if (combos.empty()) throw Failure("missing keys");
    std::vector<INPUT> ins;
    for (const auto& combo : combos) {
        const KeyStroke k = parse_stroke(combo);
        for (const WORD m : k.modifiers) ins.push_back(key_input(m, false));
        ins.push_back(key_input(k.key, false));
        ins.push_back(key_input(k.key, true));
        for (auto it = k.modifiers.rbegin(); it != k.modifiers.rend(); ++it) ins.push_back(key_input(*it, true));
    }
    return ins;
}

// Microseconds since the Unix epoch, on the clock the recording voice stamps its log with, so a
// key's send time and the Speak it causes can be subtracted.
long long unix_microseconds() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>(ticks / 10 - 11644473600ULL * 1000000ULL);
}

UINT send_inputs(std::vector<INPUT>& ins) {
    const UINT sent = SendInput(static_cast<UINT>(ins.size()), ins.data(), sizeof(INPUT));
    if (sent != ins.size()) throw Failure("SendInput sent " + std::to_string(sent) + " of " + std::to_string(ins.size()));
    return sent;
}

// ---------------------------------------------------------------------------------------------
// The probe's own focus window ("any application has the focus")

struct FocusWindow {
    HWND hwnd = nullptr;
    std::vector<std::string> received;  // key messages it got, e.g. "sysdown:18"
};
FocusWindow g_focus;

LRESULT CALLBACK focus_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    const auto note = [&](const char* what) {
        g_focus.received.push_back(std::string(what) + ":" + std::to_string(static_cast<unsigned>(wp)));
    };
    switch (msg) {
    case WM_KEYDOWN: note("down"); return 0;
    case WM_KEYUP: note("up"); return 0;
    // The system variants are kept from DefWindowProc: a lone Alt would enter menu mode.
    case WM_SYSKEYDOWN: note("sysdown"); return 0;
    case WM_SYSKEYUP: note("sysup"); return 0;
    case WM_CHAR: note("char"); return 0;
    case WM_SYSCHAR: note("syschar"); return 0;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_KEYMENU) return 0;
        return DefWindowProcW(h, msg, wp, lp);
    default:
        return DefWindowProcW(h, msg, wp, lp);
    }
}

// The probe's window that shows one standard cursor ("which X cursor is IDC_HAND?").
struct CursorWindow {
    HWND hwnd = nullptr;
    HCURSOR cursor = nullptr;
};
CursorWindow g_cursor;

LRESULT CALLBACK cursor_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SETCURSOR) {
        SetCursor(g_cursor.cursor);
        return TRUE;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

// The probe's own windows live until the next command.
void drop_own_windows() {
    for (HWND* h : {&g_focus.hwnd, &g_cursor.hwnd}) {
        if (*h) {
            DestroyWindow(*h);
            *h = nullptr;
        }
    }
    pump();
    g_focus.received.clear();
}

HWND make_focus_window() {
    static const wchar_t* kClass = L"QuenletProbeFocus";
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = focus_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClass;
        if (!RegisterClassW(&wc)) throw Failure("RegisterClassW failed");
        registered = true;
    }
    // Bottom right, out of the way of the clock's usual place.
    const int w = 200, hgt = 80;
    const int x = GetSystemMetrics(SM_CXSCREEN) - w - 10, y = GetSystemMetrics(SM_CYSCREEN) - hgt - 40;
    HWND h = CreateWindowExW(0, kClass, L"probe focus", WS_OVERLAPPED | WS_CAPTION, x, y, w, hgt, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!h) throw Failure("CreateWindowExW failed");
    ShowWindow(h, SW_SHOWNORMAL);
    return h;
}

// ---------------------------------------------------------------------------------------------
// Commands

using Handler = std::function<void(const Args&, Json&)>;

void describe_top(HWND h, Json& j) {
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    const LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(h, &pid);
    RECT r{}, c{};
    GetWindowRect(h, &r);
    GetClientRect(h, &c);
    j.obj();
    j.field_hwnd("hwnd", h).field("pid", pid).field("tid", tid);
    j.field("class", class_of(h)).field("title", caption_of(h));
    j.key("rect").rect(r);
    j.key("client").arr().num(c.right - c.left).num(c.bottom - c.top).end_arr();
    j.field("style", static_cast<unsigned long>(static_cast<DWORD>(style)));
    j.field("exstyle", static_cast<unsigned long>(static_cast<DWORD>(ex)));
    j.field_hwnd("owner", GetWindow(h, GW_OWNER));
    j.field("visible", IsWindowVisible(h) != FALSE).field("iconic", IsIconic(h) != FALSE);
    j.field("topmost", (ex & WS_EX_TOPMOST) != 0).field("enabled", IsWindowEnabled(h) != FALSE);
    j.key("layered");
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    if ((ex & WS_EX_LAYERED) && GetLayeredWindowAttributes(h, &key, &alpha, &flags)) {
        j.obj().field("key", static_cast<unsigned long>(key));
        j.key("key_rgb").arr().num(GetRValue(key)).num(GetGValue(key)).num(GetBValue(key)).end_arr();
        j.field("alpha", static_cast<int>(alpha)).field("flags", flags).end_obj();
    } else {
        j.null();
    }
    j.end_obj();
}

void cmd_windows(const Args& a, Json& j) {
    const bool filter = !a.words.empty();
    const DWORD pid = filter ? static_cast<DWORD>(to_int(a.words[0], "pid")) : 0;
    j.key("windows").arr();  // in Z order, topmost first
    for (HWND h : top_level_windows())
        if (!filter || pid_of(h) == pid) describe_top(h, j);
    j.end_arr();
}

void cmd_children(const Args& a, Json& j) {
    HWND parent = need_window(a, 0);
    const HWND focus = focus_of_thread(parent);
    j.key("children").arr();
    for (HWND h : child_windows(parent)) {
        RECT r{};
        GetWindowRect(h, &r);
        j.obj().field_hwnd("hwnd", h).field_hwnd("parent", GetAncestor(h, GA_PARENT));
        j.field("class", class_of(h)).field("text", caption_of(h)).field("id", GetDlgCtrlID(h));
        j.key("rect").rect(r);
        j.field("style", static_cast<unsigned long>(static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE))));
        j.field("visible", IsWindowVisible(h) != FALSE).field("enabled", IsWindowEnabled(h) != FALSE);
        j.field("focused", h == focus).end_obj();
    }
    j.end_arr();
}

void cmd_post(const Args& a, Json& j) {
    HWND h = to_hwnd(need(a, 0, "hwnd"));
    const UINT msg = static_cast<UINT>(to_int(need(a, 1, "msg"), "msg"));
    const WPARAM wp = static_cast<WPARAM>(to_int(need(a, 2, "wparam"), "wparam"));
    const LPARAM lp = static_cast<LPARAM>(to_int(need(a, 3, "lparam"), "lparam"));
    if (!PostMessageW(h, msg, wp, lp)) throw Failure("PostMessageW failed, error " + std::to_string(GetLastError()));
    j.field("posted", true);
}

void cmd_send(const Args& a, Json& j) {
    HWND h = need_window(a, 0);
    const UINT msg = static_cast<UINT>(to_int(need(a, 1, "msg"), "msg"));
    const WPARAM wp = static_cast<WPARAM>(to_int(need(a, 2, "wparam"), "wparam"));
    const LPARAM lp = static_cast<LPARAM>(to_int(need(a, 3, "lparam"), "lparam"));
    const UINT timeout = a.words.size() > 4 ? static_cast<UINT>(to_int(a.words[4], "timeout")) : 5000;
    DWORD_PTR result = 0;
    const LRESULT done = SendMessageTimeoutW(h, msg, wp, lp, SMTO_NORMAL, timeout, &result);
    // HACK: Wine 8 can leave a stale GetLastError after success, so only the return value is
    // trusted; a zero return on a live window is taken as the timeout.
    j.field("timed_out", done == 0 && IsWindow(h) != FALSE);
    j.field("result", static_cast<long long>(static_cast<LONG_PTR>(result)));
}

void cmd_keys(const Args& a, Json& j) {
    auto ins = inputs_for(a.words);
    j.field("sent_us", unix_microseconds());  // taken just before the keys go out
    j.field("sent", send_inputs(ins));
    j.field_hwnd("foreground", GetForegroundWindow());
}

void cmd_focuskeys(const Args& a, Json& j) {
    auto ins = inputs_for(a.words);
    HWND h = make_focus_window();
    g_focus.hwnd = h;
    SetForegroundWindow(h);
    SetFocus(h);
    const bool focused = pump_until(5000, [h] { return GetForegroundWindow() == h && GetFocus() == h; });
    if (!focused) {
        throw Failure("probe focus window did not get the focus (foreground " +
                      std::to_string(reinterpret_cast<intptr_t>(GetForegroundWindow())) + ")");
    }
    j.field_hwnd("focus_hwnd", h);
    j.field("sent_us", unix_microseconds());  // taken just before the keys go out
    j.field("sent", send_inputs(ins));
    // Wait until the last release has reached the focus window (or would have: a hot key eats
    // its own key press, never the modifiers' release).
    const WORD last = ins.back().ki.wVk;
    std::string up(":");
    up += std::to_string(last);
    const bool delivered = pump_until(2000, [&] {
        return std::any_of(g_focus.received.begin(), g_focus.received.end(), [&](const std::string& s) {
            return (s.rfind("up:", 0) == 0 || s.rfind("sysup:", 0) == 0) && s.substr(s.find(':')) == up;
        });
    });
    j.field("delivered", delivered);
    j.key("received").arr();
    for (const auto& s : g_focus.received) j.str(std::string_view(s));
    j.end_arr();
    j.field_hwnd("foreground", GetForegroundWindow());
}

void cmd_click(const Args& a, Json& j) {
    HWND h = need_window(a, 0);
    if (!PostMessageW(h, BM_CLICK, 0, 0)) throw Failure("PostMessageW(BM_CLICK) failed");
    j.field("posted", true);
}

void cmd_gettext(const Args& a, Json& j) {
    HWND h = need_window(a, 0);
    const UINT timeout = a.words.size() > 1 ? static_cast<UINT>(to_int(a.words[1], "timeout")) : 2000;
    const SentText t = sent_text(h, timeout);
    j.field("timed_out", t.timed_out).field("text", t.text);
}

struct StandardCursor {
    LPCWSTR id;
    const wchar_t* name;
};

const StandardCursor kCursors[] = {
        {IDC_ARROW, L"IDC_ARROW"},       {IDC_IBEAM, L"IDC_IBEAM"},     {IDC_WAIT, L"IDC_WAIT"},
        {IDC_CROSS, L"IDC_CROSS"},       {IDC_UPARROW, L"IDC_UPARROW"}, {IDC_SIZENWSE, L"IDC_SIZENWSE"},
        {IDC_SIZENESW, L"IDC_SIZENESW"}, {IDC_SIZEWE, L"IDC_SIZEWE"},   {IDC_SIZENS, L"IDC_SIZENS"},
        {IDC_SIZEALL, L"IDC_SIZEALL"},   {IDC_NO, L"IDC_NO"},           {IDC_HAND, L"IDC_HAND"},
        {IDC_APPSTARTING, L"IDC_APPSTARTING"}, {IDC_HELP, L"IDC_HELP"},
};

// HACK: Wine 8 gives every process its own handle for a standard cursor, so a cursor set by
// another process is always "other" here; there, read the X cursor instead (the harness's
// x_cursor).
const wchar_t* cursor_name(HCURSOR c) {
    if (!c) return L"none";
    for (const auto& k : kCursors)
        if (LoadCursorW(nullptr, k.id) == c) return k.name;
    return L"other";
}

void cmd_cursor(const Args& a, Json& j) {
    const int x = static_cast<int>(to_int(need(a, 0, "x"), "x"));
    const int y = static_cast<int>(to_int(need(a, 1, "y"), "y"));
    const std::wstring want = a.words.size() > 2 ? to_wide(a.words[2]) : L"";
    const DWORD timeout = a.words.size() > 3 ? static_cast<DWORD>(to_int(a.words[3], "timeout")) : 2000;
    if (!SetCursorPos(x, y)) throw Failure("SetCursorPos failed");
    CURSORINFO ci{};
    const auto read = [&] {
        ci = CURSORINFO{};
        ci.cbSize = sizeof ci;
        return GetCursorInfo(&ci) != FALSE;
    };
    bool matched = false;
    if (!want.empty()) {
        matched = pump_until(timeout, [&] { return read() && _wcsicmp(cursor_name(ci.hCursor), want.c_str()) == 0; });
    } else {
        // No expectation: let the window under the point handle its pending messages first.
        HWND under = WindowFromPoint(POINT{x, y});
        DWORD_PTR ignored = 0;
        for (int i = 0; i < 2 && under; ++i)
            SendMessageTimeoutW(under, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
        read();
    }
    j.field("cursor", std::wstring(cursor_name(ci.hCursor)));
    if (!want.empty()) j.field("matched", matched);
    j.field("showing", (ci.flags & CURSOR_SHOWING) != 0);
    j.key("pos").arr().num(ci.ptScreenPos.x).num(ci.ptScreenPos.y).end_arr();
    j.field_hwnd("window", WindowFromPoint(POINT{x, y}));
    j.field_hwnd("foreground", GetForegroundWindow());
}

// showcursor IDC_NAME [X Y]: a small topmost window of the probe showing that standard cursor,
// with the pointer moved into it; kept until the next command.
void cmd_showcursor(const Args& a, Json& j) {
    const std::wstring want = to_wide(need(a, 0, "cursor name"));
    const StandardCursor* found = nullptr;
    for (const auto& k : kCursors)
        if (_wcsicmp(k.name, want.c_str()) == 0) found = &k;
    if (!found) throw Failure("unknown cursor: " + a.words[0]);
    const int size = 64;
    const int x = a.words.size() > 2 ? static_cast<int>(to_int(a.words[1], "x")) : 10;
    const int y = a.words.size() > 2 ? static_cast<int>(to_int(a.words[2], "y"))
                                     : GetSystemMetrics(SM_CYSCREEN) - size - 10;
    static const wchar_t* kClass = L"QuenletProbeCursor";
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = cursor_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kClass;
        if (!RegisterClassW(&wc)) throw Failure("RegisterClassW failed");
        registered = true;
    }
    g_cursor.cursor = LoadCursorW(nullptr, found->id);
    g_cursor.hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, L"probe cursor", WS_POPUP, x, y, size,
                                    size, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!g_cursor.hwnd) throw Failure("CreateWindowExW failed");
    ShowWindow(g_cursor.hwnd, SW_SHOWNOACTIVATE);
    const int cx = x + size / 2, cy = y + size / 2;
    const bool shown = pump_until(3000, [&] {
        if (WindowFromPoint(POINT{cx, cy}) != g_cursor.hwnd) return false;
        POINT now{};
        GetCursorPos(&now);
        if (now.x != cx || now.y != cy) SetCursorPos(cx, cy);
        return GetCursor() == g_cursor.cursor;  // this thread's cursor: set by WM_SETCURSOR above
    });
    j.field_hwnd("hwnd", g_cursor.hwnd).field("cursor", std::wstring(found->name)).field("shown", shown);
    j.key("pos").arr().num(cx).num(cy).end_arr();
}

void cmd_dialogs(const Args& a, Json& j) {
    const bool filter = !a.words.empty();
    const DWORD pid = filter ? static_cast<DWORD>(to_int(a.words[0], "pid")) : 0;
    j.key("dialogs").arr();
    for (HWND h : top_level_windows()) {
        if (!same_class(h, L"#32770") || (filter && pid_of(h) != pid)) continue;
        RECT r{};
        GetWindowRect(h, &r);
        j.obj().field_hwnd("hwnd", h).field("pid", pid_of(h)).field("title", caption_of(h));
        j.field_hwnd("owner", GetWindow(h, GW_OWNER));
        j.field("visible", IsWindowVisible(h) != FALSE).field("enabled", IsWindowEnabled(h) != FALSE);
        j.field("topmost", (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
        j.key("rect").rect(r);
        const HWND focus = focus_of_thread(h);
        std::vector<HWND> statics, buttons, others;
        for (HWND c : child_windows(h)) {
            if (same_class(c, L"Static")) statics.push_back(c);
            else if (same_class(c, L"Button")) buttons.push_back(c);
            else others.push_back(c);
        }
        const auto list = [&](const char* name, const std::vector<HWND>& hs, bool with_class) {
            j.key(name).arr();
            for (HWND c : hs) {
                j.obj().field_hwnd("hwnd", c).field("id", GetDlgCtrlID(c)).field("text", caption_of(c));
                if (with_class) j.field("class", class_of(c));
                j.field("style", static_cast<unsigned long>(static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE))));
                j.field("visible", IsWindowVisible(c) != FALSE).field("enabled", IsWindowEnabled(c) != FALSE);
                j.field("focused", c == focus).end_obj();
            }
            j.end_arr();
        };
        list("statics", statics, false);
        list("buttons", buttons, false);
        list("others", others, true);
        j.end_obj();
    }
    j.end_arr();
}

void cmd_tooltips(const Args& a, Json& j) {
    const bool all = !a.words.empty() && a.words[0] == "all";
    j.key("tooltips").arr();
    for (HWND h : top_level_windows()) {
        if (!same_class(h, L"tooltips_class32")) continue;
        const bool visible = IsWindowVisible(h) != FALSE;
        if (!visible && !all) continue;
        RECT r{};
        GetWindowRect(h, &r);
        const SentText t = sent_text(h, 2000);
        j.obj().field_hwnd("hwnd", h).field("pid", pid_of(h)).field("visible", visible);
        j.field("text", t.text).field("timed_out", t.timed_out);
        j.key("rect").rect(r).end_obj();
    }
    j.end_arr();
}

void cmd_foreground(const Args&, Json& j) {
    HWND h = GetForegroundWindow();
    j.field_hwnd("hwnd", h);
    j.field("pid", h ? pid_of(h) : 0UL);
    j.field("class", h ? class_of(h) : std::wstring()).field("title", h ? caption_of(h) : std::wstring());
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    const bool have = h && GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti);
    j.field_hwnd("active", have ? gti.hwndActive : nullptr);
    j.field_hwnd("focus", have ? gti.hwndFocus : nullptr);
    j.field_hwnd("capture", have ? gti.hwndCapture : nullptr);
}

void cmd_guiresources(const Args& a, Json& j) {
    const DWORD pid = static_cast<DWORD>(to_int(need(a, 0, "pid"), "pid"));
    HandleOwner p(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!p.h) p.h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p.h) throw Failure("OpenProcess failed for pid " + std::to_string(pid));
    // Wine 8 answers 0 for both counts and for the handle count: a leak check there has only
    // the working set.
    j.field("gdi", GetGuiResources(p.h, GR_GDIOBJECTS)).field("user", GetGuiResources(p.h, GR_USEROBJECTS));
    DWORD handles = 0;
    j.key("handles");
    if (GetProcessHandleCount(p.h, &handles)) j.unum(handles); else j.null();
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    j.key("working_set");
    if (GetProcessMemoryInfo(p.h, &pmc, sizeof pmc)) j.unum(pmc.WorkingSetSize); else j.null();
}

std::wstring locale_info(LCTYPE what) {
    wchar_t buf[128] = {};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, what, buf, 128);
    return buf;
}

void cmd_timeformat(const Args&, Json& j) {
    j.field("stime", locale_info(LOCALE_STIME)).field("stimeformat", locale_info(LOCALE_STIMEFORMAT));
}

void cmd_sysmenu(const Args& a, Json& j) {
    HWND h = need_window(a, 0);
    HMENU m = GetSystemMenu(h, FALSE);
    if (!m) {
        // HACK: Wine 8 hands out no menu of another process's window (menus are per process).
        throw Failure("GetSystemMenu gave no menu (Wine 8 does not for another process's window)");
    }
    j.key("items").arr();
    const int n = GetMenuItemCount(m);
    for (int i = 0; i < n; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW mi{};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        mi.dwTypeData = text;
        mi.cch = 255;
        GetMenuItemInfoW(m, static_cast<UINT>(i), TRUE, &mi);
        j.obj().field("id", static_cast<unsigned long>(mi.wID)).field("text", std::wstring(text));
        j.field("separator", (mi.fType & MFT_SEPARATOR) != 0);
        j.field("disabled", (mi.fState & MFS_DISABLED) != 0).end_obj();
    }
    j.end_arr();
}

HFONT make_font(int height, const std::wstring& face) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT f = CreateFontIndirectW(&lf);
    if (!f) throw Failure("CreateFontIndirectW failed");
    return f;
}

// fontcheck [HEIGHT [FACE...]]: which font the system really uses for a request.
void cmd_fontcheck(const Args& a, Json& j) {
    const int height = a.words.empty() ? -11 : static_cast<int>(to_int(a.words[0], "height"));
    std::wstring face = L"Tahoma";
    if (a.words.size() > 1) {
        const size_t at = a.rest.find(a.words[1], a.words[0].size());
        face = to_wide(a.rest.substr(at));
    }
    DcOwner dc(CreateCompatibleDC(nullptr));
    GdiOwner font(make_font(height, face));
    Selected sel(dc.dc, font.obj);
    wchar_t got[LF_FACESIZE] = {};
    GetTextFaceW(dc.dc, LF_FACESIZE, got);
    SIZE zero{};
    GetTextExtentPoint32W(dc.dc, L"0", 1, &zero);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc.dc, &tm);
    j.field("requested", face).field("height", height).field("face", std::wstring(got));
    j.key("zero").arr().num(zero.cx).num(zero.cy).end_arr();
    j.field("tm_height", tm.tmHeight).field("ascent", tm.tmAscent);
    // The names inside the font file that was picked, which substitution cannot disguise.
    const UINT need_bytes = GetOutlineTextMetricsW(dc.dc, 0, nullptr);
    std::wstring family, full;
    if (need_bytes) {
        std::vector<char> buf(need_bytes);
        auto* otm = reinterpret_cast<OUTLINETEXTMETRICW*>(buf.data());
        if (GetOutlineTextMetricsW(dc.dc, need_bytes, otm)) {
            family = reinterpret_cast<const wchar_t*>(buf.data() + reinterpret_cast<uintptr_t>(otm->otmpFamilyName));
            full = reinterpret_cast<const wchar_t*>(buf.data() + reinterpret_cast<uintptr_t>(otm->otmpFullName));
        }
    }
    j.field("family", family).field("full_name", full);
    j.field("matches", _wcsicmp(family.c_str(), face.c_str()) == 0);
}

// The pixels one character leaves in a fixed cell, drawn black on white.
std::vector<uint32_t> ink_of(HDC dc, wchar_t ch, int& ink, int& advance) {
    constexpr int kSize = 64;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = kSize;
    bi.bmiHeader.biHeight = -kSize;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiOwner bmp(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp.obj || !bits) throw Failure("CreateDIBSection failed");
    Selected sel(dc, bmp.obj);
    RECT all{0, 0, kSize, kSize};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, 8, 8, &ch, 1);
    GdiFlush();
    SIZE sz{};
    GetTextExtentPoint32W(dc, &ch, 1, &sz);
    advance = sz.cx;
    const auto* px = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> out(px, px + kSize * kSize);
    ink = static_cast<int>(std::count_if(out.begin(), out.end(), [](uint32_t p) { return (p & 0xFFFFFF) != 0xFFFFFF; }));
    return out;
}

// glyphcheck TEXT: does Tahoma at -11 (with its font link) draw TEXT, or boxes?
void cmd_glyphcheck(const Args& a, Json& j) {
    const std::wstring text = to_wide(a.rest);
    if (text.empty()) throw Failure("missing text");
    DcOwner dc(CreateCompatibleDC(nullptr));
    GdiOwner font(make_font(-11, L"Tahoma"));
    Selected sel(dc.dc, font.obj);
    std::vector<WORD> idx(text.size());
    GetGlyphIndicesW(dc.dc, text.c_str(), static_cast<int>(text.size()), idx.data(), GGI_MARK_NONEXISTING_GLYPHS);
    // U+0378 is unassigned: no font has it, so it shows what a missing glyph looks like.
    int box_ink = 0, box_adv = 0;
    const auto box = ink_of(dc.dc, L'\x0378', box_ink, box_adv);
    int boxes = 0, blank = 0;
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc.dc, LF_FACESIZE, face);
    j.field("text", text).field("face", std::wstring(face));
    j.key("chars").arr();
    for (size_t i = 0; i < text.size(); ++i) {
        int ink = 0, adv = 0;
        const auto bm = ink_of(dc.dc, text[i], ink, adv);
        const bool is_box = bm == box;
        boxes += is_box ? 1 : 0;
        blank += (!is_box && ink == 0 && text[i] != L' ') ? 1 : 0;
        j.obj().field("char", std::wstring(1, text[i])).field("ink", ink).field("advance", adv);
        j.field("box", is_box).field("in_primary", idx[i] != 0xFFFF).end_obj();
    }
    j.end_arr();
    j.field("box_ink", box_ink).field("boxes", boxes).field("blank", blank);
    j.field("rendered", boxes == 0 && blank == 0);
}

// textink HEIGHT FACE TEXT: TEXT as a label draws it (DrawTextW, tabs expanded, "&" marks an
// access key), black on white with the text's top left at (0, 0): the extent, and the ink as its
// bounding box and a mask of rows ('#' ink, '.' none) to compare with a screenshot.
void cmd_textink(const Args& a, Json& j) {
    const int height = static_cast<int>(to_int(need(a, 0, "height"), "height"));
    const std::wstring face = to_wide(need(a, 1, "face"));
    const size_t at = a.rest.find(a.words[1], a.words[0].size()) + a.words[1].size();
    const std::wstring text = to_wide(at < a.rest.size() ? a.rest.substr(at + 1) : std::string());
    if (text.empty()) throw Failure("missing text");
    DcOwner dc(CreateCompatibleDC(nullptr));
    GdiOwner font(make_font(height, face));
    Selected sel(dc.dc, font.obj);
    constexpr UINT kFlags = DT_EXPANDTABS | DT_NOCLIP;
    RECT extent{0, 0, 0, 0};
    DrawTextW(dc.dc, text.c_str(), static_cast<int>(text.size()), &extent, kFlags | DT_CALCRECT);
    // A margin round the text catches ink that overhangs the extent.
    const int margin = 16;
    const int w = extent.right + 2 * margin, h = extent.bottom + 2 * margin;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiOwner bmp(CreateDIBSection(dc.dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp.obj || !bits) throw Failure("CreateDIBSection failed");
    Selected use_bmp(dc.dc, bmp.obj);
    RECT all{0, 0, w, h};
    FillRect(dc.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc.dc, TRANSPARENT);
    SetTextColor(dc.dc, RGB(0, 0, 0));
    RECT place{margin, margin, margin + extent.right, margin + extent.bottom};
    DrawTextW(dc.dc, text.c_str(), static_cast<int>(text.size()), &place, kFlags);
    GdiFlush();
    const auto* px = static_cast<const uint32_t*>(bits);
    const auto inked = [&](int x, int y) { return (px[y * w + x] & 0xFFFFFF) != 0xFFFFFF; };
    int left = w, top = h, right = 0, bottom = 0, ink = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (inked(x, y)) {
                ++ink;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x + 1);
                bottom = std::max(bottom, y + 1);
            }
    wchar_t got[LF_FACESIZE] = {};
    GetTextFaceW(dc.dc, LF_FACESIZE, got);
    j.field("text", text).field("height", height).field("face", std::wstring(got));
    j.key("extent").arr().num(extent.right).num(extent.bottom).end_arr();
    j.field("ink", ink);
    j.key("box");
    if (ink == 0) {
        j.null();
        j.key("mask").arr().end_arr();
        return;
    }
    j.arr().num(left - margin).num(top - margin).num(right - margin).num(bottom - margin).end_arr();
    j.key("mask").arr();
    for (int y = top; y < bottom; ++y) {
        std::string row;
        for (int x = left; x < right; ++x) row += inked(x, y) ? '#' : '.';
        j.str(std::string_view(row));
    }
    j.end_arr();
}

void cmd_screen(const Args&, Json& j) {
    j.key("size").arr().num(GetSystemMetrics(SM_CXSCREEN)).num(GetSystemMetrics(SM_CYSCREEN)).end_arr();
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    j.key("work_area").rect(work);
    HDC screen = GetDC(nullptr);
    j.field("dpi", GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(nullptr, screen);
    j.field("monitors", GetSystemMetrics(SM_CMONITORS));
}

void cmd_hittest(const Args& a, Json& j) {
    const int x = static_cast<int>(to_int(need(a, 0, "x"), "x"));
    const int y = static_cast<int>(to_int(need(a, 1, "y"), "y"));
    HWND h = WindowFromPoint(POINT{x, y});
    HWND root = h ? GetAncestor(h, GA_ROOT) : nullptr;
    j.field_hwnd("hwnd", h).field("class", h ? class_of(h) : std::wstring());
    j.field_hwnd("root", root).field("root_class", root ? class_of(root) : std::wstring());
    j.field("pid", h ? pid_of(h) : 0UL);
}

void cmd_procs(const Args&, Json& j) {
    HandleOwner snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snap.h == INVALID_HANDLE_VALUE) throw Failure("CreateToolhelp32Snapshot failed");
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    j.key("procs").arr();
    for (BOOL more = Process32FirstW(snap.h, &pe); more; more = Process32NextW(snap.h, &pe)) {
        std::wstring path;
        HandleOwner p(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID));
        if (p.h) {
            wchar_t buf[MAX_PATH * 4] = {};
            DWORD n = MAX_PATH * 4;
            if (QueryFullProcessImageNameW(p.h, 0, buf, &n)) path.assign(buf, n);
        }
        j.obj().field("pid", pe.th32ProcessID).field("ppid", pe.th32ParentProcessID);
        j.field("exe", std::wstring(pe.szExeFile)).field("path", path).end_obj();
    }
    j.end_arr();
}

// launch SHOW PATH: starts a program with that show request in its start-up info, as a shortcut
// set to "Minimized" or "Maximized" does; answers its pid.
void cmd_launch(const Args& a, Json& j) {
    const int show = static_cast<int>(to_int(need(a, 0, "show"), "show"));
    const size_t at = a.rest.find_first_of(" \t");
    if (at == std::string::npos) throw Failure("launch SHOW PATH");
    std::wstring cmdline = L"\"" + to_wide(a.rest.substr(a.rest.find_first_not_of(" \t", at))) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw Failure("CreateProcess failed");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    j.field("pid", pi.dwProcessId);
}

// exitcode PID [MS]: waits up to MS for the process to end and answers its exit code.
void cmd_exitcode(const Args& a, Json& j) {
    const DWORD pid = static_cast<DWORD>(to_int(need(a, 0, "pid"), "pid"));
    const DWORD ms = a.words.size() > 1 ? static_cast<DWORD>(to_int(a.words[1], "ms")) : 10000;
    HandleOwner p(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!p.h) throw Failure("OpenProcess failed");
    const bool ended = WaitForSingleObject(p.h, ms) == WAIT_OBJECT_0;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(p.h, &code);
    j.field("ended", ended).field("code", static_cast<unsigned long>(code));
}

const std::map<std::string, Handler>& commands() {
    static const std::map<std::string, Handler> table = {
        {"windows", cmd_windows},     {"children", cmd_children},   {"post", cmd_post},
        {"send", cmd_send},           {"keys", cmd_keys},           {"focuskeys", cmd_focuskeys},
        {"click", cmd_click},         {"gettext", cmd_gettext},     {"cursor", cmd_cursor},
        {"dialogs", cmd_dialogs},     {"tooltips", cmd_tooltips},   {"foreground", cmd_foreground},
        {"guiresources", cmd_guiresources}, {"timeformat", cmd_timeformat}, {"sysmenu", cmd_sysmenu},
        {"fontcheck", cmd_fontcheck}, {"glyphcheck", cmd_glyphcheck}, {"screen", cmd_screen},
        {"hittest", cmd_hittest},     {"procs", cmd_procs},         {"showcursor", cmd_showcursor},
        {"textink", cmd_textink},     {"launch", cmd_launch},       {"exitcode", cmd_exitcode},
        {"ping", [](const Args&, Json& j) {
            SYSTEMTIME t{};
            GetLocalTime(&t);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                          t.wMinute, t.wSecond);
            j.field("pid", GetCurrentProcessId()).field("local_time", std::string(buf));
        }},
    };
    return table;
}

// Runs one command line; returns false for "quit".
bool run_line(const std::string& line, std::string& answer) {
    Args args;
    std::string name;
    {
        size_t i = 0;
        const auto skip_blank = [&] { while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i; };
        skip_blank();
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        name = line.substr(start, i - start);
        skip_blank();
        args.rest = line.substr(i);
        while (i < line.size()) {
            const size_t w = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
            args.words.push_back(line.substr(w, i - w));
            skip_blank();
        }
    }
    drop_own_windows();
    Json j;
    j.obj();
    if (name == "quit") {
        j.field("ok", true).field("cmd", name).end_obj();
        answer = j.text();
        return false;
    }
    const auto& table = commands();
    const auto it = table.find(name);
    try {
        if (it == table.end()) throw Failure("unknown command: " + name);
        Json body;  // built apart so that a failure half-way leaves no broken JSON
        body.obj().field("ok", true).field("cmd", name);
        it->second(args, body);
        body.end_obj();
        answer = body.text();
    } catch (const std::exception& e) {
        j.field("ok", false).field("cmd", name).field("error", std::string(e.what())).end_obj();
        answer = j.text();
    }
    return true;
}

void write_line(const std::string& s) {
    static HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string line = s + "\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// stdin is read on a thread of its own so that the main thread can keep pumping messages.
struct LineQueue {
    std::mutex mutex;
    std::deque<std::string> lines;
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    void push(std::string s) {
        {
            std::lock_guard lock(mutex);
            lines.push_back(std::move(s));
        }
        SetEvent(ready);
    }
    std::deque<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(lines, {});
    }
};

void read_stdin(LineQueue* q) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buf[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buf, sizeof buf, &got, nullptr) || got == 0) break;
        pending.append(buf, got);
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) q->push(std::move(line));
        }
    }
    if (!pending.empty()) q->push(pending);
    q->push("quit");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        std::wstring line;
        for (int i = 1; i < argc; ++i) {
            if (i > 1) line += L' ';
            line += argv[i];
        }
        std::string answer;
        run_line(to_utf8(line), answer);
        write_line(answer);
        drop_own_windows();
        return answer.find("\"ok\":true") != std::string::npos ? 0 : 1;
    }

    LineQueue queue;
    std::thread(read_stdin, &queue).detach();
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &queue.ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) {
            for (const auto& line : queue.take()) {
                std::string answer;
                const bool go_on = run_line(line, answer);
                write_line(answer);
                if (!go_on) {
                    drop_own_windows();
                    ExitProcess(0);  // the reader thread may still sit in ReadFile
                }
            }
        } else {
            pump();
        }
    }
}
