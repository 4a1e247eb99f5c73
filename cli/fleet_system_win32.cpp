#include "cli/fleet_system.h"

#include <atomic>
#include <cstdint>

#include <windows.h>

namespace tessera::cli {

namespace {

std::atomic<bool> gInterrupted{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // The first Ctrl-C asks for a stop; a second one ends the process as usual.
    return gInterrupted.exchange(true) ? FALSE : TRUE;
}

class WindowsFleetSystem : public FleetSystem {
  public:
    WindowsFleetSystem() {
        gInterrupted.store(false);
        installed_ = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    }
    ~WindowsFleetSystem() override {
        if (installed_) SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    }
    bool interrupted() const override { return gInterrupted.load(); }
    // Sockets and device handles are kernel handles here, which no per-process table caps.
    std::size_t openFileLimit() const override { return SIZE_MAX; }

  private:
    bool installed_ = false;
};

} // namespace

std::unique_ptr<FleetSystem> makeFleetSystem() {
    return std::make_unique<WindowsFleetSystem>();
}

} // namespace tessera::cli
