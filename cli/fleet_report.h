#pragma once
// The machine-readable record of a rollout: one JSON object per printer, one per line (JSON Lines), written
// as each printer finishes.

#include "base/result.h"
#include "cli/port_spec.h"

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::cli {

// What became of one printer, as the report gives it.
struct FleetRecord {
    // "confirmed", "not-confirmed", "failed", "skipped", "interrupted"; "answered" (status); "would-send" (a dry run)
    std::string result = "failed";
    std::uint64_t bytes = 0;        // of the stream, without the status requests
    std::uint64_t milliseconds = 0; // all attempts and the waits between them
    unsigned attempts = 0;
    std::optional<std::string> error;
    std::optional<std::string> status; // the object status --json gives, as JSON text
    // Further members, each a name and its value as JSON text (a dry run's family and fit).
    std::vector<std::pair<std::string, std::string>> extra;
};

// {"port": …, "name": …, "result": …, "bytes": …, "milliseconds": …, "attempts": …, "error": …, "status": …}
std::string reportLine(const PortTarget& target, const FleetRecord& record);

class FleetReportFile {
  public:
    // Creates (or truncates) the file; "-" writes to standardOutput. BadInput naming the file when it cannot
    // be made.
    static Result<std::unique_ptr<FleetReportFile>> open(const std::string& path, std::ostream& standardOutput);

    // Adds one line and flushes it, from any thread.
    void write(const PortTarget& target, const FleetRecord& record);
    // Io naming the file when a line could not be written.
    Status status();

  private:
    FleetReportFile(std::string path, std::ostream& standardOutput);

    std::string path_;
    std::ofstream file_;
    std::ostream* out_;
    std::mutex mutex_;
};

} // namespace tessera::cli
