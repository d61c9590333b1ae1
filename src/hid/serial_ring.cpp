// The ring's operations are inline in its header, since the reader and the
// drain call them per report; only the reset, which runs once per open,
// lives here.
#include "hid/serial_ring.h"

namespace halvix {

void resetRing(SerialRing& ring) {
    // Relaxed: no reader runs; starting the next one orders these stores before it.
    ring.writePosition.store(0, std::memory_order_relaxed);
    ring.readPosition.store(0, std::memory_order_relaxed);
    ring.readSeen = 0;
    ring.writeSeen = 0;
}

}  // namespace halvix
