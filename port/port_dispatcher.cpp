#include "port/port_dispatcher.h"

#include <thread>

namespace tessera {

namespace {

constexpr std::uint8_t kStatusBackOff[3] = {0x1D, 0x61, 0x00};
constexpr std::uint8_t kStatusBackOn[3] = {0x1D, 0x61, 0xFF};

} // namespace

PortDispatcher::PortDispatcher(const PortSet& ports, Sleep sleep) : ports_(ports), sleep_(std::move(sleep)) {
    if (!sleep_) sleep_ = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
}

int PortDispatcher::OpenDriver(const std::string& printerName) {
    PrinterSpooler* spooler = ports_.spooler;
    if (!spooler || !spooler->openPrinter(printerName)) return 0;
    if (!spooler->startDocument(kDocumentName, kDataType)) {
        spooler->closePrinter();
        return 0;
    }
    kind_ = PortKind::Driver;
    driverOpen_ = true;
    return 1;
}

int PortDispatcher::CloseDriver() {
    if (!driverOpen_) return 0;
    if (!ports_.spooler->endDocument()) return 0;
    ports_.spooler->closePrinter();
    driverOpen_ = false;
    return 1;
}

int PortDispatcher::OpenPort(const std::string& portName, int baudCode, int, int, int, int) {
    const std::string head = portName.substr(0, 3);
    PortKind kind;
    if (head == "USB") kind = PortKind::Usb;
    else if (head == "COM") kind = PortKind::Serial;
    else if (head == "LPT") kind = PortKind::Parallel;
    // Required: an address here gets the baud code as its TCP port; a caller with a real port calls OpenNetworkPort.
    else return OpenNetworkPort(portName, baudCode);

    // The kind is set before the attempt, so after a failure it names the port that failed.
    kind_ = kind;
    LinePort* port = linePort(kind);
    if (!port) return -1;
    const int r = port->open(portName, baudCode);
    if (r == 0) return 0;
    port->close();
    return kind == PortKind::Usb ? r : -1;
}

int PortDispatcher::OpenNetworkPort(const std::string& ipAddress, int tcpPort) {
    kind_ = PortKind::Network;
    if (!ports_.network) return -1;
    const int r = ports_.network->connect(ipAddress, tcpPort);
    if (r != 0) ports_.network->close();
    return r;
}

int PortDispatcher::SendBytes(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return 1;
    const std::span<const std::uint8_t> block(bytes, count);
    bool taken = false;
    switch (kind_) {
    case PortKind::Driver:
        taken = sendToDriver(block);
        break;
    case PortKind::Network:
        taken = ports_.network && ports_.network->send(block) == 1;
        break;
    default: {
        LinePort* port = linePort(kind_);
        taken = port && port->write(block);
    }
    }
    if (taken) bytesTaken_ += count;
    return taken ? 1 : 0;
}

bool PortDispatcher::write(std::span<const std::uint8_t> bytes) { return SendBytes(bytes.data(), bytes.size()) == 1; }

bool PortDispatcher::sendToDriver(std::span<const std::uint8_t> bytes) {
    if (!driverOpen_) return false;
    // Whole blocks, continuing after a partial write: the printer receives the same bytes as with one call
    // per byte, without thousands of spooler calls per logo.
    while (!bytes.empty()) {
        std::size_t written = 0;
        if (!ports_.spooler->writePrinter(bytes, written) || written == 0 || written > bytes.size()) return false;
        bytes = bytes.subspan(written);
    }
    return true;
}

LinePort* PortDispatcher::linePort(PortKind kind) const {
    switch (kind) {
    case PortKind::Serial:
        return ports_.serial;
    case PortKind::Parallel:
        return ports_.parallel;
    case PortKind::Usb:
        return ports_.usb;
    default:
        return nullptr;
    }
}

Result<std::size_t> PortDispatcher::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    if (kind_ == PortKind::Network) {
        if (!ports_.network) return ioError("no network port");
        return ports_.network->read(buffer, timeout);
    }
    if (LinePort* port = linePort(kind_)) return port->read(buffer, timeout);
    return ioError("an installed printer passes no answers back");
}

Status PortDispatcher::drain(std::chrono::milliseconds limit) {
    LinePort* port = linePort(kind_);
    return port ? port->drain(limit) : Status{};
}

void PortDispatcher::ClosePort() {
    if (kind_ == PortKind::Driver) {
        CloseDriver();
    } else if (kind_ == PortKind::Network) {
        if (ports_.network) ports_.network->close();
    } else if (LinePort* port = linePort(kind_)) {
        port->closeQuietly();
    }
}

std::string PortDispatcher::portError() const {
    if (kind_ == PortKind::Network) return ports_.network ? ports_.network->lastError() : std::string();
    if (const LinePort* port = linePort(kind_)) return port->lastError();
    return ports_.spooler ? ports_.spooler->lastError() : std::string();
}

int PortDispatcher::FinishPort() {
    if (kind_ == PortKind::Network) {
        if (!ports_.network) return -1;
        const int done = ports_.network->finish();
        ports_.network->close();
        return done == 1 ? 0 : -1;
    }
    LinePort* port = linePort(kind_);
    if (!port) return 0; // printer driver: CloseDriver ends the document
    bool ok = port->write(kStatusBackOff);
    if (kind_ == PortKind::Usb && port->reEnablesStatus()) {
        sleep_(std::chrono::milliseconds(100));
        ok = port->write(kStatusBackOn) && ok;
        sleep_(std::chrono::milliseconds(2000));
    }
    port->close();
    return ok ? 0 : -1;
}

} // namespace tessera
