#include "tools/nvlogo_printer/virtual_printer.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tessera::vp {

namespace {

constexpr std::uint8_t ESC = 0x1B, FS = 0x1C, GS = 0x1D;

std::string hex(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string images(int n) {
    return std::to_string(n) + (n == 1 ? " image" : " images");
}

} // namespace

const char* VirtualPrinter::commandName(State state) {
    switch (state) {
    case State::Esc:
        return "ESC";
    case State::Fs:
        return "FS";
    case State::Gs:
        return "GS";
    case State::PrintArgs:
        return "FS p";
    case State::CutMode:
    case State::CutFeed:
        return "GS V";
    case State::StatusArg:
        return "GS a";
    default:
        return "FS q";
    }
}

VirtualPrinter::VirtualPrinter(PrinterHost& host, PrinterConfig config) : host_(host), config_(config) {}

std::vector<std::uint8_t> VirtualPrinter::feed(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (state_ == State::DefineData)
            i += takeData(bytes.subspan(i));
        else
            step(bytes[i++]);
    }
    return std::exchange(replies_, {});
}

void VirtualPrinter::finish() {
    if (definition_)
        rejectDefinition("the connection ended inside image " + std::to_string(definition_->done + 1) + " of " +
                         std::to_string(definition_->count));
    else if (state_ != State::Command)
        host_.log(std::string("connection ended inside ") + commandName(state_));
    state_ = State::Command;
    cutPage();
}

void VirtualPrinter::step(std::uint8_t b) {
    const State state = std::exchange(state_, State::Command);
    switch (state) {
    case State::Command:
        if (b == ESC)
            state_ = State::Esc;
        else if (b == FS)
            state_ = State::Fs;
        else if (b == GS)
            state_ = State::Gs;
        else if (b != 0x00)
            host_.log("ignored byte " + hex(b));
        return;
    case State::Esc:
        if (b != '@') return unknown(ESC, b);
        automaticStatus_ = false;
        host_.log("ESC @ initialise");
        return;
    case State::Fs:
        argCount_ = 0;
        if (b == 'q')
            state_ = State::DefineCount;
        else if (b == 'p')
            state_ = State::PrintArgs;
        else if (b == 'e')
            erase();
        else
            unknown(FS, b);
        return;
    case State::Gs:
        if (b == 'V')
            state_ = State::CutMode;
        else if (b == 'a')
            state_ = State::StatusArg;
        else
            unknown(GS, b);
        return;
    case State::DefineCount:
        return startDefinition(b);
    case State::DefineHeader:
        args_[argCount_++] = b;
        state_ = state;
        if (argCount_ == 4) imageHeader();
        return;
    case State::PrintArgs:
        args_[argCount_++] = b;
        if (argCount_ < 2)
            state_ = state;
        else
            printImage(args_[0], args_[1]);
        return;
    case State::CutMode:
        if (b == 0 || b == 1 || b == 0x30 || b == 0x31)
            cut(std::nullopt);
        else if (b == 65 || b == 66)
            state_ = State::CutFeed;
        else
            host_.log("GS V " + hex(b) + " is not a cut mode, ignored");
        return;
    case State::CutFeed:
        return cut(b);
    case State::StatusArg:
        return setAutomaticStatus(b);
    case State::DefineData:
        return; // feed() hands data to takeData()
    }
}

// A prefix followed by a byte that starts no command: the prefix is dropped and the byte read afresh, so
// that a stray prefix cannot swallow the command after it.
void VirtualPrinter::unknown(std::uint8_t prefix, std::uint8_t b) {
    host_.log("ignored byte " + hex(prefix));
    step(b);
}

void VirtualPrinter::startDefinition(int count) {
    if (count == 0) {
        host_.log("FS q error: 0 images, definition rejected, NV images unchanged");
        return;
    }
    definition_.emplace();
    definition_->count = count;
    argCount_ = 0;
    state_ = State::DefineHeader;
}

void VirtualPrinter::imageHeader() {
    PendingDefinition& d = *definition_;
    const int x = args_[0] | args_[1] << 8;
    const int y = args_[2] | args_[3] << 8;
    if (!validImageSize(x, y)) {
        // The size bytes are wrong, so the length of the data after them cannot be trusted either: what
        // follows is read as commands again.
        return rejectDefinition("image " + std::to_string(d.done + 1) + " is " + std::to_string(x) + " x " +
                                std::to_string(y) + " units (x must be 1..1023, y 1..288)");
    }
    d.dataLeft = imageDataBytes(x, y);
    d.nvBytes += d.dataLeft + 4;
    if (d.nvBytes > config_.capacity && !d.overCapacity) {
        d.overCapacity = true;
        d.images.clear();
    }
    d.current = NvImage{x, y, {}};
    if (!d.overCapacity) d.current.data.reserve(d.dataLeft);
    state_ = State::DefineData;
}

std::size_t VirtualPrinter::takeData(std::span<const std::uint8_t> bytes) {
    PendingDefinition& d = *definition_;
    const std::size_t n = std::min(bytes.size(), d.dataLeft);
    if (!d.overCapacity) d.current.data.insert(d.current.data.end(), bytes.begin(), bytes.begin() + n);
    d.dataLeft -= n;
    if (d.dataLeft > 0) return n;
    if (!d.overCapacity) d.images.push_back(std::make_shared<const NvImage>(std::move(d.current)));
    d.current = {};
    argCount_ = 0;
    state_ = ++d.done < d.count ? State::DefineHeader : State::Command;
    if (state_ == State::Command) endDefinition();
    return n;
}

void VirtualPrinter::endDefinition() {
    PendingDefinition& d = *definition_;
    if (d.overCapacity)
        return rejectDefinition(images(d.count) + " need " + std::to_string(d.nvBytes) + " bytes, the capacity is " +
                                std::to_string(config_.capacity));
    const int count = d.count;
    Status s = host_.defineImages(std::move(d.images));
    definition_.reset();
    if (!s)
        host_.log("FS q error: " + s.error().message + ", NV images unchanged");
    else
        host_.log("FS q define " + images(count) + " (a real printer uses them after a reset)");
}

void VirtualPrinter::rejectDefinition(const std::string& why) {
    definition_.reset();
    state_ = State::Command;
    host_.log("FS q error: " + why + ", definition rejected, NV images unchanged");
}

void VirtualPrinter::erase() {
    if (Status s = host_.eraseImages(); !s)
        host_.log("FS e error: " + s.error().message + ", NV images unchanged");
    else
        host_.log("FS e erase all NV images");
}

void VirtualPrinter::printImage(int number, std::uint8_t scaling) {
    static constexpr const char* kScalings[] = {"normal", "double width", "double height", "quadruple"};
    const std::string what = "image " + std::to_string(number);
    if (scaling > 3 && (scaling < 0x30 || scaling > 0x33)) {
        host_.log("FS p " + what + " scaling " + hex(scaling) + " is not a scaling, nothing printed");
        return;
    }
    const int k = scaling & 0x03;
    Print print{host_.image(number), k & 1 ? 2 : 1, k & 2 ? 2 : 1};
    if (!print.image) {
        host_.log("FS p " + what + " is not stored, nothing printed");
        return;
    }
    host_.log("FS p print " + what + " scaling " + std::to_string(k) + " (" + kScalings[k] + ")");
    const auto width = [&] {
        return std::max({pageWidth_, std::size_t(config_.paperDots), std::size_t(print.width())});
    };
    if (!page_.empty() && width() * (pageHeight_ + print.height()) > config_.maxPagePixels) {
        host_.log("page full: cut");
        cutPage();
    }
    pageWidth_ = width();
    pageHeight_ += print.height();
    page_.push_back(std::move(print));
}

void VirtualPrinter::cut(std::optional<int> feed) {
    host_.log(feed ? "GS V feed " + std::to_string(*feed) + " and cut" : "GS V cut");
    cutPage();
}

void VirtualPrinter::setAutomaticStatus(std::uint8_t n) {
    automaticStatus_ = n != 0;
    host_.log("GS a " + std::to_string(n) + " automatic status " + (automaticStatus_ ? "on" : "off"));
    // The virtual printer is always online, with paper and the cover closed: its state never changes, so
    // the block sent on enabling is the only one.
    if (automaticStatus_) replies_.insert(replies_.end(), std::begin(kIdleStatus), std::end(kIdleStatus));
}

void VirtualPrinter::cutPage() {
    if (page_.empty()) return;
    host_.cutPage(renderPage(page_, config_.paperDots));
    page_.clear();
    pageWidth_ = pageHeight_ = 0;
}

} // namespace tessera::vp
