#pragma once
// The virtual printer's command interpreter for one connection. Bytes arrive in pieces of any size; a
// command split across pieces is taken up where it stopped. Only the image being defined is buffered, so
// memory stays within one image's data plus the definition's accepted images (bounded by the capacity).
//
// Storage, printing and logging go through PrinterHost, so the interpreter runs without disk or sockets.

#include "base/result.h"
#include "tools/nvlogo_printer/nv_file.h"
#include "tools/nvlogo_printer/page.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
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
};

struct PrinterConfig {
    std::size_t capacity = 262144; // NV bytes: each image's data plus 4
    int paperDots = 576;
    // A page that would grow beyond this many pixels is cut first, as if the roll ran out: a stream of prints
    // without a cut must not exhaust memory.
    std::size_t maxPagePixels = std::size_t{1} << 26;
};

// FS q as it arrives. Once the images pass the capacity, their data is counted but no longer kept.
struct PendingDefinition {
    int count = 0;
    int done = 0;
    std::size_t nvBytes = 0;
    bool overCapacity = false;
    ImageList images;
    NvImage current;
    std::size_t dataLeft = 0;
};

class VirtualPrinter {
  public:
    VirtualPrinter(PrinterHost& host, PrinterConfig config);

    // Executes the bytes and returns what the printer sends back (automatic status blocks).
    std::vector<std::uint8_t> feed(std::span<const std::uint8_t> bytes);

    // The connection ended: a definition in progress is rejected and the paper printed so far is cut off.
    void finish();

    static constexpr std::uint8_t kIdleStatus[4] = {0x10, 0x00, 0x00, 0x00};

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
    };

    static const char* commandName(State state); // of a state inside a command
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

    PrinterHost& host_;
    PrinterConfig config_;
    State state_ = State::Command;
    std::uint8_t args_[4] = {};
    int argCount_ = 0;
    std::optional<PendingDefinition> definition_;
    bool automaticStatus_ = false;
    std::vector<Print> page_;
    std::size_t pageWidth_ = 0;
    std::size_t pageHeight_ = 0;
    std::vector<std::uint8_t> replies_;
};

} // namespace tessera::vp
