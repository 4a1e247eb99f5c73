#include "base/sha256.h"

#include <gtest/gtest.h>

namespace tessera {

// The standard vectors (one of 56 bytes), plus lengths around the padding boundary (55, 64 bytes) and a
// million 'a's fed in uneven pieces, which exercises the buffering between calls.
TEST(Sha256, MatchesTheStandardVectors) {
    const struct {
        std::string message;
        std::size_t repeat;
        const char* hex;
    } cases[] = {
        {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a", 55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"a", 64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        std::string whole;
        for (std::size_t i = 0; i < c.repeat; ++i)
            whole += c.message;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(whole.data());
        EXPECT_EQ(sha256Hex({bytes, whole.size()}), c.hex) << whole.size() << " bytes";
        Sha256 pieces, once;
        for (std::size_t at = 0, step = 1; at < whole.size(); at += step, step = step * 3 % 97 + 1)
            pieces.update({bytes + at, std::min(step, whole.size() - at)});
        once.update({bytes, whole.size()});
        EXPECT_EQ(pieces.finish(), once.finish()) << whole.size() << " bytes in pieces";
    }
}

} // namespace tessera
