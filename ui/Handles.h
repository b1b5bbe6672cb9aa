#pragma once
// RAII owners for the Win32 objects the program creates; nothing is freed by hand.
#include <windows.h>
#include <commctrl.h>

#include <utility>

template <typename T, auto Close, T Invalid = T{}>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, Invalid);
        }
        return *this;
    }
    T get() const { return h_; }
    explicit operator bool() const { return h_ != Invalid; }
    T release() { return std::exchange(h_, Invalid); }
    void reset(T h = Invalid)
    {
        if (h_ != Invalid)
            Close(h_);
        h_ = h;
    }

private:
    T h_ = Invalid;
};

inline void FreeFontHandle(HFONT h) { DeleteObject(h); }
inline void FreeBitmapHandle(HBITMAP h) { DeleteObject(h); }
inline void FreeBrushHandle(HBRUSH h) { DeleteObject(h); }
inline void FreePenHandle(HPEN h) { DeleteObject(h); }
inline void FreeIconHandle(HICON h) { DestroyIcon(h); }
inline void FreeImageListHandle(HIMAGELIST h) { ImageList_Destroy(h); }
inline void FreeWindowHandle(HWND h) { DestroyWindow(h); }

using UniqueFont = UniqueHandle<HFONT, &FreeFontHandle>;
using UniqueBitmap = UniqueHandle<HBITMAP, &FreeBitmapHandle>;
using UniqueBrush = UniqueHandle<HBRUSH, &FreeBrushHandle>;
using UniquePen = UniqueHandle<HPEN, &FreePenHandle>;
using UniqueIcon = UniqueHandle<HICON, &FreeIconHandle>;
using UniqueImageList = UniqueHandle<HIMAGELIST, &FreeImageListHandle>;
using UniqueWindow = UniqueHandle<HWND, &FreeWindowHandle>;

// Selects a GDI object into a DC for one scope.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~SelectedObject() { SelectObject(dc_, old_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// The screen DC for one scope.
class ScreenDC {
public:
    ScreenDC() : dc_(GetDC(nullptr)) {}
    ~ScreenDC() { ReleaseDC(nullptr, dc_); }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};
