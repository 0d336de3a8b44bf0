#include "interface/presence_table.h"

#include <gtest/gtest.h>

namespace {

using kinetra::PresenceTable;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(PresenceTable, ExpiresExactlyAtTheLimitInAscendingOrder) {
    // The limit is written out rather than read from the class: a node heard at t
    // is present up to t + 1.001 s and gone from then on.
    PresenceTable table;
    const PresenceTable::TimePoint t0{};
    table.add(9, 1, t0);
    table.add(3, 2, t0);
    table.add(5, 3, t0 + milliseconds(500));

    for (const nanoseconds present : {nanoseconds(milliseconds(1000)), milliseconds(1001) - nanoseconds(1)}) {
        EXPECT_TRUE(table.expire(t0 + present).empty()) << present.count() << " ns";
    }
    EXPECT_EQ(table.expire(t0 + milliseconds(1001)), (std::vector<uint32_t>{3, 9}));
    EXPECT_FALSE(table.contains(3));
    EXPECT_TRUE(table.contains(5));
    // Already expired nodes are reported once only; the later one on its own edge.
    EXPECT_TRUE(table.expire(t0 + milliseconds(1501) - nanoseconds(1)).empty());
    EXPECT_EQ(table.expire(t0 + milliseconds(1501)), std::vector<uint32_t>{5});
}

TEST(PresenceTable, HeartbeatsKeepANodeAndUnknownNodesAreNotRefreshed) {
    PresenceTable table;
    const PresenceTable::TimePoint t0{};
    EXPECT_FALSE(table.refresh(4, t0));
    table.add(4, 2, t0);
    table.add(4, 7, t0);  // a second add keeps the first entry
    for (int i = 1; i <= 10; ++i) {
        EXPECT_TRUE(table.refresh(4, t0 + milliseconds(900 * i)));
        EXPECT_TRUE(table.expire(t0 + milliseconds(900 * i + 1000)).empty());
    }
    EXPECT_EQ(table.snapshot(), (std::map<unsigned, unsigned char>{{4, 2}}));
}

TEST(PresenceTable, SnapshotIsIndependent) {
    PresenceTable table;
    table.add(1, 1, {});
    const auto copy = table.snapshot();
    table.clear();
    EXPECT_EQ(copy.size(), 1u);
    EXPECT_TRUE(table.snapshot().empty());
}

}  // namespace
