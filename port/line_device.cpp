#include "port/line_device.h"

#include <cctype>

namespace tessera {

namespace {

// The number n of "PREFIXn" (1..max), or 0 when the name is no such port.
int portNumber(const std::string& name, const char* prefix, int max) {
    const std::string p(prefix);
    if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0) return 0;
    int n = 0;
    for (std::size_t i = p.size(); i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > max) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= max ? n : 0;
}

} // namespace

std::string windowsSerialDevicePath(const std::string& portName) {
    if (portName.rfind("\\\\", 0) == 0) return portName;
    return "\\\\.\\" + portName;
}

std::string linuxSerialDevicePath(const std::string& portName) {
    const int n = portNumber(portName, "COM", 12);
    return n ? "/dev/ttyS" + std::to_string(n - 1) : portName;
}

std::string linuxParallelDevicePath(const std::string& portName) {
    const int n = portNumber(portName, "LPT", 2);
    return n ? "/dev/lp" + std::to_string(n - 1) : portName;
}

} // namespace tessera
