#include "cli/ledger.h"

#include "base/file_io.h"
#include "base/json_writer.h"

#include <cstdio>
#include <filesystem>

namespace tessera::cli {

namespace {

constexpr std::size_t kMaxLedgerBytes = std::size_t{256} << 20;

// Just enough JSON for the ledger's layout: objects and strings, nothing else.
class LedgerParser {
  public:
    explicit LedgerParser(std::string_view text) : text_(text) {}

    Result<LedgerEntries> parse() {
        LedgerEntries entries;
        bool sawPrinters = false;
        Status s = object([&](const std::string& key) -> Status {
            if (key != "printers") return skipString();
            sawPrinters = true;
            return object([&](const std::string& port) -> Status {
                LedgerEntry entry;
                Status inner = object([&](const std::string& field) -> Status {
                    auto value = string();
                    if (!value) return value.error();
                    if (field == "sha256") entry.sha256 = *value;
                    if (field == "confirmed") entry.confirmed = *value;
                    return {};
                });
                if (!inner) return inner;
                if (entry.sha256.size() != 64 ||
                    entry.sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
                    return fail("the entry of " + port + " has no sha256 of 64 hexadecimal digits");
                if (shownTime(entry.confirmed).empty())
                    return fail("the entry of " + port + " has no time as 2026-12-07T14:02:11Z");
                // Keys are written in printable ASCII (see keyOf); anything else was not written by nvlogo.
                for (unsigned char c : port)
                    if (c < 0x20 || c > 0x7e) return fail("a printer key with a byte nvlogo does not write");
                if (!entries.emplace(port, entry).second) return fail(port + " is listed twice");
                return {};
            });
        });
        if (!s) return s.error();
        skipSpace();
        if (at_ != text_.size()) return fail("text after the end").error();
        if (!sawPrinters) return fail("no \"printers\" member").error();
        return entries;
    }

  private:
    Status fail(const std::string& why) { return badInput(why + " at byte " + std::to_string(at_)); }
    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool take(char c) {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    template <class Member> Status object(Member member) {
        if (++depth_ > 3) return fail("nested too deeply");
        if (!take('{')) return fail("expected {");
        if (!take('}')) {
            do {
                auto key = string();
                if (!key) return key.error();
                if (!take(':')) return fail("expected :");
                if (Status s = member(*key); !s) return s;
            } while (take(','));
            if (!take('}')) return fail("expected , or }");
        }
        --depth_;
        return {};
    }
    Status skipString() {
        auto s = string();
        return s ? Status() : Status(s.error());
    }
    Result<std::string> string() {
        if (!take('"')) return fail("expected a string").error();
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string").error();
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) break;
            const char e = text_[at_++];
            static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
            if (const auto i = kFrom.find(e); i != std::string_view::npos) {
                out += kTo[i];
            } else if (e == 'u' && at_ + 4 <= text_.size() &&
                       text_.substr(at_, 4).find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
                // The writer escapes only control characters this way, so one byte is all a code can be.
                const unsigned code = static_cast<unsigned>(std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16));
                if (code > 0x7f) return fail("an escape the ledger never writes").error();
                out += static_cast<char>(code);
                at_ += 4;
            } else {
                return fail("a bad escape in a string").error();
            }
        }
        return fail("a string without its end").error();
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int depth_ = 0;
};

// The port as a key in printable ASCII: other bytes, and %, as %XX. An installed printer's name in a
// Windows code page is not UTF-8, which JSON text would not carry unchanged.
std::string keyOf(const std::string& port) {
    std::string key;
    for (unsigned char c : port) {
        if (c >= 0x20 && c < 0x7f && c != '%') {
            key += static_cast<char>(c);
            continue;
        }
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        key += escaped;
    }
    return key;
}

} // namespace

Result<LedgerEntries> parseLedger(std::string_view text, const std::string& file) {
    auto entries = LedgerParser(text).parse();
    if (!entries) return badInput(file + ": damaged ledger (" + entries.error().message + "); fix or remove it");
    return entries;
}

std::string ledgerText(const LedgerEntries& entries) {
    json::Writer w;
    w.beginObject().key("printers").beginObject();
    for (const auto& [port, entry] : entries)
        w.key(port).beginObject().key("sha256").value(entry.sha256).key("confirmed").value(entry.confirmed).endObject();
    w.endObject().endObject();
    return w.text() + "\n";
}

std::string ledgerTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day ymd(day);
    const hh_mm_ss time(floor<seconds>(when - day));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string shownTime(const std::string& stored) {
    // YYYY-MM-DDTHH:MM:SSZ, digits where digits belong.
    if (stored.size() != 20 || stored[10] != 'T' || stored[19] != 'Z') return {};
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u})
        if (stored[i] < '0' || stored[i] > '9') return {};
    if (stored[4] != '-' || stored[7] != '-' || stored[13] != ':' || stored[16] != ':') return {};
    return stored.substr(0, 10) + " " + stored.substr(11, 5);
}

Ledger::Ledger(std::string path, std::unique_ptr<FileLock> lock, LedgerEntries entries)
    : path_(std::move(path)), lock_(std::move(lock)), entries_(std::move(entries)) {}

Result<std::unique_ptr<Ledger>> Ledger::open(const std::string& path, bool lock) {
    std::unique_ptr<FileLock> held;
    if (lock) {
        auto taken = lockFile(path + ".lock", path);
        if (!taken) return taken.error();
        held = std::move(*taken);
    }
    LedgerEntries entries;
    if (auto bytes = readWholeFile(path, kMaxLedgerBytes)) {
        auto parsed = parseLedger({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, path);
        if (!parsed) return parsed.error();
        entries = std::move(*parsed);
    } else if (std::error_code ec; std::filesystem::exists(path, ec) || ec) {
        return badInput(bytes.error().message);
    }
    return std::unique_ptr<Ledger>(new Ledger(path, std::move(held), std::move(entries)));
}

std::optional<std::string> Ledger::unchangedSince(const std::string& port, const std::string& sha256) const {
    const auto it = entries_.find(keyOf(port));
    if (it == entries_.end() || it->second.sha256 != sha256) return std::nullopt;
    return shownTime(it->second.confirmed);
}

void Ledger::record(const std::string& port, const std::string& sha256, std::chrono::system_clock::time_point when) {
    entries_[keyOf(port)] = {sha256, ledgerTime(when)};
}

void Ledger::forget(const std::string& port) {
    entries_.erase(keyOf(port));
}

Status Ledger::save() const {
    const std::string text = ledgerText(entries_);
    return writeFileAtomically(path_, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

} // namespace tessera::cli
