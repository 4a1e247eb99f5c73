#pragma once
// The virtual printer's command interpreter for one connection. Bytes arrive in pieces of any size; a
// command split across pieces is taken up where it stopped. Only the image being defined is buffered, so
// memory stays within one image's data plus the definition's accepted images (bounded by the capacity).
// NV graphics are kept by key beside the NV bit images, the families apart. Commands it does not keep (a
// whole family on a model without it, functions it does not know) are skipped by their parameter counts, so
// nothing inside image data or another command's parameters is ever taken for a command, real-time or not.
// A graphics define that is cut off, malformed or does not fit leaves the store as it was and is logged.
//
// It answers like a printer: DLE EOT as it comes, GS r, GS I and the NV graphics queries in order after what
// came before them, and an automatic status block on GS a and after each change. A definition it rejects or
// cannot store, or an erase it cannot store, leaves it in an auto-recoverable error (offline, GS r
// unanswered) until the connection ends.
//
// It prints like a printer: on paper paperDots wide, cutting off what lies beyond the right edge.
//
// Its log holds runs of the same event (stray bytes, prints of images that are not stored) back and writes
// each run as one line, so that a stream of garbage or `print --range all` cannot flood it.
//
// Storage, printing and logging go through PrinterHost, so the interpreter runs without disk or sockets.

#include "base/result.h"
#include "tools/nvlogo_printer/nv_file.h"
#include "tools/nvlogo_printer/page.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::vp {

class PrinterHost {
  public:
    virtual ~PrinterHost() = default;
    // Replaces every stored image with the definition; on failure the stored images stay as they were.
    virtual Status defineImages(ImageList images) = 0;
    virtual Status eraseImages() = 0;
    // Image number (1-based, in definition order), or null when there is none.
    virtual std::shared_ptr<const NvImage> image(int number) = 0;
    // A page that was cut off the paper; never empty.
    virtual void cutPage(const Bitmap& page) = 0;
    virtual void log(const std::string& line) = 0;
    // A line about something that failed (a definition rejected or not stored, a printout not written):
    // kept when the log shows errors only.
    virtual void error(const std::string& line) { log(line); }
    // The stored NV graphics: a snapshot that stays as it is while the store changes. The default keeps them
    // in memory.
    virtual std::shared_ptr<const GraphicsStore> graphics();
    // Applies change to a copy of the store and keeps the copy (where the host has a disk, written there
    // first); a change that fails, or a write that fails, leaves the store as it was and is returned.
    virtual Status changeGraphics(const std::function<Status(GraphicsStore&)>& change);
    // The keys of the stored NV graphics, two characters each, in the order the key list gives them.
    virtual std::vector<std::string> graphicsKeys() { return graphics()->keys(); }

  private:
    std::shared_ptr<const GraphicsStore> graphics_ = std::make_shared<const GraphicsStore>();
};

// both: NV bit images (FS q) and NV graphics (GS ( L, GS 8 L); bitImage: FS q only, GS ( L and GS 8 L
// skipped whole; graphics: NV graphics only, FS q logged as not supported and its data skipped; mute: takes
// both and answers nothing, like a write-only printer.
enum class PrinterModel { Both, BitImage, Graphics, Mute };
enum class PaperState { Ok, NearEnd, End };

struct PrinterConfig {
    std::size_t capacity = 262144; // NV bytes: each image's data plus 4
    int paperDots = 576;           // what lies beyond is not printed
    // A page that would grow beyond this many pixels is cut first, as if the roll ran out: a stream of prints
    // without a cut must not exhaust memory.
    std::size_t maxPagePixels = std::size_t{1} << 26;
    PrinterModel model = PrinterModel::Both;
    PaperState paper = PaperState::Ok; // with the paper at its end nothing prints
    bool coverOpen = false;            // with the cover open nothing prints
    std::uint64_t graphicsCapacity = 262144; // NV graphics bytes: each key's data plus 16
    // The GS I 65 and 68 answers.
    std::string firmware = "1.0";
    std::string serialNumber = "VP";
};

// FS q as it arrives. Once the images pass the capacity, or on a model without FS q, their data is counted but
// no longer kept.
struct PendingDefinition {
    int count = 0;
    int done = 0;
    std::size_t nvBytes = 0;
    bool overCapacity = false;
    bool unsupported = false;
    ImageList images;
    NvImage current;
    std::size_t dataLeft = 0;
};

class VirtualPrinter {
  public:
    VirtualPrinter(PrinterHost& host, PrinterConfig config);

    // Executes the bytes and returns what the printer sends back (answers and automatic status blocks).
    std::vector<std::uint8_t> feed(std::span<const std::uint8_t> bytes);

    // The connection ended: a definition in progress is rejected and the paper printed so far is cut off.
    void finish();

    // Logs the run of like events held back so far, if any. The caller calls it when the host pauses, so that
    // the log keeps up with it; a run of events is then split in two lines.
    void flushLog();
    bool holdsLog() const { return run_.count > 0; }

    // A key-list block was sent and the printer waits for ACK, NAK or CAN; the caller gives the host
    // kHandshakeWait and then calls hostSilent().
    bool awaitingHost() const { return state_ == State::Handshake; }
    void hostSilent();

    static constexpr std::chrono::seconds kHandshakeWait{5};
    static constexpr std::size_t kKeysPerBlock = 40;
    static constexpr const char* kMaker = "Tessera";
    static constexpr const char* kModelName = "Virtual 80";
    // How many of the things that vary in a run of events (the bytes, the image numbers) its line names
    // before the last one.
    static constexpr std::size_t kRunDetails = 8;

  private:
    enum class State : std::uint8_t {
        Command,
        Esc,
        Fs,
        Gs,
        DefineCount,
        DefineHeader,
        DefineData,
        PrintArgs,
        CutMode,
        CutFeed,
        StatusArg,
        Dle,
        RealTimeArg,
        StatusRequestArg,
        IdRequestArg,
        GsParen,
        GsEight,
        GraphicsLength,
        GraphicsBody,
        Handshake,
    };

    // Events whose runs are logged as one line. Line: any other line, a run being the same line repeated.
    enum class Event : std::uint8_t { Line, IgnoredByte, NotStored, NoPaper, CoverOpen };
    struct Run {
        Event event = Event::Line;
        std::string line;               // of Event::Line
        std::size_t count = 0;          // 0: no run held back
        std::vector<std::string> first; // the first kRunDetails details (a byte, an image number)
        std::string last;               // the last detail, once there are more
    };

    static const char* commandName(State state); // of a state inside a command
    void note(Event event, std::string detail);
    void logLine(std::string line) { note(Event::Line, std::move(line)); }
    void logError(const std::string& line);
    std::string runLine() const;
    void step(std::uint8_t b);
    void unknown(std::uint8_t prefix, std::uint8_t b);
    std::size_t takeData(std::span<const std::uint8_t> bytes);
    void startDefinition(int count);
    void imageHeader();
    void endDefinition();
    void rejectDefinition(const std::string& why);
    void erase();
    void printImage(int number, std::uint8_t scaling);
    void cut(std::optional<int> feed);
    void setAutomaticStatus(std::uint8_t n);
    void cutPage();
    void realTimeStatus(std::uint8_t n);
    void statusRequest(std::uint8_t n);
    void idRequest(std::uint8_t n);
    void startGraphics(std::uint8_t function, int lengthBytes);
    std::size_t skipGraphics(std::span<const std::uint8_t> bytes);
    void graphicsParams();
    void graphicsCommand();
    void defineGraphic();
    void deleteGraphics(std::optional<std::string> key);
    void printGraphic(const std::string& key, std::uint8_t x, std::uint8_t y);
    void addToPage(Print print);
    void sendKeyBlock();
    void handshake(std::uint8_t b);
    void setError(const std::string& why);
    bool offline() const;
    bool answers(const std::string& what);
    void reply(std::initializer_list<std::uint8_t> bytes);
    void replyBlock(std::uint8_t header, std::optional<std::uint8_t> id, std::string_view data);
    std::array<std::uint8_t, 4> automaticStatus() const;

    PrinterHost& host_;
    PrinterConfig config_;
    State state_ = State::Command;
    std::uint8_t args_[4] = {};
    int argCount_ = 0;
    std::optional<PendingDefinition> definition_;
    bool automaticStatus_ = false;
    bool error_ = false; // auto-recoverable, until the connection ends
    // GS ( fn and GS 8 L: the function, how many length bytes, the length, what is left and the first
    // parameter bytes, which say what a query asks.
    std::uint8_t graphicsFunction_ = 0;
    int lengthBytes_ = 0;
    std::uint64_t bodyLength_ = 0;
    std::uint64_t bodyLeft_ = 0;
    // The parameters of a graphics define before its data: 30 43 30 kc1 kc2 01 xL xH yL yH 31.
    std::array<std::uint8_t, 11> params_{};
    // A define whose data is kept; otherwise why it is not (empty for other functions).
    bool keepGraphic_ = false;
    std::string graphicProblem_;
    std::vector<std::uint8_t> graphicData_;
    std::vector<std::string> keys_; // the key list being sent
    std::size_t keyBlock_ = 0;
    std::vector<Print> page_;
    std::size_t pageHeight_ = 0;
    std::vector<std::uint8_t> replies_;
    Run run_;
};

} // namespace tessera::vp
