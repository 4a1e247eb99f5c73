#pragma once
// A stand-in network printer on 127.0.0.1 for transfer tests: it records what each connection sends, and
// can misbehave the ways real printers do.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessera::test {

class LoopbackPrinter {
  public:
    enum class Behaviour {
        Read,        // reads everything until the peer closes
        ResetAfter,  // reads `limit` bytes, then drops the connection with a reset
        Stall,       // never reads; holds the connection until the test ends
        NeverAccept, // a full accept queue: new connections are not answered at all
    };
    explicit LoopbackPrinter(Behaviour behaviour = Behaviour::Read, std::size_t limit = 0);
    ~LoopbackPrinter();

    int port() const { return port_; }
    // Bytes of every connection that has ended, in order of arrival; waits up to 5 s for `count` of them.
    std::vector<std::vector<std::uint8_t>> connections(std::size_t count = 1);
    std::size_t accepted() const { return accepted_; }

    // A loopback port where nothing listens (connections are refused).
    static int closedPort();

  private:
    void serve();

    Behaviour behaviour_;
    std::size_t limit_;
    int listenFd_ = -1, port_ = 0;
    std::vector<int> heldFds_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> accepted_{0};
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> done_;
    std::thread thread_;
};

} // namespace tessera::test
