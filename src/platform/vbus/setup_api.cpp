// Device set-up and HID class calls: sets are snapshots of the present
// interfaces of one class, checked as SetupAPI checks its callers.
#include <cstddef>
#include <cstring>

#include "devices.h"

namespace vbus {
namespace {

struct DeviceSet : Object {
    DeviceSet() : Object(Kind::DeviceSet) {}
    GUID cls{};
    std::vector<std::shared_ptr<Device>> members;
};

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::shared_ptr<DeviceSet> setOf(Kernel& k, HDEVINFO h) {
    return std::static_pointer_cast<DeviceSet>(lookup(k, h, Object::Kind::DeviceSet));
}

}  // namespace
}  // namespace vbus

using namespace vbus;

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD error = classDevsError(*classGuid)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceSet>();
    set->cls = *classGuid;
    for (auto& d : population()) {
        if (isClass(*d, *classGuid) && (d->plugged || (flags & DIGCF_PRESENT) == 0)) {
            set->members.push_back(d);
        }
    }
    return addHandle(k, set);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* classGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto set = setOf(k, handle);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (classGuid == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    std::size_t seen = 0;
    for (auto& d : set->members) {
        if (!isClass(*d, *classGuid)) continue;
        if (seen++ == memberIndex) {
            data->InterfaceClassGuid = d->cls;
            data->Flags = 1;  // active
            data->Reserved = static_cast<ULONG_PTR>(d->id);
            return TRUE;
        }
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                      DWORD detailSize, LPDWORD requiredSize, PSP_DEVINFO_DATA) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto set = setOf(k, handle);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    std::shared_ptr<Device> device;
    for (auto& d : set->members) {
        if (static_cast<ULONG_PTR>(d->id) == data->Reserved) device = d;
    }
    if (!device) return fail(ERROR_INVALID_PARAMETER);

    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                            device->path.size() + 1);
    if (detail == nullptr) {
        if (detailSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
        if (requiredSize) *requiredSize = device->detailSize != 0 ? device->detailSize : needed;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (device->detailQueryError != 0) return fail(device->detailQueryError);
    if (detailSize < needed) {
        if (requiredSize) *requiredSize = needed;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    char* path = reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(path, device->path.c_str(), device->path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == k.handles.end() || it->second->kind != Object::Kind::DeviceSet) {
        return fail(ERROR_INVALID_HANDLE);
    }
    k.handles.erase(it);
    return TRUE;
}

void HidD_GetHidGuid(LPGUID guid) {
    if (guid) *guid = hidClass();
}
