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

    // Reads the file; a missing file holds no images. A malformed file, or images over the capacity, is
    // BadInput.
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

// Whole lines, each flushed at once so that a reader of a pipe sees every command as it happens.
class LineLog {
  public:
    explicit LineLog(std::ostream& out) : out_(out) {}
    void line(const std::string& text);

  private:
    std::mutex mutex_;
    std::ostream& out_;
};

class DiskHost : public PrinterHost {
  public:
    DiskHost(NvStore& store, PrintDirectory& prints, LineLog& log) : store_(store), prints_(prints), log_(log) {}

    Status defineImages(ImageList images) override { return store_.define(std::move(images)); }
    Status eraseImages() override { return store_.erase(); }
    std::shared_ptr<const NvImage> image(int number) override { return store_.image(number); }
    void cutPage(const Bitmap& page) override;
    void log(const std::string& line) override { log_.line(line); }

  private:
    NvStore& store_;
    PrintDirectory& prints_;
    LineLog& log_;
};

} // namespace tessera::vp
