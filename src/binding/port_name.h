// Port names: "USB" followed by a number selects the n-th pad of the legacy
// driver, any other name the n-th HID pad. Numbers count from 1; the ordinal
// that the channels take counts from 0, and a negative one matches no pad.
#pragma once

#include <cstdint>

namespace halvix {

struct PortChoice {
    bool legacy;           // the first three characters are exactly "USB"
    std::int32_t ordinal;  // zero-based pad index; negative: no pad
};

// The channel and ordinal `name` (zero-terminated, may be null) selects. The
// text after the first three characters is read as a "%d" conversion reads it
// (white space, optional sign, digits); without a number the ordinal is 0 - 1.
// A name of three characters or fewer has ordinal 0. A suffix longer than 15
// characters, or a number whose ordinal falls outside 32 bits, matches no pad.
PortChoice parsePortName(const char* name);

}  // namespace halvix
