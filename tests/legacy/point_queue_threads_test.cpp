// The reader and the caller move points through the queue at full speed:
// with `count` changed by both sides, none may be lost, repeated or reordered.
#include "legacy/point_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace halvix {
namespace {

TEST(PointQueueThreads, TwoThreadsMoveEveryPointInOrder) {
    auto queue = std::make_unique<PointQueue>();
    resetPoints(*queue);
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
