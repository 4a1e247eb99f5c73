#include "base/json_writer.h"

#include <cstdio>

namespace tessera::json {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one (overlong forms, surrogates and code
// points past U+10FFFF included).
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + n > s.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

} // namespace

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; ++i; continue;
        case '\\': out += "\\\\"; ++i; continue;
        case '\n': out += "\\n"; ++i; continue;
        case '\r': out += "\\r"; ++i; continue;
        case '\t': out += "\\t"; ++i; continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    out += '"';
    return out;
}

void Writer::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ", ";
        first_.back() = false;
    }
}

Writer& Writer::beginObject() {
    beforeValue();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

Writer& Writer::endObject() {
    out_ += '}';
    first_.pop_back();
    return *this;
}

Writer& Writer::beginArray() {
    beforeValue();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

Writer& Writer::endArray() {
    out_ += ']';
    first_.pop_back();
    return *this;
}

Writer& Writer::key(std::string_view name) {
    beforeValue();
    out_ += quote(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

Writer& Writer::value(std::string_view text) {
    beforeValue();
    out_ += quote(text);
    return *this;
}

Writer& Writer::value(bool b) {
    beforeValue();
    out_ += b ? "true" : "false";
    return *this;
}

Writer& Writer::value(std::int64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::value(std::uint64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::null() {
    beforeValue();
    out_ += "null";
    return *this;
}

Writer& Writer::raw(std::string_view json) {
    beforeValue();
    out_ += json;
    return *this;
}

} // namespace tessera::json
