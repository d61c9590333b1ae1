// Device interface lookup through the system's device set-up library: the
// n-th present interface of a class, its path, and a handle on it. Two small
// holders own what a lookup acquires, so every exit releases the set and the
// detail record. Failures are Windows error codes (0 is success); nothing
// here throws.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace halvix {

// {5E21C7F0-8A4D-4B6E-A3C2-19F4D06B7E85}: the maker's legacy driver publishes
// each pad as a present interface of this class.
extern const GUID legacyInterfaceClass;

// The set of present interfaces of one class.
class DeviceInfoSet {
public:
    // `error` is 0 when the set was obtained, else why not.
    DeviceInfoSet(const GUID& cls, DWORD& error);
    ~DeviceInfoSet();
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    HDEVINFO handle;  // INVALID_HANDLE_VALUE while no set is held
    GUID classGuid;
};

// One interface of a set and its detail record (the device path).
class DeviceInterfaceDetail {
public:
    // `error` is 0 when the record was filled; ERROR_NO_MORE_ITEMS (among
    // others) past the last interface, ERROR_NOT_ENOUGH_MEMORY when the
    // record could not be allocated.
    DeviceInterfaceDetail(DeviceInfoSet& set, DWORD memberIndex, DWORD& error);
    ~DeviceInterfaceDetail();
    DeviceInterfaceDetail(const DeviceInterfaceDetail&) = delete;
    DeviceInterfaceDetail& operator=(const DeviceInterfaceDetail&) = delete;

    // The zero-terminated path, or null without a record.
    const char* devicePath() const;

    // Hands the record to the caller, who frees it with freeDetailRecord.
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A release();

    DeviceInfoSet& set;
    bool enumerated;  // the set has an interface with this index
    SP_DEVICE_INTERFACE_DATA interfaceData;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail;  // owned, or null
};

void freeDetailRecord(PSP_DEVICE_INTERFACE_DETAIL_DATA_A record);

// Opens the interface with `memberIndex` of `cls` for reading and writing;
// INVALID_HANDLE_VALUE and a Windows error code when it cannot.
HANDLE openDeviceInterface(const GUID& cls, DWORD memberIndex, DWORD& error);

// The legacy pad with `ordinal` (every present interface of the class counts;
// a negative ordinal matches none), or null.
HANDLE openLegacyDevice(std::int32_t ordinal);

}  // namespace halvix
