#pragma once
// A borderless, topmost picture window shown while the main window starts: a bitmap resource, an optional
// shape cut out by a transparent colour, an optional centred text and display timer, and the style bits of
// window_geometry.h. Made only by create(); once made, the window owns the object: hiding it, or the end of
// its parent, destroys the window and the object.

#include <windows.h>

#include <string>

namespace tessera {

class CSplashScreenEx {
  public:
    CSplashScreenEx(const CSplashScreenEx&) = delete;
    CSplashScreenEx& operator=(const CSplashScreenEx&) = delete;

    // Makes the (hidden) window; null, with nothing left behind, when it cannot be made.
    static CSplashScreenEx* create(HWND parent, const char* text, int displayTimeMs, int style);
    // red, green or blue −1: no shape, the window is the whole rectangle.
    bool setBitmap(int resourceId, short red, short green, short blue);
    void show();
    // Hides and destroys the window; the object deletes itself.
    void hide();

    HWND window() const { return hwnd_; }

  private:
    CSplashScreenEx();
    ~CSplashScreenEx();
    bool makeWindow(HWND parent, const char* text, int displayTimeMs, int style);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void draw(HDC dc);
    HRGN shapeRegion(COLORREF transparent);

    using AnimateWindowFn = BOOL(WINAPI*)(HWND, DWORD, DWORD);
    AnimateWindowFn animateWindow_ = nullptr;
    HWND parent_ = nullptr;
    HWND hwnd_ = nullptr;
    bool ownedByWindow_ = false; // set once the window exists; until then a failed creation frees the object
    HBITMAP bitmap_ = nullptr;
    HFONT font_ = nullptr;
    HRGN region_ = nullptr;
    int style_ = 0;
    int displayTime_ = 2000;
    std::string text_;
    RECT textRect_{0, 0, 0, 0};
    UINT textFormat_ = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    COLORREF textColour_ = 0;
    int width_ = 0, height_ = 0;
    int left_ = 0, top_ = 0;
};

} // namespace tessera
