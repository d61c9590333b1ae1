#include "legacy/device_lookup.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/bus_fixture.h"

namespace halvix {
namespace {

using testing::BusTest;

class DeviceLookupTest : public BusTest {};

TEST_F(DeviceLookupTest, FindsTheVirtualLegacyPad) {
    DWORD error = 1;
    HANDLE pad = openDeviceInterface(legacyInterfaceClass, 0, error);
    ASSERT_NE(pad, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart + 1) << "only the device stays open";
    CloseHandle(pad);
    EXPECT_EQ(openLegacyDevice(1), nullptr);
    EXPECT_EQ(openLegacyDevice(-1), nullptr) << "a negative ordinal is a huge member index";
}

TEST_F(DeviceLookupTest, NoDeviceOfTheClass) {
    vbus::clearPopulation();
    DWORD error = 0;
    EXPECT_EQ(openDeviceInterface(legacyInterfaceClass, 0, error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(openLegacyDevice(0), nullptr);
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart) << "the set was not destroyed";
}

TEST_F(DeviceLookupTest, ErrorCodesOfEachStep) {
    struct Case {
        const char* what;
        void (*arrange)(vbus::DeviceId);
        DWORD error;
    };
    const Case cases[] = {
        {"set refused", [](vbus::DeviceId) { vbus::setClassDevsError(vbus::legacyClass(), ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED},
        {"record too large to allocate", [](vbus::DeviceId d) { vbus::setDetailSize(d, 0xFFFFFFF0u); },
         ERROR_NOT_ENOUGH_MEMORY},
        {"second detail query fails", [](vbus::DeviceId d) { vbus::setDetailQueryError(d, ERROR_GEN_FAILURE); },
         ERROR_GEN_FAILURE},
        {"path cannot be opened", [](vbus::DeviceId d) { vbus::setOpenError(d, ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED},
        {"device gone", [](vbus::DeviceId d) { vbus::unplug(d); }, ERROR_NO_MORE_ITEMS},
    };
    for (const Case& c : cases) {
        vbus::restoreDefaultPopulation();
        c.arrange(*vbus::deviceAt(vbus::legacyClass(), 0));
        DWORD error = 0;
        EXPECT_EQ(openDeviceInterface(legacyInterfaceClass, 0, error), INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(vbus::openHandleCount(), handlesAtStart) << c.what << ": something is still held";
    }
}

TEST_F(DeviceLookupTest, HoldersReleaseWhatTheyHold) {
    DWORD error = 0;
    {
        DeviceInfoSet set(legacyInterfaceClass, error);
        ASSERT_EQ(error, 0u);
        ASSERT_NE(set.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(std::memcmp(&set.classGuid, &legacyInterfaceClass, sizeof(GUID)), 0);
        DeviceInterfaceDetail detail(set, 0, error);
        ASSERT_EQ(error, 0u);
        ASSERT_NE(detail.devicePath(), nullptr);
        EXPECT_EQ(detail.interfaceData.cbSize, sizeof(SP_DEVICE_INTERFACE_DATA));

        // The second detail query fails: the record is released at once.
        vbus::setDetailQueryError(*vbus::deviceAt(vbus::legacyClass(), 0), ERROR_GEN_FAILURE);
        DeviceInterfaceDetail failed(set, 0, error);
        EXPECT_EQ(error, ERROR_GEN_FAILURE);
        EXPECT_EQ(failed.detail, nullptr);
        EXPECT_EQ(failed.devicePath(), nullptr);

        DeviceInterfaceDetail past(set, 1, error);
        EXPECT_EQ(error, ERROR_NO_MORE_ITEMS);
        EXPECT_FALSE(past.enumerated);
    }
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart) << "the set outlived its holder";

    // A holder whose set could not be obtained enumerates nothing.
    vbus::setClassDevsError(vbus::legacyClass(), ERROR_GEN_FAILURE);
    DeviceInfoSet none(legacyInterfaceClass, error);
    EXPECT_EQ(error, ERROR_GEN_FAILURE);
    EXPECT_EQ(none.handle, INVALID_HANDLE_VALUE);
    DeviceInterfaceDetail detail(none, 0, error);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(detail.devicePath(), nullptr);
}

}  // namespace
}  // namespace halvix
