#pragma once
// What a rollout needs of the operating system: Ctrl-C as a request to stop, and as many open files as the
// system allows (one socket or device per printer at work). One implementation per platform.

#include <cstddef>
#include <memory>

namespace tessera::cli {

class FleetSystem {
  public:
    virtual ~FleetSystem() = default;
    // Ctrl-C was pressed since the object was made (a second one ends the process as usual).
    virtual bool interrupted() const = 0;
    // Files the process may hold open now; SIZE_MAX where the system sets no limit that matters.
    virtual std::size_t openFileLimit() const = 0;
};

// Catches Ctrl-C until destroyed, and raises the process's open-file limit as far as the system allows (on
// POSIX the soft RLIMIT_NOFILE up to the hard one).
std::unique_ptr<FleetSystem> makeFleetSystem();

} // namespace tessera::cli
