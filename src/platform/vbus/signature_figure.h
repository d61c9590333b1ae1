// The demo signature that the virtual legacy pad streams, one record every
// 5 ms, starting again from the top when the figure ends.
//
// Record encoding (what a reader decodes): a 32-bit value with the pen's x in
// the high 16 bits and y in the low 16 bits, both unsigned, y growing
// downwards; x spans about 0x0100 to 0xFF00, so records with x of 0x8000 or
// more read as negative signed values. A record of 0 stands between strokes
// (pen lifted); the pad sends nothing else. The figure has several strokes
// and ends with the pen lifted, so it repeats seamlessly.
#pragma once

#include <cstdint>
#include <vector>

namespace vbus {

// The records of one pass over the figure, built on first use.
const std::vector<std::int32_t>& signatureRecords();

}  // namespace vbus
