#pragma once
// Result types for expected failures. The system logic never throws; an operation that can fail returns a
// Result<T> (a value or an Error) or a Status (nothing or an Error). The kind tells a caller whether the
// input was at fault or the outside world (a file write, a printer), which the command line turns into its
// exit status.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tessera {

enum class ErrorKind {
    BadInput, // the caller's input cannot be used: a malformed file, a value out of range, too many logos
    Io,       // the input was fine but a file or device operation failed
};

struct Error {
    ErrorKind kind = ErrorKind::BadInput;
    std::string message;
};

inline Error badInput(std::string message) { return Error{ErrorKind::BadInput, std::move(message)}; }
inline Error ioError(std::string message) { return Error{ErrorKind::Io, std::move(message)}; }

template <class T> class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<1>(v_); }

  private:
    std::variant<T, Error> v_;
};

template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

  private:
    std::optional<Error> error_;
};

using Status = Result<void>;

// Prefixes an error's message with context ("logo.bmp: ") and keeps its kind.
inline Error withContext(const std::string& context, Error e) {
    e.message = context + ": " + e.message;
    return e;
}

} // namespace tessera
