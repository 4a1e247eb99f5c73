// The USB printer on Windows: the present interfaces of the USB printer class through the device-setup
// library, loaded at run time, and overlapped writes to the device path.

#include "port/usb_printer.h"

#include "base/unique_handle_win32.h"
#include "port/overlapped_read.h"
#include "port/system_error.h"

#include <windows.h>
#include <setupapi.h>

#include <utility>

namespace tessera {

namespace {

// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}, the USB printer interface class.
const GUID kUsbPrintClass = {0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};

using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
using GetDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                                  PDWORD, PSP_DEVINFO_DATA);
using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

template <class F>
F entry(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

bool legacyWindows() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS || (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion < 5);
}

class SetupApiLayer : public UsbDeviceLayer {
  public:
    bool load() override {
        if (library_) return ready_;
        library_.reset(LoadLibraryA("SETUPAPI.DLL"));
        if (!library_) return false;
        getClassDevs_ = entry<GetClassDevsFn>(library_.get(), "SetupDiGetClassDevsA");
        enumInterfaces_ = entry<EnumInterfacesFn>(library_.get(), "SetupDiEnumDeviceInterfaces");
        getDetail_ = entry<GetDetailFn>(library_.get(), "SetupDiGetDeviceInterfaceDetailA");
        destroyList_ = entry<DestroyListFn>(library_.get(), "SetupDiDestroyDeviceInfoList");
        ready_ = getClassDevs_ && enumInterfaces_ && getDetail_ && destroyList_;
        return ready_;
    }
    void unload() override {
        library_.reset();
        ready_ = false;
    }
    bool loaded() const override { return ready_; }
    bool legacy() const override { return legacyWindows(); }

    std::vector<UsbInterface> present() override {
        std::vector<UsbInterface> found;
        if (!ready_) return found;
        HDEVINFO set = getClassDevs_(&kUsbPrintClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return found;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA itf{};
            itf.cbSize = sizeof itf;
            if (!enumInterfaces_(set, nullptr, &kUsbPrintClass, index, &itf)) {
                if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
                continue;
            }
            DWORD size = 0;
            getDetail_(set, &itf, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
            std::vector<std::uint8_t> buffer(size);
            auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!getDetail_(set, &itf, detail, size, nullptr, nullptr)) continue;
            found.push_back({detail->DevicePath, 0, 0, false});
        }
        destroyList_(set);
        return found;
    }

    bool probe(const UsbInterface& device) override {
        const UniqueFileHandle h(
            CreateFileA(device.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h) error_ = systemError("CreateFileA", static_cast<int>(GetLastError()));
        return static_cast<bool>(h);
    }

    bool open(const UsbInterface& device) override {
        close();
        const std::string path = device.path + CUsbPrinter::kPathSuffix;
        UniqueFileHandle h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr));
        if (!h) {
            error_ = systemError("CreateFileA", static_cast<int>(GetLastError()));
            return false;
        }
        handle_ = std::move(h);
        // A printer-class device ignores them; set as the device has always been given them.
        COMMTIMEOUTS timeouts{};
        GetCommTimeouts(handle_.get(), &timeouts);
        timeouts = {50, 0, 100, 300, 500};
        SetCommTimeouts(handle_.get(), &timeouts);
        return true;
    }

    bool isOpen() const override { return static_cast<bool>(handle_); }

    void close() override { handle_.reset(); }

    std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece, std::chrono::milliseconds limit) override {
        if (!handle_) return std::nullopt;
        const HANDLE device = handle_.get();
        // Manual reset: the event stays signalled once the write ends, for the wait and the result alike.
        const UniqueKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!event) return std::nullopt;
        OVERLAPPED ov{};
        ov.hEvent = event.get();
        DWORD written = 0;
        std::optional<std::size_t> result;
        if (WriteFile(device, piece.data(), static_cast<DWORD>(piece.size()), &written, &ov)) {
            result = written;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            // Sleeps on the event rather than asking again and again, so a stuck piece costs no processor time.
            const auto ms = limit.count();
            const DWORD wait =
                WaitForSingleObject(event.get(), ms <= 0 ? 0 : ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms));
            if (wait == WAIT_OBJECT_0 && GetOverlappedResult(device, &ov, &written, FALSE)) {
                result = written;
            } else if (wait != WAIT_OBJECT_0) {
                // The OVERLAPPED and the buffer belong to the driver until the cancelled write has ended.
                CancelIo(device);
                GetOverlappedResult(device, &ov, &written, TRUE);
            }
        }
        return result;
    }

    void purge() override {
        if (handle_) PurgeComm(handle_.get(), 0x0F);
    }

    // The printer class driver hands the bulk IN endpoint's data to ReadFile on the same handle.
    std::optional<std::size_t> readPiece(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override {
        if (!handle_) return std::nullopt;
        return readOverlapped(handle_.get(), buffer, limit, error_);
    }

    std::string lastError() const override { return error_; }

  private:
    UniqueModule library_;
    bool ready_ = false;
    GetClassDevsFn getClassDevs_ = nullptr;
    EnumInterfacesFn enumInterfaces_ = nullptr;
    GetDetailFn getDetail_ = nullptr;
    DestroyListFn destroyList_ = nullptr;
    UniqueFileHandle handle_;
    std::string error_;
};

} // namespace

std::unique_ptr<UsbDeviceLayer> makeUsbDeviceLayer() { return std::make_unique<SetupApiLayer>(); }

} // namespace tessera
