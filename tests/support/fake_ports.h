#pragma once
// Port objects for tests: they record what reaches them and fail on request.

#include "port/ports.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessera::test {

using Bytes = std::vector<std::uint8_t>;

struct FakeLine : LinePort {
    int openResult = 0, openedBaud = 0, closes = 0;
    bool writeOk = true, family = false, isOpen = false;
    std::string openedName;
    std::vector<Bytes> writes;

    int open(const std::string& name, int baud) override {
        openedName = name;
        openedBaud = baud;
        isOpen = openResult == 0;
        return openResult;
    }
    bool write(std::span<const std::uint8_t> b) override {
        writes.emplace_back(b.begin(), b.end());
        return isOpen && writeOk;
    }
    void close() override {
        ++closes;
        isOpen = false;
    }
    bool reEnablesStatus() const override { return family; }
};

struct FakeNet : NetworkPort {
    int connectResult = 0, finishResult = 1, port = 0, closes = 0, finishes = 0;
    bool sendOk = true;
    std::string ip;
    Bytes sent;

    int connect(const std::string& a, int p) override {
        ip = a;
        port = p;
        return connectResult;
    }
    int send(std::span<const std::uint8_t> b) override {
        if (!sendOk) return -1;
        sent.insert(sent.end(), b.begin(), b.end());
        return 1;
    }
    int finish() override {
        ++finishes;
        return finishResult;
    }
    void close() override { ++closes; }
};

struct FakeSpooler : PrinterSpooler {
    bool openOk = true, startOk = true, endOk = true;
    std::size_t maxPerCall = 1;    // bytes taken per write call
    std::optional<int> failAtCall; // this call (0-based) fails
    std::string printer, docName, dataType;
    int writeCalls = 0, closes = 0;
    Bytes taken;

    bool openPrinter(const std::string& n) override {
        printer = n;
        return openOk;
    }
    bool startDocument(const std::string& d, const std::string& t) override {
        docName = d;
        dataType = t;
        return startOk;
    }
    bool writePrinter(std::span<const std::uint8_t> b, std::size_t& written) override {
        const bool fails = failAtCall == writeCalls++;
        written = fails ? 0 : std::min(maxPerCall, b.size());
        taken.insert(taken.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(written));
        return !fails;
    }
    bool endDocument() override { return endOk; }
    bool closePrinter() override {
        ++closes;
        return true;
    }
};

} // namespace tessera::test
