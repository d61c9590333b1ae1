#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "hid/hid_channel.h"
#include "support/bus_fixture.h"

namespace halvix {
namespace {

using testing::BusTest;

// What the slot's write handle is open on, by product ID.
std::optional<std::uint16_t> productInSlot() {
    HANDLE h = hidPadSlot().writeHandle.load();
    if (h == nullptr) return std::nullopt;
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!HidD_GetAttributes(h, &a)) return std::nullopt;
    return a.ProductID;
}

void releasePad() { closeHidPort(); }

struct Device {
    std::uint16_t vendor;
    std::uint16_t product;
    DWORD openError = 0;
    bool attributesFail = false;
};

struct DiscoveryCase {
    const char* what;
    std::vector<Device> devices;
    std::int32_t ordinal;
    std::optional<std::uint16_t> found;  // product ID of the pad found
};

class HidDiscoveryTest : public BusTest {};

TEST_F(HidDiscoveryTest, OrdinalsCountOnlyPads) {
    const Device keyboard{0x046D, 0xC31C};
    const Device locked{0x045E, 0x0040, ERROR_ACCESS_DENIED};
    const Device mute{0x046D, 0xC077, 0, true};  // attributes cannot be read
    const DiscoveryCase cases[] = {
        {"no pad at all", {keyboard}, 0, std::nullopt},
        {"the one pad", {{0x1D3B, 0x0050}}, 0, 0x0050},
        {"past the one pad", {{0x1D3B, 0x0050}}, 1, std::nullopt},
        {"product 0x42 is not a pad", {{0x1D3B, 0x0042}, {0x1D3B, 0x0043}}, 0, 0x0043},
        {"0x42 takes no ordinal", {{0x1D3B, 0x0042}, {0x1D3B, 0x0043}}, 1, std::nullopt},
        {"another vendor's 0x43", {{0x1D3C, 0x0043}, {0x1D3B, 0xFFFF}}, 0, 0xFFFF},
        {"keyboard between two pads", {{0x1D3B, 0x43}, keyboard, {0x1D3B, 0x44}}, 1, 0x44},
        {"unopenable between two pads", {{0x1D3B, 0x43}, locked, {0x1D3B, 0x44}}, 1, 0x44},
        {"unreadable between two pads", {{0x1D3B, 0x43}, mute, {0x1D3B, 0x44}}, 1, 0x44},
        {"a pad that cannot be opened", {{0x1D3B, 0x43, ERROR_ACCESS_DENIED}, {0x1D3B, 0x44}}, 0,
         0x44},
        {"negative ordinal", {{0x1D3B, 0x43}}, -1, std::nullopt},
        {"most negative ordinal", {{0x1D3B, 0x43}}, INT32_MIN, std::nullopt},
        {"too large an ordinal", {{0x1D3B, 0x43}, {0x1D3B, 0x44}}, 2, std::nullopt},
        {"largest ordinal", {{0x1D3B, 0x43}}, INT32_MAX, std::nullopt},
        {"nothing present", {}, 0, std::nullopt},
    };
    for (const DiscoveryCase& c : cases) {
        vbus::clearPopulation();
        for (const Device& d : c.devices) {
            vbus::addHidDevice({d.vendor, d.product, vbus::HidBehaviour::Silent, d.openError,
                                d.attributesFail});
        }
        const std::size_t handles = vbus::openHandleCount();
        const bool found = findHidPad(c.ordinal);
        EXPECT_EQ(found, c.found.has_value()) << c.what;
        EXPECT_EQ(productInSlot(), c.found) << c.what;
        if (!found) {
            EXPECT_EQ(hidPadSlot().padPath.load(), nullptr) << c.what;
            EXPECT_EQ(hidPadSlot().writeHandle.load(), nullptr) << c.what;
            EXPECT_EQ(vbus::openHandleCount(), handles) << c.what << ": something is still held";
        } else {
            EXPECT_EQ(vbus::openHandleCount(), handles + 1) << c.what << ": only the write handle";
        }
        releasePad();
    }
}

TEST_F(HidDiscoveryTest, DefaultBusHasTwoPads) {
    EXPECT_TRUE(findHidPad(0));
    EXPECT_EQ(productInSlot(), 0x0043);
    EXPECT_TRUE(findHidPad(1));  // a second walk releases the first pad
    EXPECT_EQ(productInSlot(), 0x00A5);
    EXPECT_FALSE(findHidPad(2));
    releasePad();
}

TEST_F(HidDiscoveryTest, RecordFaultsHoldNothing) {
    vbus::clearPopulation();
    const vbus::DeviceId first = vbus::addHidDevice({0x1D3B, 0x43});
    vbus::addHidDevice({0x1D3B, 0x44});

    // A record that cannot be read is not a pad: the walk goes on.
    vbus::setDetailQueryError(first, ERROR_GEN_FAILURE);
    EXPECT_TRUE(findHidPad(0));
    EXPECT_EQ(productInSlot(), 0x44);
    releasePad();
    vbus::setDetailQueryError(first, 0);

    // A record that cannot be allocated ends the walk with nothing held.
    vbus::setDetailSize(first, 0xFFFFFFF0u);
    const std::size_t handles = vbus::openHandleCount();
    EXPECT_FALSE(findHidPad(1));
    EXPECT_EQ(hidPadSlot().padPath.load(), nullptr);
    EXPECT_EQ(vbus::openHandleCount(), handles);
    vbus::setDetailSize(first, 0);

    // No set of HID interfaces at all.
    vbus::setClassDevsError(vbus::hidClass(), ERROR_GEN_FAILURE);
    EXPECT_FALSE(findHidPad(0));
    EXPECT_EQ(vbus::openHandleCount(), handles);
}

}  // namespace
}  // namespace halvix
