#include "printer/printer_status.h"

#include "base/json_writer.h"

namespace tessera {

namespace {

constexpr int kMaxNaksRunning = 3;
// 95 × 95 two-character keys fit in 226 blocks of 40.
constexpr int kMaxKeyBlocks = 256;

bool bit(std::uint8_t b, int n) {
    return (b >> n) & 1;
}

} // namespace

void describeRealTimeStatus(const std::array<std::optional<std::uint8_t>, 4>& s, PrinterStatusReport& r) {
    const auto& [printer, offline, errors, paper] = s;
    if (printer) r.online = !bit(*printer, 3);
    if (offline) r.cover = bit(*offline, 2) ? "open" : "closed";
    const bool stoppedByPaperEnd = offline && bit(*offline, 5);
    if (stoppedByPaperEnd || (paper && (bit(*paper, 5) || bit(*paper, 6))))
        r.paper = "end";
    else if (paper)
        r.paper = bit(*paper, 2) || bit(*paper, 3) ? "near-end" : "ok";
    if (!printer || !offline || !errors) return;
    const std::pair<bool, const char*> flags[] = {
        {bit(*printer, 3), "offline"},         {bit(*offline, 2), "cover-open"}, {stoppedByPaperEnd, "paper-end-stop"},
        {bit(*errors, 2), "mechanical"},       {bit(*errors, 3), "cutter"},      {bit(*errors, 5), "unrecoverable"},
        {bit(*errors, 6), "auto-recoverable"},
    };
    r.errors.emplace();
    for (const auto& [set, name] : flags)
        if (set) r.errors->push_back(name);
}

Result<std::optional<std::vector<std::string>>> readGraphicsKeys(PrinterConversation& c,
                                                                 std::chrono::milliseconds bound) {
    using Keys = std::optional<std::vector<std::string>>;
    std::vector<std::string> keys;
    Request request = graphicsKeysRequest();
    int naks = 0;
    for (int blocks = 0; blocks < kMaxKeyBlocks;) {
        auto a = c.ask(request, bound);
        if (!a) return a.error();
        if (!*a) return Keys();
        if ((*a)->malformed) {
            if (++naks > kMaxNaksRunning) break;
            request = graphicsKeysHandshake(kNak);
            continue;
        }
        naks = 0;
        ++blocks;
        keys.insert(keys.end(), (*a)->keys.begin(), (*a)->keys.end());
        if (!(*a)->more) {
            const std::uint8_t done[] = {kAck};
            if (Status s = c.send(done); !s) return s.error();
            return Keys(std::move(keys));
        }
        request = graphicsKeysHandshake(kAck);
    }
    // A printer that keeps sending bad blocks, or more than any key list can hold, is stopped.
    const std::uint8_t stop[] = {kCan};
    if (Status s = c.send(stop); !s) return s.error();
    return Keys();
}

PrinterStatusReport queryPrinterStatus(PrinterConversation& c, std::chrono::milliseconds bound) {
    PrinterStatusReport r;
    // Each step: the answer, or nothing; a port failure ends the conversation and is kept in the report.
    auto ask = [&](const Request& request) -> std::optional<Answer> {
        if (r.failure) return std::nullopt;
        auto a = c.ask(request, bound);
        if (!a) {
            r.failure = a.error();
            return std::nullopt;
        }
        return *a;
    };
    std::array<std::optional<std::uint8_t>, 4> realTime;
    for (int n = 1; n <= 4; ++n) {
        if (auto a = ask(realTimeStatusRequest(n))) realTime[n - 1] = a->byte;
        if (n == 1 && !realTime[0]) return r; // a printer that does not answer is asked nothing more
    }
    r.answers = true;
    describeRealTimeStatus(realTime, r);
    for (int n = 1; n <= 3; ++n)
        if (auto a = ask(printerIdRequest(n))) r.ids[n - 1] = a->byte;
    std::optional<std::string>* texts[] = {&r.firmware, &r.maker, &r.model, &r.serial};
    for (int n = 65; n <= 68; ++n)
        if (auto a = ask(printerIdRequest(n))) *texts[n - 65] = a->text;

    auto capacity = ask(graphicsCapacityRequest());
    if (!capacity || capacity->malformed) return r;
    r.nvGraphics = PrinterStatusReport::Graphics{capacity->number, std::nullopt, std::nullopt};
    auto free = ask(graphicsFreeRequest());
    if (!free || free->malformed) return r;
    r.nvGraphics->free = free->number;
    if (r.failure) return r;
    auto keys = readGraphicsKeys(c, bound);
    if (!keys)
        r.failure = keys.error();
    else
        r.nvGraphics->keys = std::move(*keys);
    return r;
}

void writeStatusJson(json::Writer& w, const std::string& port, const PrinterStatusReport& r) {
    w.beginObject().key("port").value(port).key("answers").value(r.answers);
    w.key("online").value(r.online).key("paper").value(r.paper).key("cover").value(r.cover).key("errors");
    if (r.errors) {
        w.beginArray();
        for (const std::string& e : *r.errors)
            w.value(e);
        w.endArray();
    } else {
        w.null();
    }
    w.key("maker").value(r.maker).key("model").value(r.model).key("firmware").value(r.firmware);
    w.key("serial").value(r.serial).key("nv_graphics");
    if (r.nvGraphics) {
        w.beginObject().key("capacity").value(r.nvGraphics->capacity).key("free").value(r.nvGraphics->free);
        w.key("keys");
        if (r.nvGraphics->keys) {
            w.beginArray();
            for (const std::string& k : *r.nvGraphics->keys)
                w.value(k);
            w.endArray();
        } else {
            w.null();
        }
        w.endObject();
    } else {
        w.null();
    }
    w.endObject();
}

} // namespace tessera
