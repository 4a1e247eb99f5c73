#pragma once
// The virtual printer's state outside a connection, shared by all of them: the NV images in their `.bit`
// file, the directory of printouts and the log on standard output. Every member is safe to call from
// several threads at once.

#include "tools/nvlogo_printer/virtual_printer.h"

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>

namespace tessera::vp {

// The NV memory: what is in the file is what the printer holds, so it survives a restart.
class NvStore {
  public:
    explicit NvStore(std::string path) : path_(std::move(path)) {}

    // Reads the file, a missing one holding no images, and writes it back (a missing one as an empty file),
    // so that a file the printer could not keep is found before a host uploads to it. A malformed file, or
    // images over the capacity, is BadInput; a file that cannot be written is an Io error.
    Status load(std::size_t capacity);
    // Writes the file before the images change, so a failed write changes nothing.
    Status define(ImageList images);
    Status erase();
    std::shared_ptr<const NvImage> image(int number) const;
    std::size_t count() const;

  private:
    mutable std::mutex mutex_;
    const std::string path_;
    ImageList images_;
};

// The NV graphics: what is in the file (see graphics_store.h) is what the printer holds.
class GraphicsFile {
  public:
    explicit GraphicsFile(std::string path) : path_(std::move(path)) {}

    // As NvStore::load: a missing file holds no keys and is written back empty; a malformed file, or keys over
    // the capacity, is BadInput; a file that cannot be written is an Io error.
    Status load(std::uint64_t capacity);
    std::shared_ptr<const GraphicsStore> snapshot() const;
    // Applies change to a copy and writes the copy's file before it becomes the store.
    Status change(const std::function<Status(GraphicsStore&)>& change);

  private:
    mutable std::mutex mutex_;
    const std::string path_;
    std::shared_ptr<const GraphicsStore> store_ = std::make_shared<const GraphicsStore>();
};

// print-NNNN.png files, numbered on from the highest number found when the directory is opened.
class PrintDirectory {
  public:
    explicit PrintDirectory(std::string dir) : dir_(std::move(dir)) {}

    // Creates the directory if needed and finds the next number.
    Status open();
    // Writes the next file and returns its name.
    Result<std::string> write(const Bitmap& page);

  private:
    const std::string dir_;
    std::atomic<int> next_{1};
};

// Whole lines, each flushed at once so that a reader of a pipe sees every command as it happens. A quiet log
// drops the lines written with line() and keeps those written with always().
class LineLog {
  public:
    explicit LineLog(std::ostream& out, bool quiet = false) : out_(out), quiet_(quiet) {}
    void line(const std::string& text) {
        if (!quiet_) always(text);
    }
    void always(const std::string& text);

  private:
    std::mutex mutex_;
    std::ostream& out_;
    const bool quiet_;
};

class DiskHost : public PrinterHost {
  public:
    DiskHost(NvStore& store, GraphicsFile& graphics, PrintDirectory& prints, LineLog& log)
        : store_(store), graphics_(graphics), prints_(prints), log_(log) {}

    Status defineImages(ImageList images) override { return store_.define(std::move(images)); }
    Status eraseImages() override { return store_.erase(); }
    std::shared_ptr<const NvImage> image(int number) override { return store_.image(number); }
    void cutPage(const Bitmap& page) override;
    void log(const std::string& line) override { log_.line(line); }
    void error(const std::string& line) override { log_.always(line); }
    std::shared_ptr<const GraphicsStore> graphics() override { return graphics_.snapshot(); }
    Status changeGraphics(const std::function<Status(GraphicsStore&)>& change) override {
        return graphics_.change(change);
    }

  private:
    NvStore& store_;
    GraphicsFile& graphics_;
    PrintDirectory& prints_;
    LineLog& log_;
};

} // namespace tessera::vp
