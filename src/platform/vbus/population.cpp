// The bus's devices: the default population, and the test controls that
// change devices or play their part.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "devices.h"

namespace vbus {

namespace {

struct Population {
    std::vector<std::shared_ptr<Device>> devices;
    std::vector<std::pair<GUID, DWORD>> classDevsErrors;
    DeviceId nextId = 1;
};

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

Population& state();

std::shared_ptr<Device> newDevice(Population& p, Device::Kind kind, const GUID& cls,
                                  const char* name) {
    auto d = std::make_shared<Device>();
    d->id = p.nextId++;
    d->kind = kind;
    d->cls = cls;
    d->path = "\\\\?\\vbus#" + std::string(name) + "#" + std::to_string(d->id) + "#" +
              guidText(cls);
    p.devices.push_back(d);
    return d;
}

DeviceId addHid(Population& p, const HidDeviceConfig& config) {
    char name[32];
    std::snprintf(name, sizeof name, "hid#vid_%04x&pid_%04x", config.vendorId, config.productId);
    auto d = newDevice(p, Device::Kind::Hid, hidClass(), name);
    d->hid = config;
    d->openError = config.openError;
    return d->id;
}

DeviceId addStreaming(Population& p) {
    auto d = newDevice(p, Device::Kind::Legacy, legacyClass(), "legacy#pad");
    d->streaming = true;
    return d->id;
}

void addDefaults(Population& p) {
    addHid(p, {0x046D, 0xC31C, HidBehaviour::Silent, 0, false});
    addHid(p, {0x1D3B, 0x0042, HidBehaviour::Silent, 0, false});
    addHid(p, {0x045E, 0x0040, HidBehaviour::Silent, ERROR_ACCESS_DENIED, false});
    addHid(p, {0x1D3B, 0x0043, HidBehaviour::Echo, 0, false});
    addHid(p, {0x1D3B, 0x00A5, HidBehaviour::Echo, 0, false});
    addStreaming(p);
}

Population& state() {
    static Population* p = [] {  // built on first use, never destroyed
        auto* fresh = new Population;
        addDefaults(*fresh);
        return fresh;
    }();
    return *p;
}

void unplugLocked(Kernel& k, Device& d) {
    d.plugged = false;
    for (FileObject* f : d.files) {
        if (f->pending) {
            f->read.overlapped->Internal = ERROR_DEVICE_NOT_CONNECTED;
            f->read.overlapped->InternalHigh = 0;
            static_cast<EventObject&>(*f->read.event).signalled = true;
            f->pending = false;
            f->read = PendingRead{};
        }
    }
    k.changed.notify_all();
}

void clearLocked(Kernel& k, Population& p) {
    for (auto& d : p.devices) unplugLocked(k, *d);
    p.devices.clear();
}

template <typename F>
auto withDevice(DeviceId id, F f) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    for (auto& d : state().devices) {
        if (d->id == id) return f(k, *d);
    }
    Device none;  // a device no longer on the bus answers as an empty one
    none.plugged = false;
    return f(k, none);
}

}  // namespace

std::vector<std::shared_ptr<Device>>& population() { return state().devices; }

std::shared_ptr<Device> findDevice(const std::string& path) {
    for (auto& d : state().devices) {
        if (d->plugged && d->path == path) return d;
    }
    return nullptr;
}

DWORD classDevsError(const GUID& cls) {
    for (auto& e : state().classDevsErrors) {
        if (sameGuid(e.first, cls)) return e.second;
    }
    return 0;
}

bool isClass(const Device& d, const GUID& cls) { return sameGuid(d.cls, cls); }

GUID hidClass() {
    return {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

GUID legacyClass() {
    return {0x5E21C7F0, 0x8A4D, 0x4B6E, {0xA3, 0xC2, 0x19, 0xF4, 0xD0, 0x6B, 0x7E, 0x85}};
}

LegacyStep record(std::int32_t value, unsigned delayMs) {
    auto v = static_cast<std::uint32_t>(value);
    return {{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)},
            0,
            delayMs};
}

void restoreDefaultPopulation() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    Population& p = state();
    clearLocked(k, p);
    p.classDevsErrors.clear();
    k.failThreadCreation = false;
    k.heapLimit = 64u << 20;
    hideCancelSynchronousIo(false);
    addDefaults(p);
}

void clearPopulation() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    clearLocked(k, state());
}

DeviceId addHidDevice(const HidDeviceConfig& config) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return addHid(state(), config);
}

DeviceId addLegacyDevice(std::vector<LegacyStep> script) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto d = newDevice(state(), Device::Kind::Legacy, legacyClass(), "legacy#scripted");
    d->script.assign(script.begin(), script.end());
    return d->id;
}

DeviceId addStreamingLegacyPad() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return addStreaming(state());
}

void unplug(DeviceId device) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto& devices = state().devices;
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        if ((*it)->id == device) {
            unplugLocked(k, **it);
            devices.erase(it);
            return;
        }
    }
}

std::optional<DeviceId> deviceAt(const GUID& cls, std::size_t index) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    for (auto& d : state().devices) {
        if (isClass(*d, cls) && index-- == 0) return d->id;
    }
    return std::nullopt;
}

void pushInputReport(DeviceId device, const Report& report) {
    withDevice(device, [&](Kernel& k, Device& d) {
        if (d.plugged) deliver(k, d, report);
    });
}

void pushInputReports(DeviceId device, const std::vector<Report>& reports) {
    withDevice(device, [&](Kernel& k, Device& d) {
        for (const Report& r : reports) {
            if (d.plugged) deliver(k, d, r);
        }
    });
}

std::size_t queuedInputReports(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) {
        std::size_t most = 0;
        for (const FileObject* f : d.files) {
            if (f->hasRead) most = std::max(most, f->input.size());
        }
        return most;
    });
}

std::size_t droppedInputReports(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) { return d.droppedInputs; });
}

std::size_t pendingReadCount(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) {
        return static_cast<std::size_t>(
            std::count_if(d.files.begin(), d.files.end(), [](const FileObject* f) { return f->pending; }));
    });
}

std::vector<Report> outputReports(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) { return d.output; });
}

std::size_t readCount(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) { return d.reads; });
}

std::size_t openFileCount(DeviceId device) {
    return withDevice(device, [](Kernel&, Device& d) { return d.files.size(); });
}

void setReadError(DeviceId device, DWORD error) {
    withDevice(device, [&](Kernel&, Device& d) { d.readError = error; });
}

void holdReads(DeviceId device, bool hold) {
    withDevice(device, [&](Kernel& k, Device& d) {
        d.readsHeld = hold;
        k.changed.notify_all();
    });
}

void setOpenError(DeviceId device, DWORD error) {
    withDevice(device, [&](Kernel&, Device& d) { d.openError = error; });
}

void setAttributesFail(DeviceId device, bool fail) {
    withDevice(device, [&](Kernel&, Device& d) { d.hid.attributesFail = fail; });
}

void setDetailSize(DeviceId device, DWORD size) {
    withDevice(device, [&](Kernel&, Device& d) { d.detailSize = size; });
}

void setDetailQueryError(DeviceId device, DWORD error) {
    withDevice(device, [&](Kernel&, Device& d) { d.detailQueryError = error; });
}

void setClassDevsError(const GUID& cls, DWORD error) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto& errors = state().classDevsErrors;
    for (auto it = errors.begin(); it != errors.end(); ++it) {
        if (sameGuid(it->first, cls)) {
            errors.erase(it);
            break;
        }
    }
    if (error != 0) errors.emplace_back(cls, error);
}

void setHeapLimit(std::size_t bytes) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    k.heapLimit = bytes;
}

}  // namespace vbus
