// The serial byte ring: a fixed 32768-byte single-producer single-consumer
// queue between the HID reader (producer) and the caller of getSerialData
// (consumer). It takes bytes only while it holds fewer than 32758, so a full
// ring never looks empty. No lock: each side moves only its own position and
// publishes it with a release store after the bytes it covers.
#pragma once

#include <atomic>
#include <cstdint>

namespace halvix {

struct SerialRing {
    static constexpr std::uint32_t storageSize = 0x8000;
    static constexpr std::uint32_t acceptLimit = 0x7FF6;  // ten short of the storage
    static constexpr std::uint32_t maxPayload = 7;        // payload bytes in one report

    std::uint8_t storage[storageSize];
    std::atomic<std::uint32_t> writePosition;  // moved by the producer only
    std::atomic<std::uint32_t> readPosition;   // moved by the consumer only
};

// Empties the ring. Only while neither side runs.
void resetRing(SerialRing& ring);

// The number of bytes queued; either side.
std::uint32_t queuedBytes(const SerialRing& ring);

// Producer: stores one byte, with no fullness check.
void pushByte(SerialRing& ring, std::uint8_t byte);

// Producer: appends a report's payload. `count` is the report's count nibble;
// above 7 it still means the 7 bytes a report carries. Bytes that would take
// the ring to 32758 or beyond are dropped.
void acceptPayload(SerialRing& ring, const std::uint8_t* payload, unsigned count);

// Consumer: the oldest byte, with no emptiness check (take no more than
// queuedBytes reported).
std::uint8_t takeByte(SerialRing& ring);

// Consumer: takes the `count` oldest bytes into `out`, as `count` takeByte
// calls would; `count` must not exceed what queuedBytes reported.
void takeBytes(SerialRing& ring, std::uint8_t* out, std::uint32_t count);

}  // namespace halvix
