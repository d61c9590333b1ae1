// The virtual bus's kernel: one lock and one condition variable guard every
// object (events, threads, files, device sets and the devices behind them),
// and handles name objects in one table. Built on first use and never torn
// down, so the library still has no static constructor and no exit handler.
// Internal to the bus; tests use vbus_control.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "os_api.h"

namespace vbus {

struct Object {
    enum class Kind { Event, Thread, File, DeviceSet };
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    const Kind kind;
};

struct EventObject : Object {
    EventObject(bool manual, bool initial)
        : Object(Kind::Event), manualReset(manual), signalled(initial) {}
    const bool manualReset;
    bool signalled;
};

struct SyncRead;  // a synchronous read a thread is blocked in (devices.cpp)

struct ThreadObject : Object {
    ThreadObject() : Object(Kind::Thread) {}
    bool finished = false;
    int priority = THREAD_PRIORITY_NORMAL;
    SIZE_T requestedStack = 0;
    SyncRead* blockedIn = nullptr;  // set while the thread waits in a synchronous read
};

struct Kernel {
    std::mutex lock;
    std::condition_variable changed;  // notified on every state change
    std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> handles;
    std::uintptr_t nextHandle = 0x100;
    std::size_t liveThreads = 0;
    bool failThreadCreation = false;
    std::size_t heapLimit = 64u << 20;  // larger requests fail, as a real heap would
};

// The process's kernel; the caller locks kernel().lock itself.
Kernel& kernel();

// With the lock held: enters `object` in the handle table.
HANDLE addHandle(Kernel& k, std::shared_ptr<Object> object);

// With the lock held: the object `h` names if it is of `kind`, else null.
std::shared_ptr<Object> lookup(Kernel& k, HANDLE h, Object::Kind kind);

// The ThreadObject of the calling thread if the bus started it, else null.
ThreadObject* currentThread();

// Removes a file's handle: cancels what it has pending (devices.cpp).
void closeFile(Kernel& k, Object& file);

}  // namespace vbus
