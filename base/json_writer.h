#pragma once
// A small writer of JSON text for the tools' machine-readable output (status, info, reports). It keeps
// track of commas itself, so callers only say what comes next. Text is taken as UTF-8 and passed through;
// control characters, quotes and backslashes are escaped, and bytes that are not valid UTF-8 become U+FFFD
// so that a printer's odd answer cannot make the output unreadable.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::json {

// The text as a JSON string, quotes included.
std::string quote(std::string_view text);

class Writer {
  public:
    Writer& beginObject();
    Writer& endObject();
    Writer& beginArray();
    Writer& endArray();
    // The name of the next member of the current object.
    Writer& key(std::string_view name);

    Writer& value(std::string_view text);
    Writer& value(const char* text) { return value(std::string_view(text)); }
    Writer& value(const std::string& text) { return value(std::string_view(text)); }
    Writer& value(bool b);
    Writer& value(std::int64_t n);
    Writer& value(std::uint64_t n);
    Writer& value(int n) { return value(static_cast<std::int64_t>(n)); }
    Writer& null();
    template <class T> Writer& value(const std::optional<T>& v) { return v ? value(*v) : null(); }
    // Text that is already JSON (an object written by another Writer).
    Writer& raw(std::string_view json);

    const std::string& text() const { return out_; }

  private:
    void beforeValue();

    std::string out_;
    std::vector<bool> first_; // per open container: no member written yet
    bool afterKey_ = false;
};

} // namespace tessera::json
