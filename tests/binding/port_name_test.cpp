#include "binding/port_name.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace halvix {
namespace {

struct NameCase {
    const char* name;
    bool legacy;
    std::int32_t ordinal;
};

TEST(PortName, ChannelAndOrdinal) {
    const NameCase cases[] = {
        {"USB1", true, 0},
        {"USB", true, 0},
        {"USB0", true, -1},
        {"USBx", true, -1},
        {"HID1", false, 0},
        {"HID3", false, 2},
        {"HID", false, 0},
        {"", false, 0},
        {"COM2", false, 1},
        {"usb1", false, 0},
        {"US", false, 0},
        {"USB 2", true, 1},         // white space before the number
        {"USB\t+3", true, 2},       // tab and sign
        {"HID-4", false, -5},       // negative numbers match no pad
        {"HID12abc", false, 11},    // digits up to the first non-digit
        {"HID 000000000007", false, 6},
        {"HID2147483647", false, 2147483646},
        {"HID2147483648", false, -1},   // beyond 32 bits: no pad
        {"HID-2147483648", false, -1},  // its ordinal would fall below 32 bits
        {"HID-2147483647", false, INT_MIN},
        {"HID999999999999999", false, -1},
        {"HID123456789012345", false, -1},     // 15 characters, out of range
        {"HID0000000000000001", false, -1},    // 16 characters: past the scratch copy
        {"HID000000000000001", false, 0},      // exactly 15 characters
    };
    for (const NameCase& c : cases) {
        PortChoice choice = parsePortName(c.name);
        EXPECT_EQ(choice.legacy, c.legacy) << '"' << c.name << '"';
        EXPECT_EQ(choice.ordinal, c.ordinal) << '"' << c.name << '"';
    }
}

TEST(PortName, NullNameIsTheFirstHidPad) {
    PortChoice choice = parsePortName(nullptr);
    EXPECT_FALSE(choice.legacy);
    EXPECT_EQ(choice.ordinal, 0);
}

TEST(PortName, LongSuffixesMatchNoPad) {
    for (std::size_t length : {16u, 100u, 5000u}) {
        std::string name = "USB" + std::string(length, '1');
        PortChoice choice = parsePortName(name.c_str());
        EXPECT_TRUE(choice.legacy) << length;
        EXPECT_EQ(choice.ordinal, -1) << length;
    }
}

}  // namespace
}  // namespace halvix
