#include "hid/serial_ring.h"

#include <algorithm>
#include <cstring>

namespace halvix {

namespace {

constexpr std::uint32_t wrapMask = SerialRing::storageSize - 1;

std::uint32_t distance(std::uint32_t write, std::uint32_t read) { return (write - read) & wrapMask; }

}  // namespace

void resetRing(SerialRing& ring) {
    ring.writePosition.store(0, std::memory_order_relaxed);
    ring.readPosition.store(0, std::memory_order_relaxed);
}

std::uint32_t queuedBytes(const SerialRing& ring) {
    // Acquire both: the consumer then sees the bytes the producer published,
    // the producer the slots the consumer released.
    const std::uint32_t write = ring.writePosition.load(std::memory_order_acquire);
    const std::uint32_t read = ring.readPosition.load(std::memory_order_acquire);
    return distance(write, read);
}

void pushByte(SerialRing& ring, std::uint8_t byte) {
    const std::uint32_t write = ring.writePosition.load(std::memory_order_relaxed);  // ours
    ring.storage[write] = byte;
    ring.writePosition.store((write + 1) & wrapMask, std::memory_order_release);
}

void acceptPayload(SerialRing& ring, const std::uint8_t* payload, unsigned count) {
    const std::uint32_t queued = queuedBytes(ring);
    if (queued >= SerialRing::acceptLimit) return;
    const std::uint32_t room = SerialRing::acceptLimit - queued;
    const std::uint32_t n = std::min({static_cast<std::uint32_t>(count), SerialRing::maxPayload, room});
    const std::uint32_t write = ring.writePosition.load(std::memory_order_relaxed);  // ours
    const std::uint32_t first = std::min(n, SerialRing::storageSize - write);
    std::memcpy(ring.storage + write, payload, first);
    // Only a payload that straddles the end of the storage has a second part;
    // leaving out the empty copy saves a library call on every report.
    if (n > first) std::memcpy(ring.storage, payload + first, n - first);
    ring.writePosition.store((write + n) & wrapMask, std::memory_order_release);
}

std::uint8_t takeByte(SerialRing& ring) {
    const std::uint32_t read = ring.readPosition.load(std::memory_order_relaxed);  // ours
    (void)ring.writePosition.load(std::memory_order_acquire);  // the byte is published
    const std::uint8_t byte = ring.storage[read];
    ring.readPosition.store((read + 1) & wrapMask, std::memory_order_release);
    return byte;
}

void takeBytes(SerialRing& ring, std::uint8_t* out, std::uint32_t count) {
    if (count == 0) return;  // `out` may then be null, which memcpy must never see
    const std::uint32_t read = ring.readPosition.load(std::memory_order_relaxed);  // ours
    (void)ring.writePosition.load(std::memory_order_acquire);  // the bytes are published
    const std::uint32_t first = std::min(count, SerialRing::storageSize - read);
    std::memcpy(out, ring.storage + read, first);
    if (count > first) std::memcpy(out + first, ring.storage, count - first);
    ring.readPosition.store((read + count) & wrapMask, std::memory_order_release);
}

}  // namespace halvix
