// The queue's operations are inline in its header, since the reader and
// getPointData call them per point; only the reset, which runs once per
// open, lives here.
#include "legacy/point_queue.h"

namespace halvix {

void resetPoints(PointQueue& queue) {
    // Relaxed: no reader runs; starting the next one orders these stores before it.
    queue.pushedTotal.store(0, std::memory_order_relaxed);
    queue.takenTotal.store(0, std::memory_order_relaxed);
    queue.fullAt = PointQueue::capacity;
    queue.pushedSeen = 0;
}

}  // namespace halvix
