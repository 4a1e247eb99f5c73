#pragma once
// The port-related selections an operation gathers when it starts, and the baud-code table.

#include <string>

namespace tessera {

struct PortSettings {
    bool useDriver = false;
    std::string printerName; // at most 127 characters
    std::string portName;    // "LPT1", "LPT2", "USB", "TCP/IP", "COM1" .. "COM12"
    int baudCode = 7;        // 3..10, see baudCodeOf
    // Carried for the settings file; a serial port is always opened 8-N-1 without flow control.
    int bitLengthIndex = 0;
    int parityIndex = 0;
    int stopBitIndex = 0;
    int handshakeIndex = 0;
    std::string ipAddress;   // dotted IPv4
    int tcpPort = 9100;
};

// The baud code of a BaudRate text ("1200 bps" 3 .. "115200 bps" 10), compared exactly; any other text 7.
int baudCodeOf(const std::string& text);
// The line speed of a baud code 3..10; 0 for any other code.
int lineSpeedOf(int baudCode);
// The baud code of a line speed; 0 when the speed is not in the table.
int baudCodeOfSpeed(int bitsPerSecond);

// The TCP port of the port edit's text, as the C library's atoi reads it (leading digits; none gives 0).
int tcpPortOfText(const std::string& text);

} // namespace tessera
