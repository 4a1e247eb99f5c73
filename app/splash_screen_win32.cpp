#include "app/splash_screen_win32.h"

#include "app/gdi_scope_win32.h"
#include "app/window_geometry.h"

#include <vector>

namespace tessera {

namespace {
constexpr const char* kClassName = "SplashScreenExClass";
constexpr UINT kTimerId = 0;
} // namespace

CSplashScreenEx::CSplashScreenEx() {
    // Looked up by name: the call is missing on the oldest systems.
    if (HMODULE user = GetModuleHandleA("USER32.DLL"))
        animateWindow_ = reinterpret_cast<AnimateWindowFn>(reinterpret_cast<void*>(GetProcAddress(user, "AnimateWindow")));
    LOGFONTA lf{};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    font_ = CreateFontIndirectA(&lf);
}

CSplashScreenEx::~CSplashScreenEx() {
    if (bitmap_) DeleteObject(bitmap_);
    if (font_) DeleteObject(font_);
    // The window owns the region once it was set on it.
}

CSplashScreenEx* CSplashScreenEx::create(HWND parent, const char* text, int displayTimeMs, int style) {
    auto* splash = new CSplashScreenEx;
    if (splash->makeWindow(parent, text, displayTimeMs, style)) return splash;
    delete splash;
    return nullptr;
}

bool CSplashScreenEx::makeWindow(HWND parent, const char* text, int displayTimeMs, int style) {
    parent_ = parent;
    text_ = text ? text : "";
    displayTime_ = displayTimeMs;
    style_ = style;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS | CS_SAVEBITS | ((style & kSplashShadow) ? CS_DROPSHADOW : 0);
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        if (!(style & kSplashShadow)) return false;
        wc.style &= ~CS_DROPSHADOW;
        if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    }
    hwnd_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, 0, 0, 0, 0, parent, nullptr,
                            wc.hInstance, this);
    ownedByWindow_ = hwnd_ != nullptr;
    return ownedByWindow_;
}

bool CSplashScreenEx::setBitmap(int resourceId, short red, short green, short blue) {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap_) return false;
    BITMAP bm{};
    GetObjectA(bitmap_, sizeof bm, &bm);
    width_ = bm.bmWidth;
    height_ = bm.bmHeight;
    textRect_ = {0, 0, width_, height_};
    Rect parent{};
    if (parent_) {
        RECT r{};
        GetWindowRect(parent_, &r);
        parent = {r.left, r.top, r.right, r.bottom};
    }
    const Point at = splashPosition(style_, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN),
                                    parent, width_, height_);
    left_ = at.x;
    top_ = at.y;
    if (red == -1 || green == -1 || blue == -1) return true;
    region_ = shapeRegion(RGB(red, green, blue));
    SetWindowRgn(hwnd_, region_, TRUE);
    return true;
}

HRGN CSplashScreenEx::shapeRegion(COLORREF transparent) {
    // The bitmap's pixels top row first, 4 bytes each, read through a memory context like the screen's.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width_) * height_ * 4);
    {
        const WindowDc screen(hwnd_);
        const MemoryDc memory(screen.dc());
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        GetDIBits(memory.dc(), bitmap_, 0, static_cast<UINT>(height_), pixels.data(), &info, DIB_RGB_COLORS);
    }
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    for (const Rect& r : opaqueRuns(pixels, width_, height_, GetRValue(transparent), GetGValue(transparent),
                                    GetBValue(transparent))) {
        const GdiObject<HRGN> piece(CreateRectRgn(r.left, r.top, r.right, r.bottom));
        CombineRgn(region, region, piece.get(), RGN_OR);
    }
    return region;
}

void CSplashScreenEx::show() {
    SetWindowPos(hwnd_, nullptr, left_, top_, width_, height_, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    if ((style_ & kSplashFadeIn) && animateWindow_)
        animateWindow_(hwnd_, 500, AW_BLEND);
    else
        ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd_);
    if (displayTime_ != 0) SetTimer(hwnd_, kTimerId, static_cast<UINT>(displayTime_), nullptr);
}

void CSplashScreenEx::hide() {
    if ((style_ & kSplashFadeOut) && animateWindow_)
        animateWindow_(hwnd_, 200, AW_BLEND | AW_HIDE);
    else
        ShowWindow(hwnd_, SW_HIDE);
    DestroyWindow(hwnd_);
}

void CSplashScreenEx::draw(HDC dc) {
    if (bitmap_) {
        const MemoryDc memory(dc);
        const SelectedObject picture(memory.dc(), bitmap_);
        BitBlt(dc, 0, 0, width_, height_, memory.dc(), 0, 0, SRCCOPY);
    }
    const SelectedObject font(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, textColour_);
    RECT r = textRect_;
    DrawTextA(dc, text_.c_str(), -1, &r, textFormat_);
}

LRESULT CALLBACK CSplashScreenEx::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<CSplashScreenEx*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<CSplashScreenEx*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        // A window that dies inside CreateWindowEx leaves its object to create(), which frees it.
        if (self->ownedByWindow_)
            delete self;
        else
            self->hwnd_ = nullptr;
        return 0;
    }
    return self->handle(msg, wp, lp);
}

LRESULT CSplashScreenEx::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        const PaintScope paint(hwnd_);
        draw(paint.dc());
        return 0;
    }
    case WM_PRINTCLIENT: draw(reinterpret_cast<HDC>(wp)); return 1;
    case WM_TIMER:
        KillTimer(hwnd_, kTimerId);
        hide();
        return 0;
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (style_ & kSplashHideOnInput) {
            hide();
            return 0;
        }
        break;
    default: break;
    }
    return DefWindowProcA(hwnd_, msg, wp, lp);
}

} // namespace tessera
