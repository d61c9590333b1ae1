// Finding the n-th HID pad among the system's HID interfaces.
#include "hid/hid_channel.h"
#include "legacy/device_lookup.h"
#include "platform/scoped_handle.h"

namespace halvix {

namespace {

bool isPad(HANDLE device) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    return HidD_GetAttributes(device, &attributes) && attributes.VendorID == padVendorId &&
           attributes.ProductID >= lowestPadProductId;
}

// Releases whatever an earlier pad left in the slot.
void releaseSlot(HidPadSlot& slot) {
    if (HANDLE h = slot.writeHandle.exchange(nullptr)) CloseHandle(h);
    freeDetailRecord(slot.padPath.exchange(nullptr));
}

}  // namespace

bool findHidPad(std::int32_t ordinal) {
    HidPadSlot& slot = hidPadSlot();
    releaseSlot(slot);

    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    DWORD error = ERROR_SUCCESS;
    DeviceInfoSet set(hidGuid, error);
    if (error != ERROR_SUCCESS) return false;

    std::int32_t matches = 0;
    for (DWORD member = 0;; ++member) {
        DeviceInterfaceDetail candidate(set, member, error);
        if (error == ERROR_NOT_ENOUGH_MEMORY) return false;
        if (candidate.detail == nullptr) {
            // The walk ends where enumeration ends; an interface whose record
            // cannot be read is not a pad and takes no ordinal.
            if (!candidate.enumerated) return false;
            continue;
        }
        ScopedHandle device(CreateFileA(candidate.devicePath(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        if (!device.valid() || !isPad(device.get())) continue;
        if (matches == ordinal) {
            slot.writeHandle.store(device.release());
            slot.padPath.store(candidate.release());
            return true;
        }
        ++matches;
    }
}

}  // namespace halvix
