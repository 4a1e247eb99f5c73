#include "app/progress_dlg_win32.h"

#include "app/window_geometry.h"
#include "res/resource.h"

#include <commctrl.h>

namespace tessera {

INT_PTR CALLBACK CProgressDlg::dialogProc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        // Over the main window: its client origin plus half of what lies right of and below it.
        HWND owner = GetWindow(dlg, GW_OWNER);
        if (owner) {
            RECT mainRect{}, selfRect{};
            GetWindowRect(owner, &mainRect);
            GetWindowRect(dlg, &selfRect);
            POINT origin{0, 0};
            ClientToScreen(owner, &origin);
            const Point at = progressPosition({origin.x, origin.y},
                                              {mainRect.left, mainRect.top, mainRect.right, mainRect.bottom},
                                              {selfRect.left, selfRect.top, selfRect.right, selfRect.bottom});
            SetWindowPos(dlg, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return TRUE;
    }
    if (msg == WM_CLOSE) {
        DestroyWindow(dlg);
        return TRUE;
    }
    return FALSE;
}

bool CProgressDlg::create(HWND owner, const std::wstring& caption) {
    dlg_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), owner, dialogProc, 0);
    if (!dlg_) return false;
    bar_ = GetDlgItem(dlg_, IDC_PROGRESS_BAR);
    SetWindowTextW(dlg_, caption.c_str());
    ShowWindow(dlg_, SW_SHOW);
    UpdateWindow(dlg_);
    return true;
}

void CProgressDlg::run(int stepMs) {
    if (!dlg_) return;
    SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    for (int position : kProgressSteps) {
        SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        UpdateWindow(bar_);
        Sleep(static_cast<DWORD>(stepMs));
    }
    SendMessageW(dlg_, WM_CLOSE, 0, 0);
    dlg_ = nullptr;
}

} // namespace tessera
