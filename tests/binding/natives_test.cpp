// The natives' handling of Java values, and the port-name table through them.
#include <gtest/gtest.h>

#include "binding/port_state.h"
#include "support/bus_fixture.h"

namespace halvix {
namespace {

using testing::BusTest;

class NativesTest : public BusTest {
protected:
    bool openChars(const std::u16string& name) {
        return Java_Halvix_openUsbPort(jni.env(), nullptr, jni.string(name)) == JNI_TRUE;
    }
};

TEST_F(NativesTest, PortNamesOnTheDefaultBus) {
    struct Case {
        const char* name;
        bool opens;
        std::uint8_t hidMode;
    };
    const Case cases[] = {
        {"USB1", true, 0}, {"USB", true, 0},   {"USB0", false, 0}, {"USBx", false, 0},
        {"USB2", false, 0}, {"HID1", true, 1}, {"HID2", true, 1},  {"HID3", false, 1},
        {"HID", true, 1},  {"", true, 1},      {"COM2", true, 1},  {"usb1", true, 1},
        {"HID0", false, 1}, {"HID4294967297", false, 1},  // would wrap to 1 in 32 bits
        {"USB00000000000000001", false, 0},                // suffix longer than 15
    };
    for (const Case& c : cases) {
        EXPECT_EQ(open(c.name), c.opens) << '"' << c.name << '"';
        EXPECT_EQ(portState.hidMode.load(), c.hidMode) << '"' << c.name << '"';
        close();
    }
}

TEST_F(NativesTest, NamesBeyondAsciiAreCopiedWhole) {
    struct Case {
        std::u16string name;
        bool opens;
    };
    const Case cases[] = {
        {u"USB1\u00e9", true},          // the number ends at the first non-digit
        {u"HID2\u4e2d\u6587", true},
        {u"USB\u00e91", false},         // no number after the prefix
        {u"H\u00e9D1", false},          // not "USB", and no number: ordinal -1
        {u"\u4e2d\u6587\u5b57", false},  // three characters, nine bytes: no number follows
        {std::u16string(5000, u'\u00e9'), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(openChars(c.name), c.opens) << c.name.size() << " characters";
        EXPECT_FALSE(jni.exceptionPending) << c.name.size() << " characters";
        close();
    }
}

TEST_F(NativesTest, NullArgumentsAnswerFalse) {
    EXPECT_EQ(Java_Halvix_openUsbPort(jni.env(), nullptr, nullptr), JNI_FALSE);
    ASSERT_TRUE(open("HID1"));
    EXPECT_EQ(Java_Halvix_putCmdString(jni.env(), nullptr, nullptr), JNI_FALSE);
    close();
}

TEST_F(NativesTest, CloseAnswersTrueAlways) {
    EXPECT_EQ(Java_Halvix_closeUsbPort(jni.env(), nullptr), JNI_TRUE) << "nothing ever opened";
    EXPECT_FALSE(open("HID3"));
    EXPECT_EQ(Java_Halvix_closeUsbPort(jni.env(), nullptr), JNI_TRUE) << "after a failed open";
    EXPECT_EQ(Java_Halvix_closeUsbPort(jni.env(), nullptr), JNI_TRUE) << "twice";
}

}  // namespace
}  // namespace halvix
