// Tessera.exe: the main window on plain Win32. The behaviour lives in CNVUploadDlg; this file gives it real
// controls (DialogHost), routes the window's messages to it and paints the previews.

#include "app/gdi_scope_win32.h"
#include "app/nv_upload_dlg.h"
#include "app/progress_dlg_win32.h"
#include "app/settings_files.h"
#include "app/splash_screen_win32.h"
#include "app/window_geometry.h"
#include "base/windows_text.h"
#include "port/parallel_port.h"
#include "port/serial_port.h"
#include "port/system_spooler.h"
#include "port/tcp_client.h"
#include "port/usb_printer.h"
#include "res/resource.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstring>
#include <exception>
#include <memory>
#include <vector>

namespace tessera {

namespace {

std::wstring windowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(h, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

class Win32DialogHost : public DialogHost {
  public:
    explicit Win32DialogHost(HWND dlg) : dlg_(dlg) {}

    HWND item(int id) const { return GetDlgItem(dlg_, id); }

    void setText(int id, const std::string& text) override { SetWindowTextW(item(id), widen(text).c_str()); }
    std::string text(int id) override { return narrow(windowText(item(id))); }
    void enable(int id, bool enabled) override { EnableWindow(item(id), enabled); }
    void setCheck(int id, bool checked) override { CheckDlgButton(dlg_, id, checked ? BST_CHECKED : BST_UNCHECKED); }
    bool isChecked(int id) override { return IsDlgButtonChecked(dlg_, id) == BST_CHECKED; }

    void addComboItem(int id, const std::string& text) override {
        SendMessageW(item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
    }
    int comboCount(int id) override { return static_cast<int>(SendMessageW(item(id), CB_GETCOUNT, 0, 0)); }
    std::string comboItem(int id, int index) override {
        const LRESULT n = SendMessageW(item(id), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (n == CB_ERR) return {};
        std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
        SendMessageW(item(id), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(n));
        return narrow(text);
    }
    void setComboSelection(int id, int index) override {
        SendMessageW(item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int comboSelection(int id) override { return static_cast<int>(SendMessageW(item(id), CB_GETCURSEL, 0, 0)); }

    void setSliderRange(int id, int minimum, int maximum, int pageSize) override {
        SendMessageW(item(id), TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
        SendMessageW(item(id), TBM_SETPAGESIZE, 0, pageSize);
        SendMessageW(item(id), TBM_SETTICFREQ, 1, 0);
    }
    void setSliderPosition(int id, int position) override { SendMessageW(item(id), TBM_SETPOS, TRUE, position); }
    int sliderPosition(int id) override { return static_cast<int>(SendMessageW(item(id), TBM_GETPOS, 0, 0)); }
    int sliderMaximum(int id) override { return static_cast<int>(SendMessageW(item(id), TBM_GETRANGEMAX, 0, 0)); }

    void insertListRow(int row, const std::array<std::string, 4>& columns) override {
        HWND list = item(IDC_LOGO_LIST);
        std::wstring first = widen(columns[0]);
        LVITEMW it{};
        it.mask = LVIF_TEXT;
        it.iItem = row;
        it.pszText = first.data();
        const int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
        for (int column = 1; column < 4; ++column) {
            std::wstring text = widen(columns[static_cast<std::size_t>(column)]);
            LVITEMW sub{};
            sub.iSubItem = column;
            sub.pszText = text.data();
            SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
        }
    }
    void deleteAllListRows() override {
        HWND list = item(IDC_LOGO_LIST);
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, -1);
    }
    int listSelectionMark() override {
        return static_cast<int>(SendMessageW(item(IDC_LOGO_LIST), LVM_GETSELECTIONMARK, 0, 0));
    }

    MessageAnswer messageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                             MessageIcon icon) override {
        UINT flags = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
        switch (icon) {
        case MessageIcon::Information: flags |= MB_ICONINFORMATION; break;
        case MessageIcon::Question: flags |= MB_ICONQUESTION; break;
        case MessageIcon::Exclamation: flags |= MB_ICONEXCLAMATION; break;
        case MessageIcon::Error: flags |= MB_ICONERROR; break;
        case MessageIcon::None: break;
        }
        const int r = MessageBoxW(dlg_, widen(text).c_str(), widen(caption).c_str(), flags);
        return r == IDYES ? MessageAnswer::Yes : r == IDNO ? MessageAnswer::No : MessageAnswer::Ok;
    }

    std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
        std::wstring filter;
        for (const FileFilter& f : request.filters) {
            filter += widen(f.name);
            filter += L'\0';
            filter += widen(f.pattern);
            filter += L'\0';
        }
        filter += L'\0';
        std::vector<wchar_t> path(static_cast<std::size_t>(request.maxPathLength) + 1, L'\0');
        std::wstring title = widen(request.title);
        std::wstring folder;
        if (request.startInCurrentDirectory) {
            folder.resize(MAX_PATH * 8);
            folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
        }
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = dlg_;
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = static_cast<DWORD>(path.size());
        ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
        ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR | (request.hideReadOnly ? OFN_HIDEREADONLY : 0) |
                    (request.promptOverwrite ? OFN_OVERWRITEPROMPT : 0) | (request.save ? 0 : OFN_FILEMUSTEXIST);
        const BOOL ok = request.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
        if (!ok) return std::nullopt;
        return narrow(path.data());
    }

    void runProgress(const std::string& caption, int stepMs) override {
        CProgressDlg progress;
        if (progress.create(dlg_, widen(caption))) progress.run(stepMs);
    }
    void showSplash() override {
        splash_ = CSplashScreenEx::create(dlg_, "", 0,
                                          kSplashFadeIn | kSplashFadeOut | kSplashShadow | kSplashCentreOnScreen);
        if (!splash_) return;
        splash_->setBitmap(IDB_SPLASH, 255, 0, 255);
        splash_->show();
    }
    void hideSplash() override {
        if (splash_) splash_->hide();
        splash_ = nullptr;
    }
    void sleep(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
    void invalidate() override { InvalidateRect(dlg_, nullptr, FALSE); }

    unsigned ansiCodePage() override { return GetACP(); }
    std::string executableDirectory() override {
        std::vector<wchar_t> path(32768, L'\0');
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        std::wstring full(path.data(), n);
        const auto slash = full.find_last_of(L'\\');
        return narrow(slash == std::wstring::npos ? std::wstring() : full.substr(0, slash)) + "\\";
    }
    std::vector<InstalledPrinter> installedPrinters() override {
        std::vector<InstalledPrinter> printers;
        for (const SpoolerPrinter& p : listSpoolerPrinters())
            printers.push_back({p.name, p.driverName});
        return printers;
    }
    // Stored files keep the ANSI code page; a path it cannot spell is kept as UTF-8, so no logo is lost.
    std::string toStoredText(const std::string& text) override {
        bool lossy = false;
        std::string ansi = narrow(widen(text), kAnsiCodePage, &lossy);
        return lossy ? text : ansi;
    }
    std::string fromStoredText(const std::string& bytes) override {
        return isValidUtf8(bytes) ? bytes : narrow(widen(bytes, kAnsiCodePage));
    }

  private:
    HWND dlg_;
    CSplashScreenEx* splash_ = nullptr;
};

// A device-independent bitmap of a LogoBitmap's pixels, for drawing.
HBITMAP bitmapOf(HDC dc, const LogoBitmap& image) {
    auto pixels = image.readPixels();
    if (!pixels) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), image.width(), -image.height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) std::memcpy(bits, pixels->data(), pixels->size());
    return bitmap;
}

RECT clientRectOf(HWND dlg, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void setUpList(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LOGO_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const int dpi = GetDeviceCaps(WindowDc(dlg).dc(), LOGPIXELSX);
    const wchar_t* names[] = {L"No.", L"No.", L"Name", L"Size"};
    const int widths[] = {0, 42, 180, 80};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        c.fmt = LVCFMT_LEFT;
        c.cx = MulDiv(widths[i], dpi, 96);
        c.pszText = const_cast<wchar_t*>(names[i]);
        c.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&c));
    }
}

// The main window: the dialog, its host and the behaviour behind it. The object outlives the dialog's window;
// the window finds it through its user data, set from the creation parameter.
class CMainWindow {
  public:
    explicit CMainWindow(const PortSet& ports) : ports_(ports) {}
    ~CMainWindow() {
        if (icon_) DestroyIcon(icon_);
    }
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;

    // Runs the dialog modally until it ends.
    void run(HINSTANCE instance) {
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, dialogProc, reinterpret_cast<LPARAM>(this));
        dlg_.reset();
        host_.reset();
    }

  private:
    static INT_PTR CALLBACK dialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, GWLP_USERDATA, lp);
        auto* self = reinterpret_cast<CMainWindow*>(GetWindowLongPtrW(dlg, GWLP_USERDATA));
        if (!self) return FALSE; // the messages before WM_INITDIALOG
        // An exception must not unwind through the system's code that called us: the operation it broke off
        // is reported, and the window stays usable (or, during start-up, ends).
        try {
            return self->handle(dlg, msg, wp, lp);
        } catch (const std::exception& e) {
            failed(dlg, msg, e.what());
        } catch (...) {
            failed(dlg, msg, "unexpected error");
        }
        return TRUE;
    }

    static void failed(HWND dlg, UINT msg, const char* what) {
        MessageBoxA(dlg, what, "Tessera", MB_OK | MB_ICONERROR);
        if (msg == WM_INITDIALOG) EndDialog(dlg, -1);
    }

    INT_PTR handle(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
        case WM_INITDIALOG: {
            icon_ = static_cast<HICON>(
                LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TESSERA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
            SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
            SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
            setUpList(dlg);
            host_ = std::make_unique<Win32DialogHost>(dlg);
            dlg_ = std::make_unique<CNVUploadDlg>(*host_, ports_);
            return dlg_->OnInitDialog() ? TRUE : FALSE;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wp), code = HIWORD(wp);
            if (!dlg_) return FALSE;
            if (id == IDC_EXIT || id == IDCANCEL) {
                // Esc and Exit close like the close box, so the settings are kept.
                SendMessageW(dlg, WM_CLOSE, 0, 0);
                return TRUE;
            }
            if (id == IDC_PORT && code == CBN_SELCHANGE) {
                dlg_->OnPortSelectionChanged();
                return TRUE;
            }
            if (code == BN_CLICKED) return dlg_->OnCommand(id) ? TRUE : FALSE;
            return FALSE;
        }
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
            if (!dlg_) return FALSE;
            if (hdr->idFrom == static_cast<UINT_PTR>(IDC_LOGO_LIST)) {
                if (hdr->code == NM_CLICK) dlg_->OnRowClick();
                // Keys move the selection without changing the previews.
                SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            if (hdr->idFrom == static_cast<UINT_PTR>(IDC_BRIGHTNESS) && hdr->code == NM_RELEASEDCAPTURE) {
                dlg_->OnSliderReleased();
                SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        }
        case WM_PAINT:
            paintPreviews(dlg);
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(icon_);
        case WM_CLOSE:
            if (dlg_) dlg_->OnClose();
            EndDialog(dlg, 0);
            return TRUE;
        default:
            return FALSE;
        }
    }

    void paintPreviews(HWND dlg) {
        const PaintScope paint(dlg);
        if (!dlg_ || !dlg_->leftView().hasImage()) return;
        const HDC dc = paint.dc();
        const RECT left = clientRectOf(dlg, GetDlgItem(dlg, IDC_SOURCE_FRAME));
        const RECT right = clientRectOf(dlg, GetDlgItem(dlg, IDC_CONVERTED_FRAME));
        const MemoryDc memory(dc);
        if (!memory.dc()) return;
        const PreviewLayout layout = dlg_->layoutPreviews(left.right - left.left, left.bottom - left.top);
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        const LogoBitmap* images[] = {&dlg_->leftView(), &dlg_->rightView()};
        const POINT corners[] = {{left.left, left.top}, {right.left, right.top}};
        for (int i = 0; i < 2; ++i) {
            if (const GdiObject<HBITMAP> bitmap(bitmapOf(dc, *images[i])); bitmap) {
                const SelectedObject selected(memory.dc(), bitmap.get());
                StretchBlt(dc, corners[i].x, corners[i].y, layout.drawWidth, layout.drawHeight, memory.dc(), 0, 0,
                           layout.sourceWidth, layout.sourceHeight, SRCCOPY);
            }
            for (const PreviewStrip& s : layout.strips) {
                RECT r{corners[i].x + s.left, corners[i].y + s.top, corners[i].x + s.right, corners[i].y + s.bottom};
                FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
            }
        }
    }

    PortSet ports_;
    std::unique_ptr<Win32DialogHost> host_;
    std::unique_ptr<CNVUploadDlg> dlg_;
    HICON icon_ = nullptr;
};

// The ports of the process, one of each, from before the main window until the program ends.
struct Ports {
    SystemSpooler spooler;
    CSerialPort serial;
    CParallelPort parallel;
    std::unique_ptr<UsbDeviceLayer> usbLayer = makeUsbDeviceLayer();
    CUsbPrinter usb{*usbLayer};
    CTcpClient network;
    PortSet set() { return PortSet{&spooler, &serial, &parallel, &usb, &network}; }
};

} // namespace

// The application: the main window, run modally; the program ends with it.
class CNVUploadApp {
  public:
    int run(HINSTANCE instance) {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                  ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        CMainWindow window(ports_.set());
        window.run(instance);
        return 0;
    }

  private:
    Ports ports_;
};

} // namespace tessera

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tessera::CNVUploadApp app;
    return app.run(instance);
}
