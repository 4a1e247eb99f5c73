#pragma once
// The transport of a transfer. The numbers are the ones the settings and the dispatcher use.

namespace tessera {

enum class PortKind : int {
    Driver = 0,   // an installed printer used as a raw pass-through
    Serial = 1,
    Parallel = 2,
    Usb = 3,
    Network = 4,
};

} // namespace tessera
