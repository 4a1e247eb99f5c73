#include "base/json_writer.h"

#include <gtest/gtest.h>

namespace tessera::json {

TEST(JsonQuote, EscapesWhatJsonCannotHoldAndReplacesBrokenUtf8) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\n\t\x01\x7f", "\"\\n\\t\\u0001\\u007f\""},
        {"K\xC3\xB6ln \xE2\x82\xAC", "\"K\xC3\xB6ln \xE2\x82\xAC\""},
        {"\xFF" "a\xC3", "\"\xEF\xBF\xBD" "a\xEF\xBF\xBD\""},  // stray byte, cut-off sequence
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // a surrogate is no character
    };
    for (const auto& c : cases)
        EXPECT_EQ(quote(c.in), c.out) << c.in;
}

TEST(JsonWriter, PlacesCommasBetweenMembersOfNestedContainers) {
    Writer w;
    w.beginArray().beginObject().key("port").value("tcp:a").key("keys").beginArray().value("A1").value("B2");
    w.endArray().key("free").value(std::optional<int>{}).key("ok").value(true).endObject();
    w.beginObject().endObject().endArray();
    EXPECT_EQ(w.text(), R"([{"port": "tcp:a", "keys": ["A1", "B2"], "free": null, "ok": true}, {}])");
}

} // namespace tessera::json
