// HID output reports: report ID 0, the number of command bytes (1 to 7),
// the bytes, then zero filler up to 9 bytes.
#pragma once

#include <array>
#include <cstdint>

namespace halvix {

using OutputReport = std::array<std::uint8_t, 9>;

constexpr std::int32_t commandBytesPerReport = 7;

// The report carrying the next min(length, 7) bytes of `bytes`; length >= 1.
OutputReport packReport(const std::uint8_t* bytes, std::int32_t length);

}  // namespace halvix
