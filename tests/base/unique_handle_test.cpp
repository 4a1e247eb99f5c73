#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessera {

namespace {
// Stands for a platform layer: it records what it was given back.
struct Ledger {
    std::vector<int> closed;
    void close(int handle) { closed.push_back(handle); }
};
using Owned = UniqueHandle<LayerCloser<Ledger, int, -1>>;
} // namespace

TEST(UniqueHandle, GivesEachHandleBackOnceThroughTheLayerThatOpenedIt) {
    // x holds 1 of layer a, y holds 2 of layer b; the lists are what each layer got back once both are dropped.
    const struct {
        const char* name;
        void (*act)(Owned& x, Owned& y);
        std::vector<int> a, b;
    } cases[] = {
        {"dropped", [](Owned&, Owned&) {}, {1}, {2}},
        {"moved out", [](Owned& x, Owned&) { Owned z(std::move(x)); }, {1}, {2}},
        {"move-assigned", [](Owned& x, Owned& y) { x = std::move(y); }, {1}, {2}},
        {"reset", [](Owned& x, Owned&) { x.reset(3); }, {1, 3}, {2}},
        {"released", [](Owned& x, Owned&) { EXPECT_EQ(x.release(), 1); }, {}, {2}},
    };
    for (const auto& c : cases) {
        Ledger a, b;
        {
            Owned x(1, {&a}), y(2, {&b});
            c.act(x, y);
        }
        EXPECT_EQ(a.closed, c.a) << c.name;
        EXPECT_EQ(b.closed, c.b) << c.name;
    }
}

} // namespace tessera
