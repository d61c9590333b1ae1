#include "legacy/point_queue.h"

namespace halvix {

void resetPoints(PointQueue& queue) {
    queue.readIndex.store(0, std::memory_order_relaxed);
    queue.writeIndex.store(0, std::memory_order_relaxed);
    queue.taken.store(0, std::memory_order_relaxed);
    queue.pushed.store(0, std::memory_order_relaxed);
}

void pushPoint(PointQueue& queue, std::int32_t value) {
    if (value == 0) return;
    const std::uint32_t pushed = queue.pushed.load(std::memory_order_relaxed);  // ours
    // Acquire: a slot the consumer freed is read out before it is reused.
    if (pushed - queue.taken.load(std::memory_order_acquire) >= PointQueue::capacity) return;
    const std::int32_t write = queue.writeIndex.load(std::memory_order_relaxed);  // ours
    queue.slots[write] = value;
    queue.writeIndex.store(write + 1 == PointQueue::capacity ? 0 : write + 1,
                           std::memory_order_relaxed);
    queue.pushed.store(pushed + 1, std::memory_order_release);  // publishes the slot
}

std::int32_t takePoint(PointQueue& queue) {
    const std::uint32_t taken = queue.taken.load(std::memory_order_relaxed);  // ours
    if (queue.pushed.load(std::memory_order_acquire) == taken) return 0;
    const std::int32_t read = queue.readIndex.load(std::memory_order_relaxed);  // ours
    const std::int32_t value = queue.slots[read];
    queue.readIndex.store(read + 1 == PointQueue::capacity ? 0 : read + 1,
                          std::memory_order_relaxed);
    queue.taken.store(taken + 1, std::memory_order_release);  // frees the slot
    return value;
}

std::int32_t queuedPoints(const PointQueue& queue) {
    // Taken first, so the difference is never negative. On the consumer's
    // thread it is exact; elsewhere it may include points taken between the
    // two loads, so it is capped at the capacity.
    const std::uint32_t taken = queue.taken.load(std::memory_order_acquire);
    const std::uint32_t pushed = queue.pushed.load(std::memory_order_acquire);
    const std::uint32_t queued = pushed - taken;
    return queued >= PointQueue::capacity ? PointQueue::capacity : static_cast<std::int32_t>(queued);
}

}  // namespace halvix
