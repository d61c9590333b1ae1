// Devices of the virtual bus and the files opened on them. Every member is
// guarded by the kernel lock. Internal to the bus.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel.h"
#include "vbus_control.h"

namespace vbus {

struct FileObject;

struct Device {
    enum class Kind { Hid, Legacy };
    DeviceId id = 0;
    Kind kind = Kind::Hid;
    GUID cls{};
    std::string path;
    bool plugged = true;
    DWORD openError = 0;
    DWORD readError = 0;
    DWORD detailSize = 0;
    DWORD detailQueryError = 0;
    std::size_t reads = 0;  // ReadFile calls made on the device
    std::vector<FileObject*> files;  // open files, for completions and counts

    // HID. Input reports wait in the buffers of the files open on the
    // device, not here: a report reaches only files open when it arrives.
    HidDeviceConfig hid;
    std::vector<Report> output;
    std::size_t droppedInputs = 0;  // reports pushed out of full buffers of files read from

    // Legacy.
    bool streaming = false;
    std::deque<LegacyStep> script;
    std::size_t streamIndex = 0;
    std::chrono::steady_clock::time_point nextRecordDue{};
    bool readsHeld = false;  // the driver keeps every synchronous read, cancelled or not
};

struct PendingRead {
    LPOVERLAPPED overlapped = nullptr;
    std::thread::id issuer;  // the thread that started it: only its CancelIo ends it
    std::uint8_t* buffer = nullptr;
    DWORD length = 0;
    std::shared_ptr<Object> event;  // keeps the completion event alive
};

// How many input reports a HID file holds, as the HID class driver has it:
// 32 unless HidD_SetNumInputBuffers asks for 2 to 512.
constexpr std::size_t defaultInputBuffers = 32;
constexpr std::size_t minInputBuffers = 2;
constexpr std::size_t maxInputBuffers = 512;

struct FileObject : Object {
    FileObject() : Object(Kind::File) {}
    std::shared_ptr<Device> device;
    bool overlapped = false;
    bool pending = false;
    bool hasRead = false;  // a read was made on this file
    PendingRead read;
    // HID input reports that came while no read was pending, oldest first;
    // beyond `inputBuffers` the oldest is dropped.
    std::deque<Report> input;
    std::size_t inputBuffers = defaultInputBuffers;
};

// A synchronous read a thread is blocked in; CancelSynchronousIo sets `cancelled`.
struct SyncRead {
    bool cancelled = false;
};

// The bus's devices, in enumeration order; with the lock held.
std::vector<std::shared_ptr<Device>>& population();

// With the lock held: the plugged device that has `path`, or null.
std::shared_ptr<Device> findDevice(const std::string& path);

// With the lock held: the error SetupDiGetClassDevsA is to fail with for `cls`, or 0.
DWORD classDevsError(const GUID& cls);

bool isClass(const Device& device, const GUID& cls);

// With the lock held: hands `report` to every file open on the device: to its
// pending overlapped read, or into its buffer, dropping the oldest report
// there when the buffer is full.
void deliver(Kernel& k, Device& device, const Report& report);

// CancelSynchronousIo of the bus's kernel32; the library finds it only by
// GetProcAddress (modules.cpp). Takes the lock.
BOOL cancelSynchronousIo(HANDLE thread);

// With the lock held: DWORD statuses kept in OVERLAPPED::Internal.
constexpr ULONG_PTR statusPending = 0x103;

}  // namespace vbus
