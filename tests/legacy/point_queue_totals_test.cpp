// The point queue counts what is queued as the difference of two running
// totals, one per side. These cases cover what that representation adds:
// totals that wrap past 2^32, and two threads moving points at full speed.
#include "legacy/point_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace halvix {
namespace {

// Puts both totals `start` points short of wrapping, as after a long run.
void ageTotals(PointQueue& queue, std::uint32_t start) {
    resetPoints(queue);
    queue.pushed.store(start);
    queue.taken.store(start);
}

TEST(PointQueueTotals, CountStaysRightWhereTheTotalsWrap) {
    for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0xFFFFFFFFu - 500, 0xFFFFFFFFu - 999}) {
        SCOPED_TRACE(start);
        auto queue = std::make_unique<PointQueue>();
        ageTotals(*queue, start);
        EXPECT_EQ(queuedPoints(*queue), 0);
        EXPECT_EQ(takePoint(*queue), 0) << "empty";
        for (std::int32_t v = 1; v <= 1001; ++v) pushPoint(*queue, v);
        EXPECT_EQ(queuedPoints(*queue), 1000) << "the 1001st point is dropped";
        for (std::int32_t v = 1; v <= 600; ++v) ASSERT_EQ(takePoint(*queue), v);
        EXPECT_EQ(queuedPoints(*queue), 400);
        for (std::int32_t v = 1001; v <= 1700; ++v) pushPoint(*queue, v);
        EXPECT_EQ(queuedPoints(*queue), 1000);
        for (std::int32_t v = 601; v <= 1000; ++v) ASSERT_EQ(takePoint(*queue), v);
        for (std::int32_t v = 1001; v <= 1600; ++v) ASSERT_EQ(takePoint(*queue), v);
        EXPECT_EQ(takePoint(*queue), 0) << "points beyond the capacity were dropped, not kept";
    }
}

TEST(PointQueueTotals, TwoThreadsMoveEveryPointInOrder) {
    auto queue = std::make_unique<PointQueue>();
    ageTotals(*queue, 0xFFFFFFFFu - 20000);  // wraps during the run
    constexpr std::int32_t points = 200000;
    std::thread producer([&] {
        for (std::int32_t v = 1; v <= points; ++v) {
            while (queuedPoints(*queue) >= PointQueue::capacity) std::this_thread::yield();
            pushPoint(*queue, v);
        }
    });
    std::int32_t expect = 1;
    while (expect <= points) {
        const std::int32_t got = takePoint(*queue);
        if (got == 0) {
            std::this_thread::yield();
            continue;
        }
        if (got != expect) break;
        ++expect;
    }
    producer.join();
    EXPECT_EQ(expect, points + 1) << "a point was lost, repeated or reordered before it";
    EXPECT_EQ(queuedPoints(*queue), 0);
}

}  // namespace
}  // namespace halvix
