#pragma once
// The rollout ledger: per printer (its normalised port) the SHA-256 of the last stream it confirmed and when,
// so that a later rollout of the same stream can leave it alone. A JSON file:
//   {"printers": {"tcp:10.0.0.7:9100": {"sha256": "<64 hex digits>", "confirmed": "2026-12-07T14:02:11Z"}}}
// Written whole and atomically; a lock file beside it (LEDGER.lock) keeps two rollouts from interleaving.

#include "base/result.h"
#include "cli/file_lock.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessera::cli {

struct LedgerEntry {
    std::string sha256;    // 64 lower-case hexadecimal digits
    std::string confirmed; // UTC, "2026-12-07T14:02:11Z"
};

using LedgerEntries = std::map<std::string, LedgerEntry>;

// The entries of a ledger's text, keyed by port in printable ASCII (other bytes as %XX). Anything but the
// layout above (members other than these are ignored) is BadInput "FILE: damaged ledger (why); fix or remove
// it".
Result<LedgerEntries> parseLedger(std::string_view text, const std::string& file);
std::string ledgerText(const LedgerEntries& entries);

// "2026-12-07T14:02:11Z" for a moment, and "2026-12-07 14:02" for showing a stored time.
std::string ledgerTime(std::chrono::system_clock::time_point when);
std::string shownTime(const std::string& stored);

// An open ledger, locked for this process until destroyed.
class Ledger {
  public:
    // Reads the ledger (a missing file is an empty ledger), with lock first taking its lock for as long as the
    // object lives. BadInput when it is locked, damaged or unreadable; the file is left as it is.
    static Result<std::unique_ptr<Ledger>> open(const std::string& path, bool lock = true);

    // The time of the printer's entry when it holds this digest.
    std::optional<std::string> unchangedSince(const std::string& port, const std::string& sha256) const;
    void record(const std::string& port, const std::string& sha256, std::chrono::system_clock::time_point when);
    void forget(const std::string& port);
    // Writes the entries atomically; Io naming the file on failure.
    Status save() const;

  private:
    Ledger(std::string path, std::unique_ptr<FileLock> lock, LedgerEntries entries);

    std::string path_;
    std::unique_ptr<FileLock> lock_;
    LedgerEntries entries_;
};

} // namespace tessera::cli
