// Drives Tessera.exe from outside, as a person would, for the smoke tests under Wine: starts it, answers its
// message boxes, reads and sets its controls, adds a logo through the open-file dialog, uploads, takes
// screenshots of the window, and closes it with Exit.
//
//   gui_driver.exe empty   EXE SHOT.bmp SPLASH.bmp
//       a first start: no settings files, no printer; the splash, checks the start values, screenshot, Exit
//   gui_driver.exe upload  EXE LOGO IP PORT SHOT.bmp QUESTION.bmp
//       a start with settings files beside EXE (two logos, port TCP/IP): checks them, adds LOGO, uploads to
//       IP:PORT with a screenshot of the question, screenshot, Exit
// Prints one line per check; the exit status is the number of failed checks (100 when it could not run).

#include "res/resource.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kCaption = "VELKA Tessera 4.00";
int failures = 0;
DWORD appProcess = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

struct Found {
    std::string caption;
    HWND hwnd = nullptr;
};

BOOL CALLBACK findTopLevel(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != appProcess || !IsWindowVisible(h)) return TRUE;
    char text[256] = "";
    GetWindowTextA(h, text, sizeof text);
    if (f->caption == text) {
        f->hwnd = h;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the application with this caption, waited for up to ms.
HWND waitFor(const std::string& caption, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        Found f{caption};
        EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&f));
        if (f.hwnd) return f.hwnd;
        Sleep(50);
    }
    return nullptr;
}

std::string textOf(HWND h) {
    char text[1024] = "";
    SendMessageA(h, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// The text of a message box, and a click on one of its buttons.
std::string answerBox(const std::string& caption, int button, int ms = 20000) {
    HWND box = waitFor(caption, ms);
    if (!box) return "(no box \"" + caption + "\")";
    const std::string text = textOf(GetDlgItem(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i)
        Sleep(50);
    return text;
}

bool enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != 0; }

int listRows(HWND dlg) {
    return static_cast<int>(SendMessageA(GetDlgItem(dlg, IDC_LOGO_LIST), LVM_GETITEMCOUNT, 0, 0));
}

// A 24-bit bitmap file of the window as it is on the screen. refresh: repaint it first (a window whose
// thread is busy, such as the splash, is taken as it stands).
bool screenshot(HWND window, const std::string& path, bool refresh = true) {
    if (refresh) {
        SetForegroundWindow(window);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(500);
    }
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                          static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    bool ok = false;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, 1, size, f) == size;
        ok = std::fclose(f) == 0 && ok;
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// Starts the application and waits for its main window; the missing-printer box of a start without
// printers is answered on the way.
HWND startApp(const std::string& exe, PROCESS_INFORMATION& pi, bool expectPrinterBox, const std::string& splashShot = {}) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string command = "\"" + exe + "\"";
    std::string folder = exe.substr(0, exe.find_last_of('\\'));
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        std::printf("FAIL cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        return nullptr;
    }
    appProcess = pi.dwProcessId;
    if (!splashShot.empty()) {
        HWND splash = nullptr;
        for (int i = 0; i < 400 && !splash; ++i) {
            splash = FindWindowA("SplashScreenExClass", nullptr);
            if (!splash || !IsWindowVisible(splash)) {
                splash = nullptr;
                Sleep(25);
            }
        }
        check(splash != nullptr, "the splash shows while the window starts");
        RECT r{};
        if (splash) GetWindowRect(splash, &r);
        check(r.right - r.left == 644 && r.bottom - r.top == 213, "the splash is 644 x 213");
        if (splash) check(screenshot(splash, splashShot, false), "screenshot " + splashShot);
    }
    if (expectPrinterBox) {
        const std::string text = answerBox("EnumPrinters() Error", IDOK, 30000);
        check(text == "EnumPrinters() failed", "the missing printers are reported: " + text);
    }
    HWND dlg = waitFor(kCaption, 30000);
    check(dlg != nullptr, "the main window opens");
    return dlg;
}

int finish(HWND dlg, PROCESS_INFORMATION& pi) {
    PostMessageA(GetDlgItem(dlg, IDC_EXIT), BM_CLICK, 0, 0);
    const bool ended = WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0;
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    check(ended && code == 0, "Exit ends the program with status 0");
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return failures;
}

int runEmpty(const std::string& exe, const std::string& shot, const std::string& splashShot) {
    PROCESS_INFORMATION pi{};
    HWND dlg = startApp(exe, pi, true, splashShot);
    if (!dlg) return 100;
    check(textOf(GetDlgItem(dlg, IDC_PORT)) == "USB", "the port list starts at USB");
    check(textOf(GetDlgItem(dlg, IDC_BAUD_RATE)) == "19200 bps", "the baud rate starts at 19200 bps");
    check(textOf(GetDlgItem(dlg, IDC_FILE_COUNT)) == "Logo Files : 0 / 255", "the file count line");
    check(textOf(GetDlgItem(dlg, IDC_SIZE_TOTAL)) == "Logo size total : 0 / 250 KBytes", "the size total line");
    check(textOf(GetDlgItem(dlg, IDC_TCP_PORT)) == "9100", "the TCP port starts at 9100");
    check(!enabled(dlg, IDC_USE_DRIVER) && !enabled(dlg, IDC_PRINTER_DRIVER),
          "no printer: the driver box and list are disabled");
    for (int id : {IDC_REMOVE, IDC_RESET, IDC_UPLOAD, IDC_ERASE, IDC_PRINTOUT, IDC_THRESHOLD})
        check(!enabled(dlg, id), "entry button " + std::to_string(id) + " is disabled with an empty list");
    check(enabled(dlg, IDC_SAVE) && enabled(dlg, IDC_OPEN_FILE_AND_DOWNLOAD),
          "Save and Open File and Download are enabled");
    check(!enabled(dlg, IDC_IP_ADDRESS) && !enabled(dlg, IDC_BAUD_RATE),
          "USB: the network and serial fields are disabled");
    check(SendMessageA(GetDlgItem(dlg, IDC_BRIGHTNESS), TBM_GETPOS, 0, 0) == 5, "the slider starts at 5");
    check(IsDlgButtonChecked(dlg, IDC_THRESHOLD) == BST_CHECKED &&
              IsDlgButtonChecked(dlg, IDC_RANGE_ALL) == BST_CHECKED &&
              IsDlgButtonChecked(dlg, IDC_QUALITY_SINGLE) == BST_CHECKED,
          "Threshold, All and Single High&Wide are checked");

    // The enabling rule follows the port list.
    HWND port = GetDlgItem(dlg, IDC_PORT);
    SendMessageA(port, CB_SETCURSEL, 6, 0); // COM3
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(port));
    check(enabled(dlg, IDC_BAUD_RATE) && !enabled(dlg, IDC_IP_ADDRESS),
          "COM3 enables the serial lists and disables the IP address");
    SendMessageA(port, CB_SETCURSEL, 2, 0); // back to USB
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(port));
    check(screenshot(dlg, shot), "screenshot " + shot);
    return finish(dlg, pi);
}

// Chooses a file in the application's open-file dialog.
bool chooseFile(const std::string& title, const std::string& path) {
    HWND box = waitFor(title, 20000);
    if (!box) return false;
    // The file-name field: the combo box of the Explorer-style dialog, or a plain edit in older ones.
    HWND field = GetDlgItem(box, 1148);
    if (!field) field = GetDlgItem(box, 1152);
    if (!field) return false;
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 200 && IsWindow(box); ++i)
        Sleep(50);
    return !IsWindow(box);
}

int runUpload(const std::string& exe, const std::string& logo, const std::string& ip, int tcpPort,
              const std::string& shot, const std::string& questionShot) {
    PROCESS_INFORMATION pi{};
    HWND dlg = startApp(exe, pi, true);
    if (!dlg) return 100;
    check(listRows(dlg) == 2, "files.ini brought back two logos (" + std::to_string(listRows(dlg)) + ")");
    check(textOf(GetDlgItem(dlg, IDC_PORT)) == "TCP/IP", "nvupload.ini selected TCP/IP");
    check(enabled(dlg, IDC_IP_ADDRESS) && enabled(dlg, IDC_TCP_PORT) && !enabled(dlg, IDC_BAUD_RATE),
          "TCP/IP enables the network fields only");
    check(enabled(dlg, IDC_UPLOAD) && enabled(dlg, IDC_REMOVE), "a filled list enables Upload and Remove");

    PostMessageA(GetDlgItem(dlg, IDC_OPEN_FILE), BM_CLICK, 0, 0);
    check(chooseFile("Open", logo), "a logo is chosen in the open-file dialog");
    for (int i = 0; i < 100 && listRows(dlg) < 3; ++i)
        Sleep(50);
    check(listRows(dlg) == 3, "the chosen logo is the third row");
    check(textOf(GetDlgItem(dlg, IDC_FILE_COUNT)) == "Logo Files : 3 / 255", "the file count follows");

    PostMessageA(GetDlgItem(dlg, IDC_ERROR_DIFFUSION), BM_CLICK, 0, 0);
    Sleep(300);
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(ip.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    SendMessageA(GetDlgItem(dlg, IDC_IP_ADDRESS), IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(a, b, c, d)));
    SendMessageA(GetDlgItem(dlg, IDC_TCP_PORT), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(std::to_string(tcpPort).c_str()));
    check(screenshot(dlg, shot), "screenshot " + shot);

    PostMessageA(GetDlgItem(dlg, IDC_UPLOAD), BM_CLICK, 0, 0);
    if (HWND box = waitFor("Upload", 20000)) check(screenshot(box, questionShot), "screenshot " + questionShot);
    const std::string question = answerBox("Upload", IDYES);
    check(question.rfind("Logo file is written in the NV image area of the device.", 0) == 0,
          "Upload asks first: " + question);
    const std::string result = answerBox("Upload", IDOK, 60000);
    check(result.rfind("Upload finished, and Writing of bit image completed.", 0) == 0,
          "the upload reports success: " + result);
    return finish(dlg, pi);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "empty") return runEmpty(args[1], args[2], args[3]);
    if (args.size() == 7 && args[0] == "upload")
        return runUpload(args[1], args[2], args[3], std::atoi(args[4].c_str()), args[5], args[6]);
    std::fprintf(stderr, "usage: gui_driver.exe empty EXE SHOT.bmp SPLASH.bmp | upload EXE LOGO IP PORT SHOT.bmp "
                         "QUESTION.bmp\n");
    return 100;
}
