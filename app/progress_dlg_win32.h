#pragma once
// The small window that shows a timed progress bar over the main window while an operation sends through
// the printer driver.

#include <windows.h>

#include <string>

namespace tessera {

class CProgressDlg {
  public:
    // Creates the window modeless, owned by the main window, with the caption, and shows it.
    bool create(HWND owner, const std::wstring& caption);
    // Moves the bar through its five positions, holding each stepMs on this thread, then closes the window.
    void run(int stepMs);

  private:
    static INT_PTR CALLBACK dialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
    HWND dlg_ = nullptr;
    HWND bar_ = nullptr;
};

} // namespace tessera
