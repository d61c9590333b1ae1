// Test control of the virtual device bus. The library never calls these: tests,
// stress runs and benchmarks use them to set up devices, play a pad's part and
// look at what the library left behind. Every call may be made from any thread.
//
// The default population, present from a process's first enumeration:
//   HID: #0 0x046D:0xC31C keyboard (silent), #1 0x1D3B:0x0042 the maker's
//        non-pad device (silent), #2 0x045E:0x0040 cannot be opened
//        (ERROR_ACCESS_DENIED), #3 0x1D3B:0x0043 and #4 0x1D3B:0x00A5 echoing
//        virtual pads.
//   Legacy class: one streaming virtual legacy pad (signature_figure.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "os_api.h"

namespace vbus {

using DeviceId = int;
using Report = std::array<std::uint8_t, 9>;

// The interface class of HID devices and of the maker's legacy driver.
GUID hidClass();
GUID legacyClass();

enum class HidBehaviour {
    Silent,  // sends only what a test pushes
    Echo,    // each output report comes back as an input report: ID 0, same count and payload
};

struct HidDeviceConfig {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    HidBehaviour behaviour = HidBehaviour::Silent;
    DWORD openError = 0;          // nonzero: CreateFileA fails with it
    bool attributesFail = false;  // HidD_GetAttributes fails
};

// One synchronous read of a scripted legacy device: after `delayMs`, either
// fails with `error` (when nonzero) or returns `bytes` (0 to 4 of them).
struct LegacyStep {
    std::vector<std::uint8_t> bytes;
    DWORD error = 0;
    unsigned delayMs = 0;
};

// A step that returns one whole 4-byte little-endian record.
LegacyStep record(std::int32_t value, unsigned delayMs = 0);

// Population. Devices are enumerated in the order they were added.
void restoreDefaultPopulation();  // fresh default devices, all other state cleared
void clearPopulation();           // no device of any class
DeviceId addHidDevice(const HidDeviceConfig& config);
// After its script a scripted legacy device is silent: reads block until
// cancelled or the device is unplugged.
DeviceId addLegacyDevice(std::vector<LegacyStep> script);
DeviceId addStreamingLegacyPad();  // 200 records a second of the demo signature
// The device leaves the bus: pending and later reads and writes fail, and new
// enumerations no longer list it.
void unplug(DeviceId device);
// The id of the n-th device of the class in enumeration order.
std::optional<DeviceId> deviceAt(const GUID& cls, std::size_t index);

// Playing a pad. As with a HID class driver, a report reaches only the files
// open on the device when it arrives: each file's pending read, or else its
// buffer of 32 reports (or what HidD_SetNumInputBuffers set), from which the
// oldest report is dropped when a new one does not fit.
void pushInputReport(DeviceId device, const Report& report);
// Several reports at once, with no read taking one in between: a burst that
// outruns any reader.
void pushInputReports(DeviceId device, const std::vector<Report>& reports);
// Reports waiting for the device's readers: the most that any file on it
// that has been read from holds.
std::size_t queuedInputReports(DeviceId device);
// Reports dropped so far because the buffer of a file that has been read
// from was full (a handle nobody reads from fills up and drops as a matter
// of course).
std::size_t droppedInputReports(DeviceId device);
// Files on the device with an overlapped read pending.
std::size_t pendingReadCount(DeviceId device);
std::vector<Report> outputReports(DeviceId device);  // every report written, in order
void setReadError(DeviceId device, DWORD error);     // 0: reads work again
// A driver that will not let go: while held, the device's synchronous reads
// return nothing, whether or not data is due, and ignore CancelSynchronousIo
// (which still answers TRUE). Released (false), a read cancelled meanwhile
// ends with ERROR_OPERATION_ABORTED and any other goes on as usual. Unplugging
// ends held reads too.
void holdReads(DeviceId device, bool hold);
std::size_t openFileCount(DeviceId device);
std::size_t readCount(DeviceId device);  // ReadFile calls made on it so far

// Faults of the system calls.
void setOpenError(DeviceId device, DWORD error);
void setAttributesFail(DeviceId device, bool fail);
// The size query reports `size` bytes (0 restores the true size).
void setDetailSize(DeviceId device, DWORD size);
// The second detail query (the one with a buffer) fails with `error`.
void setDetailQueryError(DeviceId device, DWORD error);
// SetupDiGetClassDevsA fails with `error` for `cls` (0 clears).
void setClassDevsError(const GUID& cls, DWORD error);
void failThreadCreation(bool fail);
// GetProcAddress finds no CancelSynchronousIo, as on Windows XP.
void hideCancelSynchronousIo(bool hidden);
// HeapAlloc refuses requests larger than this.
void setHeapLimit(std::size_t bytes);

// What the library left behind.
std::size_t openHandleCount();  // files, threads, events and device sets
std::size_t liveThreadCount();  // threads started by CreateThread still running
bool waitForThreadsToEnd(unsigned milliseconds);
// File handles closed while an overlapped read of theirs was still pending:
// the system would then complete the read into memory its owner may have freed.
std::size_t closesWithReadPending();
std::optional<int> threadPriority(HANDLE thread);
std::optional<SIZE_T> threadStackRequest(HANDLE thread);

}  // namespace vbus
