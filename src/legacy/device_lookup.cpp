#include "legacy/device_lookup.h"

#include <cstdint>

namespace halvix {

const GUID legacyInterfaceClass = {0x5E21C7F0, 0x8A4D, 0x4B6E,
                                   {0xA3, 0xC2, 0x19, 0xF4, 0xD0, 0x6B, 0x7E, 0x85}};

DeviceInfoSet::DeviceInfoSet(const GUID& cls, DWORD& error)
    : handle(INVALID_HANDLE_VALUE), classGuid(cls) {
    error = ERROR_INVALID_PARAMETER;
    try {
        handle = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    } catch (...) {
        handle = INVALID_HANDLE_VALUE;
    }
}

DeviceInfoSet::~DeviceInfoSet() {
    if (handle != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(handle);
    handle = INVALID_HANDLE_VALUE;
}

DeviceInterfaceDetail::DeviceInterfaceDetail(DeviceInfoSet& from, DWORD memberIndex, DWORD& error)
    : set(from), enumerated(false), interfaceData{}, detail(nullptr) {
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    error = ERROR_INVALID_PARAMETER;
    try {
        if (!SetupDiEnumDeviceInterfaces(set.handle, nullptr, &set.classGuid, memberIndex,
                                         &interfaceData)) {
            error = GetLastError();
            return;
        }
        enumerated = true;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set.handle, &interfaceData, nullptr, 0, &required,
                                         nullptr);
        error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return;
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            error = ERROR_INVALID_USER_BUFFER;  // too small for the record's own fields
            return;
        }
        detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(
            HeapAlloc(GetProcessHeap(), 0, required));
        if (detail == nullptr) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set.handle, &interfaceData, detail, required,
                                              nullptr, nullptr)) {
            error = GetLastError();
            freeDetailRecord(detail);
            detail = nullptr;
            return;
        }
        error = ERROR_SUCCESS;
    } catch (...) {
    }
}

DeviceInterfaceDetail::~DeviceInterfaceDetail() {
    freeDetailRecord(detail);
    detail = nullptr;
}

const char* DeviceInterfaceDetail::devicePath() const {
    return detail != nullptr ? detail->DevicePath : nullptr;
}

PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetail::release() {
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A record = detail;
    detail = nullptr;
    return record;
}

void freeDetailRecord(PSP_DEVICE_INTERFACE_DETAIL_DATA_A record) {
    if (record != nullptr) HeapFree(GetProcessHeap(), 0, record);
}

HANDLE openDeviceInterface(const GUID& cls, DWORD memberIndex, DWORD& error) {
    DeviceInfoSet set(cls, error);
    if (error != ERROR_SUCCESS) return INVALID_HANDLE_VALUE;
    DeviceInterfaceDetail interface(set, memberIndex, error);
    if (error != ERROR_SUCCESS) return INVALID_HANDLE_VALUE;
    HANDLE device = CreateFileA(interface.devicePath(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) error = GetLastError();
    return device;  // the record is released, then the set destroyed
}

HANDLE openLegacyDevice(std::int32_t ordinal) {
    DWORD error = ERROR_SUCCESS;
    HANDLE device = openDeviceInterface(legacyInterfaceClass, static_cast<DWORD>(ordinal), error);
    return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

}  // namespace halvix
