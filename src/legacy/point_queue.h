// The point queue: 1000 slots of 32-bit point values between the legacy
// reader (producer) and the caller of getPointData (consumer). A full queue
// keeps its oldest points and drops new ones; 0 means "no point" and is never
// queued. No lock and no field both sides write: each side owns its index
// and a running total of the points it moved, and the count queued is the
// difference of the two totals.
#pragma once

#include <atomic>
#include <cstdint>

namespace halvix {

struct PointQueue {
    static constexpr std::int32_t capacity = 1000;

    std::int32_t slots[capacity];
    // Each side's fields on a cache line of their own, so that one side's
    // stores do not take the line from under the other's loads.
    alignas(64) std::atomic<std::int32_t> writeIndex;  // the producer's
    std::atomic<std::uint32_t> pushed;                 // points queued so far, modulo 2^32; the producer's
    alignas(64) std::atomic<std::int32_t> readIndex;   // the consumer's
    std::atomic<std::uint32_t> taken;                  // points taken so far, modulo 2^32; the consumer's
};

// Empties the queue. Only while neither side runs.
void resetPoints(PointQueue& queue);

// Producer: queues `value` unless it is 0 or the queue is full.
void pushPoint(PointQueue& queue, std::int32_t value);

// Consumer: the oldest point, or 0 when none is queued.
std::int32_t takePoint(PointQueue& queue);

// Either side: the number of points queued, 0 to 1000.
std::int32_t queuedPoints(const PointQueue& queue);

}  // namespace halvix
