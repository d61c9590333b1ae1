// The point queue: 1000 slots of 32-bit point values between the legacy
// reader (producer) and the caller of getPointData (consumer). A full queue
// keeps its oldest points and drops new ones; 0 means "no point" and is never
// queued. No lock: each side counts the points it has moved in a total of its
// own, on a cache line of its own, and the number queued is the difference
// of the two totals. Each side keeps a private copy of the other's total and
// reloads it only when that copy says the queue is full (producer) or empty
// (consumer).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace halvix {

struct PointQueue {
    static constexpr std::int32_t capacity = 1000;
    // The totals count modulo twice the capacity: a total names its slot
    // (total mod 1000) and, with the other total, tells a full queue (1000
    // apart) from an empty one (equal).
    static constexpr std::uint32_t totalWrap = 2 * capacity;
    static constexpr std::size_t cacheLine = 64;

    std::int32_t slots[capacity];

    // The producer's line.
    alignas(cacheLine) std::atomic<std::uint32_t> pushedTotal;  // points queued so far
    // The producer's copy of takenTotal, kept as the pushed total at which
    // the queue would be full; it may lag, so the queue looks fuller.
    std::uint32_t fullAt;

    // The consumer's line.
    alignas(cacheLine) std::atomic<std::uint32_t> takenTotal;  // points taken so far
    std::uint32_t pushedSeen;  // copy of pushedTotal; may lag, so the queue looks emptier
};

// Empties the queue. Only while neither side runs (the opener, before it
// starts the reader).
void resetPoints(PointQueue& queue);

// Producer: queues `value` unless it is 0 or the queue is full; true when it
// was queued.
inline bool pushPoint(PointQueue& queue, std::int32_t value);

// Consumer: the oldest point, or 0 when none is queued.
inline std::int32_t takePoint(PointQueue& queue);

// Either side: the number of points queued, 0 to 1000. The producer may see
// a few more than are left, the consumer a few fewer than have arrived.
inline std::int32_t queuedPoints(const PointQueue& queue);

// The operations are defined here, inline, so that the reader's loop and
// getPointData carry no call per point.

namespace point_detail {

inline std::uint32_t slotOf(std::uint32_t total) {
    return total >= PointQueue::capacity ? total - PointQueue::capacity : total;
}

inline std::uint32_t nextTotal(std::uint32_t total) { return total + 1 == PointQueue::totalWrap ? 0 : total + 1; }

// The pushed total at which a queue whose taken total is `taken` is full.
inline std::uint32_t fullAt(std::uint32_t taken) {
    return taken >= PointQueue::capacity ? taken - PointQueue::capacity : taken + PointQueue::capacity;
}

inline std::uint32_t queued(std::uint32_t pushed, std::uint32_t taken) {
    return pushed >= taken ? pushed - taken : pushed + PointQueue::totalWrap - taken;
}

}  // namespace point_detail

inline bool pushPoint(PointQueue& queue, std::int32_t value) {
    if (value == 0) return false;
    const std::uint32_t pushed = queue.pushedTotal.load(std::memory_order_relaxed);  // relaxed: ours
    if (pushed == queue.fullAt) {
        // Acquire: the consumer has read out the slot it freed before we reuse it.
        queue.fullAt = point_detail::fullAt(queue.takenTotal.load(std::memory_order_acquire));
        if (pushed == queue.fullAt) return false;
    }
    queue.slots[point_detail::slotOf(pushed)] = value;
    // Release: the value is in its slot before the consumer can see it counted.
    queue.pushedTotal.store(point_detail::nextTotal(pushed), std::memory_order_release);
    return true;
}

inline std::int32_t takePoint(PointQueue& queue) {
    const std::uint32_t taken = queue.takenTotal.load(std::memory_order_relaxed);  // relaxed: ours
    if (queue.pushedSeen == taken) {
        // Acquire: the values the new total counts are in their slots before we read them.
        queue.pushedSeen = queue.pushedTotal.load(std::memory_order_acquire);
        if (queue.pushedSeen == taken) return 0;
    }
    const std::int32_t value = queue.slots[point_detail::slotOf(taken)];
    // Release: the value is read out before the producer may reuse its slot.
    queue.takenTotal.store(point_detail::nextTotal(taken), std::memory_order_release);
    return value;
}

inline std::int32_t queuedPoints(const PointQueue& queue) {
    // Taken first, then pushed, both acquire: the pushed total read second
    // then counts at least every point the taken one does. A caller that is
    // neither side could see the consumer move on in between, hence the cap.
    const std::uint32_t taken = queue.takenTotal.load(std::memory_order_acquire);
    const std::uint32_t pushed = queue.pushedTotal.load(std::memory_order_acquire);
    return static_cast<std::int32_t>(
        std::min<std::uint32_t>(point_detail::queued(pushed, taken), PointQueue::capacity));
}

}  // namespace halvix
