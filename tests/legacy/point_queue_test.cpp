#include "legacy/point_queue.h"

#include <gtest/gtest.h>

#include <memory>

namespace halvix {
namespace {

class PointQueueTest : public ::testing::Test {
protected:
    void SetUp() override { resetPoints(*queue); }
    std::unique_ptr<PointQueue> queue = std::make_unique<PointQueue>();
};

TEST_F(PointQueueTest, ZeroIsNeverQueued) {
    pushPoint(*queue, 0);
    EXPECT_EQ(queuedPoints(*queue), 0);
    pushPoint(*queue, 5);
    pushPoint(*queue, 0);
    EXPECT_EQ(takePoint(*queue), 5);
    EXPECT_EQ(takePoint(*queue), 0) << "an empty queue answers 0";
}

TEST_F(PointQueueTest, FullQueueKeepsTheOldest) {
    for (std::int32_t v = 1; v <= 1001; ++v) pushPoint(*queue, v);
    EXPECT_EQ(queuedPoints(*queue), 1000);
    for (std::int32_t v = 1; v <= 1000; ++v) ASSERT_EQ(takePoint(*queue), v);
    EXPECT_EQ(takePoint(*queue), 0) << "the 1001st point was dropped";
}

TEST_F(PointQueueTest, IndicesWrap) {
    for (std::int32_t v = 1; v <= 1000; ++v) pushPoint(*queue, v);
    for (std::int32_t v = 1; v <= 1000; ++v) takePoint(*queue);
    pushPoint(*queue, 77);
    EXPECT_EQ(queue->slots[0], 77) << "the next push lands in slot 0";
    EXPECT_EQ(takePoint(*queue), 77);
    for (int round = 0; round < 2500; ++round) {  // interleaved, across many wraps
        pushPoint(*queue, round + 1);
        pushPoint(*queue, -(round + 1));
        ASSERT_EQ(takePoint(*queue), round + 1);
        ASSERT_EQ(takePoint(*queue), -(round + 1));
    }
}

TEST_F(PointQueueTest, ExtremeValuesComeBackUnchanged) {
    for (std::int32_t v : {INT32_MIN, -1, 1, INT32_MAX, static_cast<std::int32_t>(0x8000FF00u)}) {
        pushPoint(*queue, v);
        EXPECT_EQ(takePoint(*queue), v);
    }
}

}  // namespace
}  // namespace halvix
