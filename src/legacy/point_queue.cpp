#include "legacy/point_queue.h"

namespace halvix {

void resetPoints(PointQueue& queue) {
    queue.readIndex.store(0, std::memory_order_relaxed);
    queue.writeIndex.store(0, std::memory_order_relaxed);
    queue.count.store(0, std::memory_order_relaxed);
}

void pushPoint(PointQueue& queue, std::int32_t value) {
    if (value == 0) return;
    // Acquire: a slot the consumer freed is read out before it is reused.
    if (queue.count.load(std::memory_order_acquire) >= PointQueue::capacity) return;
    const std::int32_t write = queue.writeIndex.load(std::memory_order_relaxed);  // ours
    queue.slots[write] = value;
    queue.writeIndex.store(write + 1 == PointQueue::capacity ? 0 : write + 1,
                           std::memory_order_relaxed);
    queue.count.fetch_add(1, std::memory_order_acq_rel);  // publishes the slot
}

std::int32_t takePoint(PointQueue& queue) {
    if (queue.count.load(std::memory_order_acquire) <= 0) return 0;
    const std::int32_t read = queue.readIndex.load(std::memory_order_relaxed);  // ours
    const std::int32_t value = queue.slots[read];
    queue.readIndex.store(read + 1 == PointQueue::capacity ? 0 : read + 1,
                          std::memory_order_relaxed);
    queue.count.fetch_sub(1, std::memory_order_acq_rel);  // frees the slot
    return value;
}

std::int32_t queuedPoints(const PointQueue& queue) {
    return queue.count.load(std::memory_order_acquire);
}

}  // namespace halvix
