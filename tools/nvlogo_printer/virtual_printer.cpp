#include "tools/nvlogo_printer/virtual_printer.h"

#include <algorithm>
#include <utility>

namespace tessera::vp {

namespace {

constexpr std::uint8_t DLE = 0x10, ESC = 0x1B, FS = 0x1C, GS = 0x1D;
constexpr std::uint8_t kAck = 0x06, kNak = 0x15, kCan = 0x18;

std::string hex(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 15]};
}

constexpr std::uint8_t kDefineParams[3] = {0x30, 0x43, 0x30};

int le16(const std::uint8_t* b) {
    return b[0] | b[1] << 8;
}

std::string keyOf(const std::uint8_t* b) {
    return {static_cast<char>(b[0]), static_cast<char>(b[1])};
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
    case State::Dle:
    case State::RealTimeArg:
        return "DLE EOT";
    case State::StatusRequestArg:
        return "GS r";
    case State::IdRequestArg:
        return "GS I";
    case State::GsParen:
    case State::GsEight:
    case State::GraphicsLength:
    case State::GraphicsBody:
        return "GS ( / GS 8";
    case State::Handshake:
        return "the key list";
    default:
        return "FS q";
    }
}

std::shared_ptr<const GraphicsStore> PrinterHost::graphics() {
    return graphics_;
}

Status PrinterHost::changeGraphics(const std::function<Status(GraphicsStore&)>& change) {
    auto next = std::make_shared<GraphicsStore>(*graphics_);
    if (Status s = change(*next); !s) return s;
    graphics_ = std::move(next);
    return {};
}

VirtualPrinter::VirtualPrinter(PrinterHost& host, PrinterConfig config) : host_(host), config_(config) {}

std::vector<std::uint8_t> VirtualPrinter::feed(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (state_ == State::DefineData)
            i += takeData(bytes.subspan(i));
        else if (state_ == State::GraphicsBody)
            i += skipGraphics(bytes.subspan(i));
        else
            step(bytes[i++]);
    }
    return std::exchange(replies_, {});
}

void VirtualPrinter::finish() {
    if (definition_)
        rejectDefinition("the connection ended inside image " + std::to_string(definition_->done + 1) + " of " +
                         std::to_string(definition_->count));
    else if (state_ == State::GraphicsBody && (keepGraphic_ || !graphicProblem_.empty()))
        logError("connection ended inside the define of key " + graphicsKeyText(keyOf(&params_[3])) + " (" +
                 std::to_string(bodyLength_ - bodyLeft_) + " of " + std::to_string(bodyLength_) +
                 " bytes), NV graphics unchanged");
    else if (state_ != State::Command)
        logLine(std::string("connection ended inside ") + commandName(state_));
    keepGraphic_ = false;
    graphicProblem_.clear();
    graphicData_ = {};
    state_ = State::Command;
    cutPage();
    flushLog();
}

void VirtualPrinter::hostSilent() {
    if (state_ != State::Handshake) return;
    logLine("key list: no ACK, NAK or CAN within 5 s, abandoned");
    state_ = State::Command;
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
        else if (b == DLE)
            state_ = State::Dle;
        else if (b != 0x00)
            note(Event::IgnoredByte, hex(b));
        return;
    case State::Dle:
        if (b == 0x04)
            state_ = State::RealTimeArg;
        else
            unknown(DLE, b);
        return;
    case State::RealTimeArg:
        return realTimeStatus(b);
    case State::StatusRequestArg:
        return statusRequest(b);
    case State::IdRequestArg:
        return idRequest(b);
    case State::GsParen:
        return startGraphics(b, 2);
    case State::GsEight:
        if (b == 'L') return startGraphics(b, 4);
        note(Event::IgnoredByte, "1D");
        note(Event::IgnoredByte, "38");
        return step(b);
    case State::GraphicsLength:
        args_[argCount_++] = b;
        state_ = state;
        if (argCount_ < lengthBytes_) return;
        bodyLength_ = 0;
        for (int k = lengthBytes_ - 1; k >= 0; --k)
            bodyLength_ = bodyLength_ << 8 | args_[k];
        bodyLeft_ = bodyLength_;
        params_ = {};
        if (bodyLeft_ == 0) return graphicsCommand();
        state_ = State::GraphicsBody;
        return;
    case State::Handshake:
        return handshake(b);
    case State::GraphicsBody:
        return; // feed() hands the body to skipGraphics()
    case State::Esc:
        if (b != '@') return unknown(ESC, b);
        automaticStatus_ = false;
        logLine("ESC @ initialise");
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
        argCount_ = 0;
        if (b == 'V')
            state_ = State::CutMode;
        else if (b == 'a')
            state_ = State::StatusArg;
        else if (b == 'r')
            state_ = State::StatusRequestArg;
        else if (b == 'I')
            state_ = State::IdRequestArg;
        else if (b == '(')
            state_ = State::GsParen;
        else if (b == '8')
            state_ = State::GsEight;
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
            logLine("GS V " + hex(b) + " is not a cut mode, ignored");
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
    note(Event::IgnoredByte, hex(prefix));
    step(b);
}

void VirtualPrinter::startDefinition(int count) {
    if (count == 0) {
        logError("FS q error: 0 images, definition rejected, NV images unchanged");
        return setError("FS q rejected");
    }
    definition_.emplace();
    definition_->count = count;
    definition_->unsupported = config_.model == PrinterModel::Graphics;
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
    if (!d.overCapacity && !d.unsupported) d.current.data.reserve(d.dataLeft);
    state_ = State::DefineData;
}

std::size_t VirtualPrinter::takeData(std::span<const std::uint8_t> bytes) {
    PendingDefinition& d = *definition_;
    const std::size_t n = std::min(bytes.size(), d.dataLeft);
    const bool keep = !d.overCapacity && !d.unsupported;
    if (keep) d.current.data.insert(d.current.data.end(), bytes.begin(), bytes.begin() + n);
    d.dataLeft -= n;
    if (d.dataLeft > 0) return n;
    if (keep) d.images.push_back(std::make_shared<const NvImage>(std::move(d.current)));
    d.current = {};
    argCount_ = 0;
    state_ = ++d.done < d.count ? State::DefineHeader : State::Command;
    if (state_ == State::Command) endDefinition();
    return n;
}

void VirtualPrinter::endDefinition() {
    PendingDefinition& d = *definition_;
    if (d.unsupported) {
        logError("FS q is not supported by this model (graphics): " + images(d.count) + " skipped");
        definition_.reset();
        return setError("FS q not stored");
    }
    if (d.overCapacity)
        return rejectDefinition(images(d.count) + (d.count == 1 ? " needs " : " need ") + std::to_string(d.nvBytes) +
                                " bytes, the capacity is " + std::to_string(config_.capacity));
    const int count = d.count;
    Status s = host_.defineImages(std::move(d.images));
    definition_.reset();
    if (!s) {
        logError("FS q error: " + s.error().message + ", NV images unchanged");
        setError("FS q not stored");
    } else {
        logLine("FS q define " + images(count) + " (a real printer uses them after a reset)");
    }
}

void VirtualPrinter::rejectDefinition(const std::string& why) {
    definition_.reset();
    state_ = State::Command;
    logError("FS q error: " + why + ", definition rejected, NV images unchanged");
    setError("FS q rejected");
}

void VirtualPrinter::erase() {
    if (Status s = host_.eraseImages(); !s) {
        logError("FS e error: " + s.error().message + ", NV images unchanged");
        setError("FS e not stored");
    } else {
        logLine("FS e erase all NV images");
    }
}

void VirtualPrinter::printImage(int number, std::uint8_t scaling) {
    static constexpr const char* kScalings[] = {"normal", "double width", "double height", "quadruple"};
    const std::string what = "image " + std::to_string(number);
    if (scaling > 3 && (scaling < 0x30 || scaling > 0x33))
        return logLine("FS p " + what + " scaling " + hex(scaling) + " is not a scaling, nothing printed");
    if (config_.coverOpen) return note(Event::CoverOpen, std::to_string(number));
    if (config_.paper == PaperState::End) return note(Event::NoPaper, std::to_string(number));
    const int k = scaling & 0x03;
    Print print{host_.image(number), k & 1 ? 2 : 1, k & 2 ? 2 : 1, nullptr};
    if (!print.image) return note(Event::NotStored, std::to_string(number));
    std::string line = "FS p print " + what + " scaling " + std::to_string(k) + " (" + kScalings[k] + ")";
    if (print.width() > config_.paperDots)
        line += ": " + std::to_string(print.width()) + " dots wide, clipped to the paper's " +
                std::to_string(config_.paperDots);
    logLine(std::move(line));
    addToPage(std::move(print));
}

void VirtualPrinter::addToPage(Print print) {
    if (!page_.empty() &&
        std::size_t(config_.paperDots) * (pageHeight_ + std::size_t(print.height())) > config_.maxPagePixels) {
        logLine("page full: cut");
        cutPage();
    }
    pageHeight_ += print.height();
    page_.push_back(std::move(print));
}

void VirtualPrinter::cut(std::optional<int> feed) {
    logLine(feed ? "GS V feed " + std::to_string(*feed) + " and cut" : "GS V cut");
    cutPage();
}

void VirtualPrinter::setAutomaticStatus(std::uint8_t n) {
    automaticStatus_ = n != 0;
    logLine("GS a " + std::to_string(n) + " automatic status " + (automaticStatus_ ? "on" : "off"));
    // Paper and cover are fixed for the run, so after this block only an error changes the status.
    if (automaticStatus_ && config_.model != PrinterModel::Mute) {
        const auto block = automaticStatus();
        replies_.insert(replies_.end(), block.begin(), block.end());
    }
}

bool VirtualPrinter::offline() const {
    return error_ || config_.coverOpen || config_.paper == PaperState::End;
}

std::array<std::uint8_t, 4> VirtualPrinter::automaticStatus() const {
    const bool end = config_.paper == PaperState::End;
    return {static_cast<std::uint8_t>(0x10 | (offline() ? 0x08 : 0) | (config_.coverOpen ? 0x20 : 0)),
            static_cast<std::uint8_t>(error_ ? 0x40 : 0),
            static_cast<std::uint8_t>(end                                    ? 0x0F
                                      : config_.paper == PaperState::NearEnd ? 0x03
                                                                             : 0),
            0x00};
}

void VirtualPrinter::setError(const std::string& why) {
    if (error_) return;
    error_ = true;
    logError("auto-recoverable error (" + why + "): offline, GS r unanswered until the connection ends");
    if (automaticStatus_ && config_.model != PrinterModel::Mute) {
        const auto block = automaticStatus();
        replies_.insert(replies_.end(), block.begin(), block.end());
    }
}

// A printer that answers nothing (mute) logs what it was asked, so a test can see the question arrived.
bool VirtualPrinter::answers(const std::string& what) {
    if (config_.model != PrinterModel::Mute) return true;
    logLine(what + " not answered (mute)");
    return false;
}

void VirtualPrinter::reply(std::initializer_list<std::uint8_t> bytes) {
    replies_.insert(replies_.end(), bytes.begin(), bytes.end());
}

void VirtualPrinter::replyBlock(std::uint8_t header, std::optional<std::uint8_t> id, std::string_view data) {
    replies_.push_back(header);
    if (id) replies_.push_back(*id);
    replies_.insert(replies_.end(), data.begin(), data.end());
    replies_.push_back(0x00);
}

void VirtualPrinter::realTimeStatus(std::uint8_t n) {
    const std::string what = "DLE EOT " + std::to_string(n);
    if (n < 1 || n > 4) return logLine(what + " is not a status request, ignored");
    if (!answers(what)) return;
    std::uint8_t b = 0x12;
    if (n == 1 && offline()) b |= 0x08;
    if (n == 2)
        b |= (config_.coverOpen ? 0x04 : 0) | (config_.paper == PaperState::End ? 0x20 : 0) | (error_ ? 0x40 : 0);
    if (n == 3 && error_) b |= 0x40;
    if (n == 4) b = config_.paper == PaperState::End ? 0x7E : config_.paper == PaperState::NearEnd ? 0x1E : 0x12;
    logLine(what + " answered " + hex(b));
    reply({b});
}

void VirtualPrinter::statusRequest(std::uint8_t n) {
    const std::string what = "GS r " + std::to_string(n);
    if (n != 1 && n != 2 && n != 49 && n != 50) return logLine(what + " is not a status request, ignored");
    if (!answers(what)) return;
    // The confirmation of a transfer: an error must not look like a processed stream.
    if (error_) return logLine(what + " not answered: auto-recoverable error");
    std::uint8_t b = 0x00; // the drawer (n 2) is always closed
    if (n == 1 || n == 49)
        b = config_.paper == PaperState::End ? 0x0F : config_.paper == PaperState::NearEnd ? 0x03 : 0;
    logLine(what + " answered " + hex(b));
    reply({b});
}

void VirtualPrinter::idRequest(std::uint8_t n) {
    const std::string what = "GS I " + std::to_string(n);
    static constexpr std::uint8_t kIds[] = {0x20, 0x02, 0x01}; // model, type (with a cutter), version
    std::string text;
    if (n >= 65 && n <= 68) {
        text = n == 65 ? config_.firmware : n == 66 ? kMaker : n == 67 ? kModelName : config_.serialNumber;
    } else if (!((n >= 1 && n <= 3) || (n >= 49 && n <= 51))) {
        return logLine(what + " is not supported, ignored");
    }
    if (!answers(what)) return;
    if (n >= 65) {
        logLine(what + " answered \"" + text + "\"");
        return replyBlock(0x5F, std::nullopt, text);
    }
    const std::uint8_t b = kIds[(n - 1) % 48];
    logLine(what + " answered " + hex(b));
    reply({b});
}

void VirtualPrinter::startGraphics(std::uint8_t function, int lengthBytes) {
    graphicsFunction_ = function;
    lengthBytes_ = lengthBytes;
    argCount_ = 0;
    state_ = State::GraphicsLength;
}

std::size_t VirtualPrinter::skipGraphics(std::span<const std::uint8_t> bytes) {
    // The parameter bytes say what a command asks; the data of a define is kept only when it will be stored,
    // and the rest, up to 4 GB for GS 8 L, is only counted.
    std::size_t i = 0;
    while (i < bytes.size() && bodyLeft_ > 0) {
        const std::uint64_t at = bodyLength_ - bodyLeft_;
        if (at < params_.size()) {
            params_[at] = bytes[i++];
            --bodyLeft_;
            if (at + 1 == params_.size()) graphicsParams();
            continue;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bodyLeft_, bytes.size() - i));
        if (keepGraphic_) graphicData_.insert(graphicData_.end(), bytes.begin() + i, bytes.begin() + i + n);
        i += n;
        bodyLeft_ -= n;
    }
    if (bodyLeft_ == 0) {
        state_ = State::Command;
        graphicsCommand();
    }
    return i;
}

// The parameters of a define have arrived: its data is kept only when it can be stored.
void VirtualPrinter::graphicsParams() {
    if (graphicsFunction_ != 'L' || !std::equal(kDefineParams, kDefineParams + 3, params_.begin())) return;
    if (config_.model == PrinterModel::BitImage) return;
    const std::string key = keyOf(&params_[3]);
    const int x = le16(&params_[6]), y = le16(&params_[8]);
    const std::uint64_t data = static_cast<std::uint64_t>((x + 7) / 8) * static_cast<std::uint64_t>(std::max(y, 0));
    if (!validGraphicsKey(key))
        graphicProblem_ = "the key " + graphicsKeyHex(key) + " is outside 20..7E";
    else if (params_[5] != 0x01 || params_[10] != 0x31)
        graphicProblem_ = "only one colour (01 .. 31) is supported";
    else if (x < 1 || x > kMaxGraphicsWidth || y < 1 || y > kMaxGraphicsHeight)
        graphicProblem_ =
            "the size " + std::to_string(x) + " x " + std::to_string(y) + " dots is outside 1..8192 x 1..2304";
    else if (bodyLength_ != 11 + data)
        graphicProblem_ = std::to_string(bodyLength_) + " parameter bytes, its " + std::to_string(x) + " x " +
                          std::to_string(y) + " dots need " + std::to_string(11 + data);
    if (!graphicProblem_.empty()) return;
    const auto stored = host_.graphics();
    const auto old = stored->find(key);
    const std::uint64_t others = stored->usedBytes() - (old ? old->storeBytes() : 0);
    const std::uint64_t free = config_.graphicsCapacity - std::min(others, config_.graphicsCapacity);
    if (data + kGraphicsRecordBytes > free) {
        graphicProblem_ = "key " + graphicsKeyText(key) + " needs " + std::to_string(data + kGraphicsRecordBytes) +
                          " bytes, " + std::to_string(free) + " are free";
        return;
    }
    keepGraphic_ = true;
    graphicData_.reserve(static_cast<std::size_t>(data));
}

void VirtualPrinter::graphicsCommand() {
    state_ = State::Command;
    const std::string name =
        lengthBytes_ == 4 ? std::string("GS 8 L") : "GS ( " + std::string(1, static_cast<char>(graphicsFunction_));
    const std::string skipped = " skipped (" + std::to_string(bodyLength_) + " parameter bytes)";
    // Every exit forgets the define's data and verdict.
    struct Reset {
        VirtualPrinter& p;
        ~Reset() {
            p.keepGraphic_ = false;
            p.graphicProblem_.clear();
            p.graphicData_ = {};
        }
    } reset{*this};
    if (graphicsFunction_ != 'L') return logLine(name + skipped + ": not supported");
    if (config_.model == PrinterModel::BitImage) return logLine(name + skipped + ": this model has no NV graphics");
    const std::uint8_t* p = params_.data();
    const std::uint64_t n = bodyLength_;
    const bool family = n >= 2 && p[0] == 0x30;
    if (family && p[1] == 0x43 && n >= 3 && p[2] == 0x30) return defineGraphic();
    if (family && n == 5 && p[1] == 0x41 && p[2] == 'C' && p[3] == 'L' && p[4] == 'R') return deleteGraphics({});
    if (family && n == 4 && p[1] == 0x42) return deleteGraphics(keyOf(p + 2));
    if (family && n == 6 && p[1] == 0x45) return printGraphic(keyOf(p + 2), p[4], p[5]);
    const bool capacity = family && n == 2 && (p[1] == 0x30 || p[1] == 0x33);
    const bool keys = family && n == 4 && p[1] == 0x40 && p[2] == 'K' && p[3] == 'C';
    if (!capacity && !keys) return logLine(name + skipped + ": not supported");
    const std::string what =
        capacity ? (p[1] == 0x30 ? "NV graphics capacity" : "NV graphics free capacity") : "NV graphics key list";
    if (!answers(what)) return;
    if (capacity) {
        const std::uint64_t used = host_.graphics()->usedBytes();
        const std::uint64_t value = p[1] == 0x30 ? config_.graphicsCapacity
                                                 : config_.graphicsCapacity - std::min(used, config_.graphicsCapacity);
        const std::string digits = std::to_string(value);
        logLine(what + " answered " + digits);
        return replyBlock(0x37, p[1] == 0x30 ? 0x30 : 0x31, digits);
    }
    keys_ = host_.graphicsKeys();
    keyBlock_ = 0;
    sendKeyBlock();
}

void VirtualPrinter::defineGraphic() {
    const std::string name = lengthBytes_ == 4 ? "GS 8 L" : "GS ( L";
    if (bodyLength_ < params_.size() && graphicProblem_.empty())
        graphicProblem_ = "only " + std::to_string(bodyLength_) + " parameter bytes";
    const std::string key = graphicsKeyText(keyOf(&params_[3]));
    if (!keepGraphic_) {
        logError(name + " define error: " + graphicProblem_ + ", NV graphics unchanged");
        return;
    }
    auto image = std::make_shared<GraphicsImage>();
    image->width = le16(&params_[6]);
    image->height = le16(&params_[8]);
    image->rows = std::move(graphicData_);
    const std::string size = std::to_string(image->width) + " x " + std::to_string(image->height) + " dots";
    const std::uint64_t capacity = config_.graphicsCapacity;
    Status s = host_.changeGraphics([&](GraphicsStore& store) -> Status {
        // Another connection may have filled the store since the parameters were read.
        if (!store.define(keyOf(&params_[3]), image, capacity)) return badInput("it no longer fits");
        return {};
    });
    if (!s) return logError(name + " define error: key " + key + ": " + s.error().message + ", NV graphics unchanged");
    logLine(name + " define key " + key + " (" + size + ")");
}

void VirtualPrinter::deleteGraphics(std::optional<std::string> key) {
    bool found = true;
    Status s = host_.changeGraphics([&](GraphicsStore& store) -> Status {
        if (key)
            found = store.remove(*key);
        else
            store.clear();
        return {};
    });
    const std::string what = key ? "delete key " + graphicsKeyText(*key) : std::string("delete all NV graphics");
    if (!s) return logError("GS ( L " + what + " error: " + s.error().message + ", NV graphics unchanged");
    logLine("GS ( L " + what + (found ? "" : ": not stored"));
}

void VirtualPrinter::printGraphic(const std::string& key, std::uint8_t x, std::uint8_t y) {
    const std::string what = "GS ( L print key " + graphicsKeyText(key);
    if ((x != 1 && x != 2) || (y != 1 && y != 2))
        return logLine(what + " scale " + std::to_string(x) + " x " + std::to_string(y) +
                       " is not a scale, nothing printed");
    if (config_.coverOpen) return logLine(what + ": the cover is open, nothing printed");
    if (config_.paper == PaperState::End) return logLine(what + ": no paper, nothing printed");
    Print print{nullptr, x, y, host_.graphics()->find(key)};
    if (!print.graphic) return logLine(what + " is not stored, nothing printed");
    std::string line = what + " scale " + std::to_string(x) + " x " + std::to_string(y);
    if (print.width() > config_.paperDots)
        line += ": " + std::to_string(print.width()) + " dots wide, clipped to the paper's " +
                std::to_string(config_.paperDots);
    logLine(std::move(line));
    addToPage(std::move(print));
}

void VirtualPrinter::sendKeyBlock() {
    const std::size_t first = keyBlock_ * kKeysPerBlock;
    const std::size_t last = std::min(keys_.size(), first + kKeysPerBlock);
    std::string data(1, last < keys_.size() ? '\x41' : '\x40');
    for (std::size_t k = first; k < last; ++k)
        data += keys_[k].substr(0, 2);
    logLine("NV graphics key list: block " + std::to_string(keyBlock_ + 1) + ", " + std::to_string(last - first) +
            (last - first == 1 ? " key" : " keys"));
    replyBlock(0x37, 0x72, data);
    state_ = State::Handshake;
}

void VirtualPrinter::handshake(std::uint8_t b) {
    const bool more = (keyBlock_ + 1) * kKeysPerBlock < keys_.size();
    if (b == kAck && more) {
        ++keyBlock_;
        return sendKeyBlock();
    }
    if (b == kNak) return sendKeyBlock();
    if (b == kAck || b == kCan) return logLine(b == kAck ? "key list: done" : "key list: cancelled by the host");
    // Anything else is the host moving on: the key list ends and the byte is a command.
    logLine("key list: abandoned, the host sent " + hex(b));
    step(b);
}

void VirtualPrinter::cutPage() {
    if (page_.empty()) return;
    flushLog(); // the host logs the printout after the commands that made it
    host_.cutPage(renderPage(page_, config_.paperDots));
    page_.clear();
    pageHeight_ = 0;
}

void VirtualPrinter::note(Event event, std::string detail) {
    if (run_.count > 0 && (run_.event != event || (event == Event::Line && run_.line != detail))) flushLog();
    run_.event = event;
    ++run_.count;
    if (event == Event::Line)
        run_.line = std::move(detail);
    else if (run_.first.size() < kRunDetails)
        run_.first.push_back(std::move(detail));
    else
        run_.last = std::move(detail);
}

void VirtualPrinter::logError(const std::string& line) {
    flushLog();
    host_.error(line);
}

void VirtualPrinter::flushLog() {
    if (run_.count == 0) return;
    host_.log(runLine());
    run_ = Run{};
}

std::string VirtualPrinter::runLine() const {
    const Run& r = run_;
    if (r.event == Event::Line) return r.count == 1 ? r.line : r.line + " (" + std::to_string(r.count) + " times)";
    const bool bytes = r.event == Event::IgnoredByte;
    if (r.count == 1) {
        const std::string& d = r.first.front();
        if (bytes) return "ignored byte " + d;
        return "FS p image " + d +
               (r.event == Event::NotStored ? " is not stored"
                : r.event == Event::NoPaper ? ": no paper"
                                            : ": the cover is open") +
               ", nothing printed";
    }
    const char* separator = bytes ? " " : ", ";
    std::string list;
    for (const std::string& d : r.first)
        list += (list.empty() ? "" : separator) + d;
    if (r.count > kRunDetails) list += (r.count > kRunDetails + 1 ? " ... " : separator) + r.last;
    const std::string n = std::to_string(r.count);
    if (bytes) return "ignored " + n + " bytes (" + list + ")";
    return "FS p: " + n + " images" +
           (r.event == Event::NotStored ? " not stored"
            : r.event == Event::NoPaper ? ", no paper"
                                        : ", the cover is open") +
           ", nothing printed (" + list + ")";
}

} // namespace tessera::vp
