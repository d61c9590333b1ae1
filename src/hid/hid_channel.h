// The HID pad channel: finds the n-th HID pad (vendor 0x1D3B, product 0x43 or
// more), runs one reader thread that moves the payload of the pad's 9-byte
// input reports into the serial byte ring, and writes commands to the pad as
// 9-byte output reports. Open, close and commands run on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "hid/serial_ring.h"
#include "platform/platform.h"

namespace halvix {

constexpr std::uint16_t padVendorId = 0x1D3B;
constexpr std::uint16_t lowestPadProductId = 0x43;

// The chosen pad and the handles the channel shares with its reader.
struct HidPadSlot {
    std::atomic<PSP_DEVICE_INTERFACE_DETAIL_DATA_A> padPath;  // owned; holds DevicePath
    std::atomic<HANDLE> writeHandle;  // synchronous handle that commands are written to
    std::atomic<HANDLE> stopEvent;    // the reader's stop event while it runs
    std::atomic<bool> readerReady;    // the reader has tried to open its own handle
};

HidPadSlot& hidPadSlot();
SerialRing& serialRing();

// Walks the present HID interfaces for the pad with `ordinal` (counting pads
// only) and leaves its path and an open write handle in the slot. On false
// the slot holds nothing.
bool findHidPad(std::int32_t ordinal);

// Finds the pad, empties the ring and starts the reader. False when no pad
// was found or the reader could not start.
bool openHidPort(std::int32_t ordinal);

// With a pad in the slot: empties the ring, starts the reader thread on the
// pad's path and pauses 10 ms, longer (bounded) until the reader has opened
// its own handle. On false the write handle is closed.
bool startHidReader();

// Stops the reader, waits for its thread to end, then releases the pad.
// Bounded: the reader wakes on its stop event. Bytes left in the ring stay.
void closeHidPort();

// Writes `length` command bytes as output reports of up to 7 bytes each;
// write errors are not reported. Caller's thread, one command at a time.
void sendCommand(const std::uint8_t* bytes, std::int32_t length);

}  // namespace halvix
