#include "cli/fleet_system.h"

#include <atomic>
#include <csignal>
#include <cstdint>

#include <sys/resource.h>

namespace tessera::cli {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true);
}

class PosixFleetSystem : public FleetSystem {
  public:
    PosixFleetSystem() {
        gInterrupted.store(false);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        // The first Ctrl-C asks for a stop; the handler then reverts, so that a second one ends the process.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;

        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return;
        if (files.rlim_cur != files.rlim_max) {
            rlimit raised = files;
            raised.rlim_cur = files.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
        }
        limit_ = files.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<std::size_t>(files.rlim_cur);
    }
    ~PosixFleetSystem() override {
        if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    }
    bool interrupted() const override { return gInterrupted.load(); }
    std::size_t openFileLimit() const override { return limit_; }

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
    std::size_t limit_ = SIZE_MAX;
};

} // namespace

std::unique_ptr<FleetSystem> makeFleetSystem() {
    return std::make_unique<PosixFleetSystem>();
}

} // namespace tessera::cli
