#pragma once
// Scoped holders for what a paint borrows from the system: each gives back what it took when it goes out of
// scope, on every exit path. None can be copied; each is made and dropped on the thread that paints.

#include <windows.h>

namespace tessera {

// BeginPaint … EndPaint of one WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// GetDC … ReleaseDC of a window's client area.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// A memory context like `like`; dc() is null when it could not be made.
class MemoryDc {
  public:
    explicit MemoryDc(HDC like) : dc_(CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc_) DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC dc() const { return dc_; }

  private:
    HDC dc_;
};

// A GDI object (bitmap, font, region, brush) of our own, deleted at the end; null is allowed.
template <class T> class GdiObject {
  public:
    explicit GdiObject(T object = nullptr) : object_(object) {}
    ~GdiObject() {
        if (object_) DeleteObject(object_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    T get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T object_;
};

// Selects an object into a context and puts the one it replaced back at the end, so that the object can
// then be deleted.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace tessera
