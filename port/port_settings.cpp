#include "port/port_settings.h"

#include <cstdlib>

namespace tessera {

namespace {

struct Baud {
    const char* text;
    int code;
    int speed;
};
constexpr Baud kBauds[] = {
    {"1200 bps", 3, 1200},   {"2400 bps", 4, 2400},   {"4800 bps", 5, 4800},   {"9600 bps", 6, 9600},
    {"19200 bps", 7, 19200}, {"38400 bps", 8, 38400}, {"57600 bps", 9, 57600}, {"115200 bps", 10, 115200},
};

} // namespace

int baudCodeOf(const std::string& text) {
    for (const Baud& b : kBauds)
        if (text == b.text) return b.code;
    return 7;
}

int lineSpeedOf(int baudCode) {
    for (const Baud& b : kBauds)
        if (b.code == baudCode) return b.speed;
    return 0;
}

int baudCodeOfSpeed(int bitsPerSecond) {
    for (const Baud& b : kBauds)
        if (b.speed == bitsPerSecond) return b.code;
    return 0;
}

int tcpPortOfText(const std::string& text) { return std::atoi(text.c_str()); }

} // namespace tessera
