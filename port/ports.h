#pragma once
// The port objects that the dispatcher drives, each behind a small interface so that every platform only
// adds a backend and the dispatcher is tested against doubles.

#include "base/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tessera {

// A printer installed in the system's spooler, written as one raw document.
class PrinterSpooler {
  public:
    virtual ~PrinterSpooler() = default;
    virtual bool openPrinter(const std::string& printerName) = 0;
    // Starts a level-1 document with the name and data type ("RAW") and no output file.
    virtual bool startDocument(const std::string& documentName, const std::string& dataType) = 0;
    // Writes into the open document; sets written to the bytes the spooler took (it may take fewer).
    virtual bool writePrinter(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
    virtual bool endDocument() = 0;
    virtual bool closePrinter() = 0;
    // The last failure in words, naming the failed call; empty when none (or the spooler cannot tell).
    virtual std::string lastError() const { return {}; }
};

// A serial port, a parallel port or the USB printer: opened by name for one transfer.
class LinePort {
  public:
    virtual ~LinePort() = default;
    // 0 when open; non-zero codes are the port's own (the dispatcher passes a failure on as −1).
    virtual int open(const std::string& portName, int baudCode) = 0;
    // True only when every byte was written. A port that is not open writes nothing and fails.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    virtual void close() = 0;
    // Closes without any byte of the port's own (the USB printer's last byte 00), for an exchange that sends
    // nothing but its requests, or a transfer that stops before its stream.
    virtual void closeQuietly() { close(); }
    // The USB printers of one family switch automatic status back on again at the end of a transfer.
    virtual bool reEnablesStatus() const { return false; }
    // What the printer sent back, waiting at most timeout for the first byte (see ReplySource); a port with
    // no way back says so with an Io error.
    virtual Result<std::size_t> read(std::span<std::uint8_t>, std::chrono::milliseconds) {
        return ioError("this port cannot read the printer's answers");
    }
    // Waits at most limit until the bytes written have left the host.
    virtual Status drain(std::chrono::milliseconds) { return {}; }
    // The last failure in words, naming the failed call ("open: Permission denied"); empty when none.
    virtual std::string lastError() const { return {}; }
};

// A network printer reached over TCP.
class NetworkPort {
  public:
    virtual ~NetworkPort() = default;
    // 0 connected; −1, −2, −3 or 8 failed.
    virtual int connect(const std::string& ipAddress, int tcpPort) = 0;
    // 1 when the socket took every byte, −1 on failure.
    virtual int send(std::span<const std::uint8_t> bytes) = 0;
    // The finishing exchange (it writes 1D 61 00). 1 when the printer took the whole transfer, 0 when the
    // connection failed or the peer did not acknowledge every byte in time.
    virtual int finish() = 0;
    virtual void close() = 0;
    // As LinePort::read and LinePort::lastError.
    virtual Result<std::size_t> read(std::span<std::uint8_t>, std::chrono::milliseconds) {
        return ioError("this port cannot read the printer's answers");
    }
    virtual std::string lastError() const { return {}; }
};

// One object of each kind, owned elsewhere. A missing one (null) behaves like a port that cannot be
// opened.
struct PortSet {
    PrinterSpooler* spooler = nullptr;
    LinePort* serial = nullptr;
    LinePort* parallel = nullptr;
    LinePort* usb = nullptr;
    NetworkPort* network = nullptr;
};

} // namespace tessera
