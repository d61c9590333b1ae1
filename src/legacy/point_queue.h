// The point queue: 1000 slots of 32-bit point values between the legacy
// reader (producer) and the caller of getPointData (consumer). A full queue
// keeps its oldest points and drops new ones; 0 means "no point" and is never
// queued. No lock: each side owns its index, and `count` changes by atomic
// read-modify-write on both sides.
#pragma once

#include <atomic>
#include <cstdint>

namespace halvix {

struct PointQueue {
    static constexpr std::int32_t capacity = 1000;

    std::int32_t slots[capacity];
    std::atomic<std::int32_t> writeIndex;  // the producer's
    std::atomic<std::int32_t> readIndex;   // the consumer's
    std::atomic<std::int32_t> count;
};

// Empties the queue. Only while neither side runs.
void resetPoints(PointQueue& queue);

// Producer: queues `value` unless it is 0 or the queue is full.
void pushPoint(PointQueue& queue, std::int32_t value);

// Consumer: the oldest point, or 0 when none is queued.
std::int32_t takePoint(PointQueue& queue);

// Either side: the number of points queued.
std::int32_t queuedPoints(const PointQueue& queue);

}  // namespace halvix
