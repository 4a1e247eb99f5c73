#pragma once
// One owner for whatever the system hands out and takes back through a call of its own: a file descriptor, a
// socket, a Windows HANDLE, a USB device handle. The closer type says which value holds nothing and how a
// handle is given back; it may carry state, such as the layer object that opened the handle, so that a test
// double of that layer sees every close.

#include <utility>

namespace tessera {

// Closer requirements:
//   typename Closer::Handle        the handle, cheap to copy and comparable
//   static Handle Closer::invalid() the value that holds nothing
//   void operator()(Handle) const  gives a handle back; never called with invalid()
// Move-only: moving hands the handle and the closer over and leaves the source empty.
template <class Closer> class UniqueHandle {
  public:
    using Handle = typename Closer::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle, Closer closer = Closer()) : handle_(handle), closer_(std::move(closer)) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()), closer_(std::move(other.closer_)) {}
    // Closes the handle held (with its own closer) before taking the other's.
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
            closer_ = std::move(other.closer_);
        }
        return *this;
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Closer::invalid(); }

    // Gives the handle up without closing it; the caller owns it from then on.
    [[nodiscard]] Handle release() { return std::exchange(handle_, Closer::invalid()); }
    // Closes the handle held, if any, and holds handle instead.
    void reset(Handle handle = Closer::invalid()) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Closer::invalid()) closer_(old);
    }

  private:
    Handle handle_ = Closer::invalid();
    [[no_unique_address]] Closer closer_{};
};

// Gives a handle back through the object that handed it out: layer->close(handle).
template <class Layer, class H, H kInvalid> struct LayerCloser {
    using Handle = H;
    static constexpr Handle invalid() { return kInvalid; }
    void operator()(Handle handle) const { layer->close(handle); }
    Layer* layer = nullptr;
};

} // namespace tessera
