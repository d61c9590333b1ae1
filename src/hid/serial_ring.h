// The serial byte ring: a fixed 32768-byte single-producer single-consumer
// queue between the HID reader (producer) and the caller of getSerialData
// (consumer). It takes bytes only while it holds fewer than 32758, so a full
// ring never looks empty. No lock: each side moves only its own position,
// publishes it with a release store after the bytes it covers, and keeps a
// private copy of the other side's position that it reloads only when the
// copy says the ring is too full (producer) or too empty (consumer). The two
// positions live on separate cache lines, so a side that moves its own does
// not take the other side's line away.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace halvix {

struct SerialRing {
    static constexpr std::uint32_t storageSize = 0x8000;
    static constexpr std::uint32_t acceptLimit = 0x7FF6;  // ten short of the storage
    static constexpr std::uint32_t maxPayload = 7;        // payload bytes in one report
    static constexpr std::size_t cacheLine = 64;

    std::uint8_t storage[storageSize];

    // The producer's line: its published position and its copy of the
    // consumer's, which may lag the real one (the ring then looks fuller).
    alignas(cacheLine) std::atomic<std::uint32_t> writePosition;
    std::uint32_t readSeen;

    // The consumer's line: its published position and its copy of the
    // producer's, which may lag the real one (the ring then looks emptier).
    alignas(cacheLine) std::atomic<std::uint32_t> readPosition;
    std::uint32_t writeSeen;
};

// Empties the ring. Only while neither side runs (the opener, before it
// starts the reader).
void resetRing(SerialRing& ring);

// Consumer: the number of bytes queued, read afresh from the producer's
// position; takeBytes may then take that many.
inline std::uint32_t queuedBytes(SerialRing& ring);

// Producer: stores one byte, with no fullness check.
inline void pushByte(SerialRing& ring, std::uint8_t byte);

// Producer: appends a report's payload and returns how many bytes it
// appended. `count` is the report's count nibble; above 7 it still means the
// 7 bytes a report carries. Bytes that would take the ring to 32758 or
// beyond are dropped.
inline std::uint32_t acceptPayload(SerialRing& ring, const std::uint8_t* payload, unsigned count);

// Consumer: the oldest byte, with no emptiness check (take no more than
// queuedBytes reported).
inline std::uint8_t takeByte(SerialRing& ring);

// Consumer: takes the `count` oldest bytes into `out`, as `count` takeByte
// calls would; `count` must not exceed what queuedBytes reported.
inline void takeBytes(SerialRing& ring, std::uint8_t* out, std::uint32_t count);

// The operations are defined here, inline, so that the reader's loop and the
// drain carry no call per report.

namespace ring_detail {

constexpr std::uint32_t wrapMask = SerialRing::storageSize - 1;

inline std::uint32_t distance(std::uint32_t write, std::uint32_t read) { return (write - read) & wrapMask; }

// Producer: makes its copy of the read position current when, by that copy,
// fewer than `wanted` bytes fit; returns the bytes queued by the copy. The
// producer never runs more than the limit ahead of its copy, so the masked
// distance stays exact.
inline std::uint32_t queuedBySeen(SerialRing& ring, std::uint32_t write, std::uint32_t wanted) {
    std::uint32_t queued = distance(write, ring.readSeen);
    if (queued + wanted > SerialRing::acceptLimit) {
        // Acquire: the consumer has copied out the bytes it freed before we overwrite them.
        ring.readSeen = ring.readPosition.load(std::memory_order_acquire);
        queued = distance(write, ring.readSeen);
    }
    return queued;
}

// Consumer: makes its copy of the write position current when, by that
// copy, fewer than `count` bytes follow `read`.
inline void seeWritten(SerialRing& ring, std::uint32_t read, std::uint32_t count) {
    if (distance(ring.writeSeen, read) >= count) return;
    // Acquire: the bytes the new position covers are in place before we copy them.
    ring.writeSeen = ring.writePosition.load(std::memory_order_acquire);
}

}  // namespace ring_detail

inline std::uint32_t queuedBytes(SerialRing& ring) {
    const std::uint32_t read = ring.readPosition.load(std::memory_order_relaxed);  // relaxed: ours
    // Acquire: the bytes counted are in place before takeBytes copies them.
    ring.writeSeen = ring.writePosition.load(std::memory_order_acquire);
    return ring_detail::distance(ring.writeSeen, read);
}

inline void pushByte(SerialRing& ring, std::uint8_t byte) {
    const std::uint32_t write = ring.writePosition.load(std::memory_order_relaxed);  // relaxed: ours
    // No fullness check, but the copy of the read position is kept from
    // falling a whole limit behind, which acceptPayload relies on.
    ring_detail::queuedBySeen(ring, write, 1);
    ring.storage[write] = byte;
    // Release: the byte is in place before the consumer can see it counted.
    ring.writePosition.store((write + 1) & ring_detail::wrapMask, std::memory_order_release);
}

inline std::uint32_t acceptPayload(SerialRing& ring, const std::uint8_t* payload, unsigned count) {
    const std::uint32_t write = ring.writePosition.load(std::memory_order_relaxed);  // relaxed: ours
    const std::uint32_t wanted = std::min(static_cast<std::uint32_t>(count), SerialRing::maxPayload);
    const std::uint32_t queued = ring_detail::queuedBySeen(ring, write, wanted);
    if (queued >= SerialRing::acceptLimit) return 0;
    const std::uint32_t n = std::min(wanted, SerialRing::acceptLimit - queued);
    if (n == SerialRing::maxPayload && write + n <= SerialRing::storageSize) {
        // A full report away from the end of the storage, the usual case: a
        // copy of fixed size, which the compiler does without a library call.
        std::memcpy(ring.storage + write, payload, SerialRing::maxPayload);
    } else {
        for (std::uint32_t i = 0; i < n; ++i) ring.storage[(write + i) & ring_detail::wrapMask] = payload[i];
    }
    // Release: the bytes are in place before the consumer can see them counted.
    ring.writePosition.store((write + n) & ring_detail::wrapMask, std::memory_order_release);
    return n;
}

inline std::uint8_t takeByte(SerialRing& ring) {
    const std::uint32_t read = ring.readPosition.load(std::memory_order_relaxed);  // relaxed: ours
    ring_detail::seeWritten(ring, read, 1);
    const std::uint8_t byte = ring.storage[read];
    // Release: the byte is copied out before the producer may reuse its slot.
    ring.readPosition.store((read + 1) & ring_detail::wrapMask, std::memory_order_release);
    return byte;
}

inline void takeBytes(SerialRing& ring, std::uint8_t* out, std::uint32_t count) {
    if (count == 0) return;  // `out` may then be null, which memcpy must never see
    const std::uint32_t read = ring.readPosition.load(std::memory_order_relaxed);  // relaxed: ours
    ring_detail::seeWritten(ring, read, count);
    const std::uint32_t first = std::min(count, SerialRing::storageSize - read);
    std::memcpy(out, ring.storage + read, first);
    if (count > first) std::memcpy(out + first, ring.storage, count - first);
    // Release: the bytes are copied out before the producer may reuse their slots.
    ring.readPosition.store((read + count) & ring_detail::wrapMask, std::memory_order_release);
}

}  // namespace halvix
