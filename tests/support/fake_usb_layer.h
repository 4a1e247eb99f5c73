#pragma once
// A scripted USB device layer: the devices present, what each piece written was, and the printer's answers,
// one bulk IN transfer each.

#include "port/usb_printer.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessera::test {

using Bytes = std::vector<std::uint8_t>;

class FakeUsbLayer : public UsbDeviceLayer {
  public:
    // Everything a test changes while the reconnect thread may run goes through the mutex.
    mutable std::mutex m;
    std::vector<UsbInterface> devices;
    std::vector<std::string> refuse; // paths whose probe or open fails
    bool loadOk = true;
    bool isLoaded = false;
    bool legacyPlatform = false;
    std::string opened;
    std::vector<Bytes> pieces;
    std::vector<std::chrono::milliseconds> limits;
    int failPiece = -1; // this piece (0-based, counted over the layer's life) fails
    int presentCalls = 0, purges = 0, closes = 0, unloads = 0;

    static UsbInterface byPath(const std::string& p) { return {p, 0, 0, false}; }
    static UsbInterface byIds(std::uint16_t v, std::uint16_t p) { return {"1-" + std::to_string(v), v, p, true}; }

    bool load() override {
        std::lock_guard l(m);
        isLoaded = loadOk;
        return loadOk;
    }
    void unload() override {
        std::lock_guard l(m);
        isLoaded = false;
        ++unloads;
    }
    bool loaded() const override {
        std::lock_guard l(m);
        return isLoaded;
    }
    bool legacy() const override { return legacyPlatform; }
    std::vector<UsbInterface> present() override {
        std::lock_guard l(m);
        ++presentCalls;
        return devices;
    }
    bool refused(const std::string& p) const { return std::find(refuse.begin(), refuse.end(), p) != refuse.end(); }
    bool probe(const UsbInterface& d) override {
        std::lock_guard l(m);
        return !refused(d.path);
    }
    bool open(const UsbInterface& d) override {
        std::lock_guard l(m);
        if (refused(d.path)) return false;
        opened = d.path;
        return true;
    }
    bool isOpen() const override {
        std::lock_guard l(m);
        return !opened.empty();
    }
    void close() override {
        std::lock_guard l(m);
        opened.clear();
        ++closes;
    }
    std::optional<std::size_t> writePiece(std::span<const std::uint8_t> piece,
                                          std::chrono::milliseconds limit) override {
        std::lock_guard l(m);
        const int index = static_cast<int>(pieces.size());
        pieces.emplace_back(piece.begin(), piece.end());
        limits.push_back(limit);
        if (index == failPiece) return std::nullopt;
        if (piece.size() == 3 && (piece[0] == 0x10 || (piece[0] == 0x1D && piece[1] == 0x72))) ++requests;
        return piece.size();
    }
    void purge() override {
        std::lock_guard l(m);
        ++purges;
    }
    std::deque<Bytes> answers; // one bulk IN transfer each; none: the read times out
    bool noAnswerChannel = false;
    // Like a printer: each answer only once a status request (DLE EOT n, GS r n) has been written.
    bool answersRequests = false;
    int requests = 0;
    std::optional<std::size_t> readPiece(std::span<std::uint8_t> b, std::chrono::milliseconds limit) override {
        if (noAnswerChannel) return std::nullopt;
        if (answers.empty() || (answersRequests && requests == 0)) {
            // A short wait, so that a reader polling to its deadline does not spin.
            std::this_thread::sleep_for(std::min(limit, std::chrono::milliseconds(10)));
            return 0;
        }
        const std::size_t n = std::min(b.size(), answers.front().size());
        std::copy_n(answers.front().begin(), n, b.begin());
        answers.pop_front();
        if (answersRequests) --requests;
        return n;
    }
    std::string lastError() const override { return noAnswerChannel ? "read: no bulk IN endpoint" : ""; }

    Bytes all() const {
        std::lock_guard l(m);
        Bytes out;
        for (const Bytes& p : pieces)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    }
};

} // namespace tessera::test
