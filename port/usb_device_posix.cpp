// The USB printer on Linux, through libusb: the printer-class interface of each device, its bulk OUT endpoint
// and, when it has one, its bulk IN endpoint for the printer's answers. The kernel's line-printer driver is
// set aside while we use the device and given back afterwards.
//
// libusb is opened at first use, not linked, like libcups: only the usb ports need it, and a program that
// starts without it still saves, previews and talks to network and serial printers.

#include "port/usb_printer.h"

#include "base/unique_handle.h"
#include "port/runtime_library.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

constexpr std::uint8_t kPrinterClass = 7;

// The entry points this file calls, with the types of the header, so that a mismatch fails to compile.
struct UsbApi {
    decltype(&libusb_init) init = nullptr;
    decltype(&libusb_exit) exit = nullptr;
    decltype(&libusb_strerror) strerror = nullptr;
    decltype(&libusb_get_device_list) getDeviceList = nullptr;
    decltype(&libusb_free_device_list) freeDeviceList = nullptr;
    decltype(&libusb_get_device_descriptor) getDeviceDescriptor = nullptr;
    decltype(&libusb_get_active_config_descriptor) getActiveConfigDescriptor = nullptr;
    decltype(&libusb_get_config_descriptor) getConfigDescriptor = nullptr;
    decltype(&libusb_free_config_descriptor) freeConfigDescriptor = nullptr;
    decltype(&libusb_get_bus_number) getBusNumber = nullptr;
    decltype(&libusb_get_device_address) getDeviceAddress = nullptr;
    decltype(&libusb_open) open = nullptr;
    decltype(&libusb_close) close = nullptr;
    decltype(&libusb_kernel_driver_active) kernelDriverActive = nullptr;
    decltype(&libusb_detach_kernel_driver) detachKernelDriver = nullptr;
    decltype(&libusb_attach_kernel_driver) attachKernelDriver = nullptr;
    decltype(&libusb_claim_interface) claimInterface = nullptr;
    decltype(&libusb_release_interface) releaseInterface = nullptr;
    decltype(&libusb_bulk_transfer) bulkTransfer = nullptr;
    std::string error; // empty when every entry point was found
};

UsbApi loadUsb() {
    UsbApi api;
    RuntimeLibrary usb("libusb-1.0.so.0", "USB library", "USB printers need it (Debian package libusb-1.0-0)");
    usb.bind("libusb_init", api.init)
        .bind("libusb_exit", api.exit)
        .bind("libusb_strerror", api.strerror)
        .bind("libusb_get_device_list", api.getDeviceList)
        .bind("libusb_free_device_list", api.freeDeviceList)
        .bind("libusb_get_device_descriptor", api.getDeviceDescriptor)
        .bind("libusb_get_active_config_descriptor", api.getActiveConfigDescriptor)
        .bind("libusb_get_config_descriptor", api.getConfigDescriptor)
        .bind("libusb_free_config_descriptor", api.freeConfigDescriptor)
        .bind("libusb_get_bus_number", api.getBusNumber)
        .bind("libusb_get_device_address", api.getDeviceAddress)
        .bind("libusb_open", api.open)
        .bind("libusb_close", api.close)
        .bind("libusb_kernel_driver_active", api.kernelDriverActive)
        .bind("libusb_detach_kernel_driver", api.detachKernelDriver)
        .bind("libusb_attach_kernel_driver", api.attachKernelDriver)
        .bind("libusb_claim_interface", api.claimInterface)
        .bind("libusb_release_interface", api.releaseInterface)
        .bind("libusb_bulk_transfer", api.bulkTransfer);
    api.error = usb.error();
    return api;
}

// Loaded once, by whichever thread comes first (the reconnect thread may).
// Every call below runs only once load() found the library whole: a context or a handle exists only then.
const UsbApi& usb() {
    static const UsbApi api = loadUsb();
    return api;
}

struct Endpoint {
    std::uint8_t bus = 0, address = 0;
    int interface = -1;
    std::uint8_t out = 0;
    std::uint8_t in = 0; // 0: no way back
};

std::string nameOf(const Endpoint& e) {
    char text[32];
    std::snprintf(text, sizeof text, "%03u-%03u", e.bus, e.address);
    return text;
}

std::string usbError(const char* call, int r) {
    return std::string(call) + ": " + usb().strerror(r);
}

// The first printer-class interface of the device with a bulk OUT endpoint, and its bulk IN endpoint.
bool printerEndpoint(libusb_device* device, Endpoint& found) {
    libusb_config_descriptor* config = nullptr;
    if (usb().getActiveConfigDescriptor(device, &config) != 0 && usb().getConfigDescriptor(device, 0, &config) != 0)
        return false;
    bool ok = false;
    for (int i = 0; i < config->bNumInterfaces && !ok; ++i) {
        const libusb_interface& itf = config->interface[i];
        for (int a = 0; a < itf.num_altsetting && !ok; ++a) {
            const libusb_interface_descriptor& alt = itf.altsetting[a];
            if (alt.bInterfaceClass != kPrinterClass) continue;
            std::uint8_t out = 0, in = 0;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
                if ((ep.bEndpointAddress & 0x80) == LIBUSB_ENDPOINT_OUT && !out) out = ep.bEndpointAddress;
                if ((ep.bEndpointAddress & 0x80) == LIBUSB_ENDPOINT_IN && !in) in = ep.bEndpointAddress;
            }
            if (out) {
                found.interface = alt.bInterfaceNumber;
                found.out = out;
                found.in = in;
                ok = true;
            }
        }
    }
    usb().freeConfigDescriptor(config);
    return ok;
}

struct ContextCloser {
    using Handle = libusb_context*;
    static constexpr Handle invalid() { return nullptr; }
    void operator()(Handle context) const { usb().exit(context); }
};
using UsbContext = UniqueHandle<ContextCloser>;

// A device opened and nothing more.
struct DeviceCloser {
    using Handle = libusb_device_handle*;
    static constexpr Handle invalid() { return nullptr; }
    void operator()(Handle device) const { usb().close(device); }
};
using UsbDevice = UniqueHandle<DeviceCloser>;

// A device whose printer interface we claimed: closing gives the interface, and the kernel's driver when it was
// set aside, back first.
struct ClaimCloser {
    using Handle = libusb_device_handle*;
    static constexpr Handle invalid() { return nullptr; }
    void operator()(Handle device) const {
        usb().releaseInterface(device, interface);
        if (detached) usb().attachKernelDriver(device, interface);
        usb().close(device);
    }
    int interface = -1;
    bool detached = false;
};
using ClaimedDevice = UniqueHandle<ClaimCloser>;

class LibusbLayer : public UsbDeviceLayer {
  public:
    bool load() override {
        if (!context_) {
            if (!usb().error.empty()) {
                error_ = usb().error;
                return false;
            }
            libusb_context* context = nullptr;
            const int r = usb().init(&context);
            if (r != 0) {
                error_ = "USB is not available here (" + usbError("libusb_init", r) + ")";
                return false;
            }
            context_.reset(context);
        }
        loaded_ = true;
        return true;
    }
    void unload() override { loaded_ = false; }
    bool loaded() const override { return loaded_; }

    std::vector<UsbInterface> present() override {
        std::vector<UsbInterface> found;
        endpoints_.clear();
        if (!context_) return found;
        libusb_device** list = nullptr;
        const ssize_t n = usb().getDeviceList(context_.get(), &list);
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            Endpoint e;
            if (usb().getDeviceDescriptor(list[i], &d) != 0 || !printerEndpoint(list[i], e)) continue;
            e.bus = usb().getBusNumber(list[i]);
            e.address = usb().getDeviceAddress(list[i]);
            endpoints_.push_back(e);
            found.push_back({nameOf(e), d.idVendor, d.idProduct, true});
        }
        if (list) usb().freeDeviceList(list, 1);
        return found;
    }

    bool probe(const UsbInterface& device) override { return static_cast<bool>(openByName(device.path)); }

    bool open(const UsbInterface& device) override {
        close();
        const Endpoint* e = endpointOf(device.path);
        UsbDevice h = e ? openByName(device.path) : UsbDevice();
        if (!h) return false;
        const bool detached = usb().kernelDriverActive(h.get(), e->interface) == 1 &&
                              usb().detachKernelDriver(h.get(), e->interface) == 0;
        const int r = usb().claimInterface(h.get(), e->interface);
        if (r != 0) {
            error_ = "the USB printer " + device.path + " is in use (" + usbError("libusb_claim_interface", r) + ")";
            if (detached) usb().attachKernelDriver(h.get(), e->interface);
            return false;
        }
        handle_ = ClaimedDevice(h.release(), {e->interface, detached});
        current_ = *e;
        return true;
    }

    bool isOpen() const override { return static_cast<bool>(handle_); }

    void close() override { handle_.reset(); }

    std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece,
                                          std::chrono::milliseconds limit) override {
        if (!handle_) return std::nullopt;
        int done = 0;
        const int r = usb().bulkTransfer(handle_.get(), current_.out, const_cast<unsigned char*>(piece.data()),
                                         static_cast<int>(piece.size()), &done,
                                         static_cast<unsigned>(std::min<long long>(limit.count(), 0x7FFFFFFF)));
        if (r == 0 || (r == LIBUSB_ERROR_TIMEOUT && done > 0)) return static_cast<std::size_t>(done);
        error_ = usbError("libusb_bulk_transfer", r);
        return std::nullopt;
    }

    std::optional<std::size_t> readPiece(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override {
        if (!handle_) return std::nullopt;
        if (!current_.in) {
            error_ = "read: the USB printer has no answer channel (no bulk IN endpoint)";
            return std::nullopt;
        }
        int done = 0;
        // libusb takes 0 as no limit at all.
        const auto ms = static_cast<unsigned>(std::clamp<long long>(limit.count(), 1, 0x7FFFFFFF));
        const int r =
            usb().bulkTransfer(handle_.get(), current_.in, buffer.data(), static_cast<int>(buffer.size()), &done, ms);
        if (r == 0 || r == LIBUSB_ERROR_TIMEOUT) return static_cast<std::size_t>(std::max(done, 0));
        error_ = usbError("libusb_bulk_transfer", r);
        return std::nullopt;
    }

    // A bulk pipe keeps nothing that could be dropped.
    void purge() override {}

    std::string lastError() const override { return error_; }

  private:
    const Endpoint* endpointOf(const std::string& name) const {
        for (const Endpoint& e : endpoints_)
            if (nameOf(e) == name) return &e;
        return nullptr;
    }

    UsbDevice openByName(const std::string& name) {
        const Endpoint* e = endpointOf(name);
        if (!e || !context_) return {};
        libusb_device** list = nullptr;
        const ssize_t n = usb().getDeviceList(context_.get(), &list);
        libusb_device_handle* h = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            if (usb().getBusNumber(list[i]) != e->bus || usb().getDeviceAddress(list[i]) != e->address) continue;
            const int r = usb().open(list[i], &h);
            if (r == LIBUSB_ERROR_ACCESS)
                error_ = "no permission to use the USB printer " + name +
                         ": install the udev rule that comes with Tessera (udev/60-tessera-printers.rules, "
                         "into /etc/udev/rules.d), add yourself to the group lp and plug the printer in again";
            else if (r != 0)
                error_ = "the USB printer " + name + " cannot be opened (" + usbError("libusb_open", r) + ")";
            if (r != 0) h = nullptr;
            break;
        }
        if (list) usb().freeDeviceList(list, 1);
        return UsbDevice(h);
    }

    // Declared first: the library's context must outlive every device opened in it.
    UsbContext context_;
    bool loaded_ = false;
    std::vector<Endpoint> endpoints_;
    ClaimedDevice handle_;
    Endpoint current_;
    std::string error_;
};

} // namespace

std::unique_ptr<UsbDeviceLayer> makeUsbDeviceLayer() { return std::make_unique<LibusbLayer>(); }

} // namespace tessera
