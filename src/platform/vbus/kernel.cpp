// Handles, events, waits, threads, sleeping, last error and the heap of the
// virtual bus, with the Win32 semantics the library relies on.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "kernel.h"
#include "vbus_control.h"

namespace vbus {

namespace {

thread_local DWORD lastError = 0;
thread_local ThreadObject* current = nullptr;

// Windows rounds a thread's stack reserve up to its own granularity; the bus
// reserves at least this much so that sanitizer builds have room.
constexpr SIZE_T minimumStack = 512 * 1024;

struct ThreadStart {
    std::shared_ptr<ThreadObject> self;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

void* threadTrampoline(void* raw) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    current = start->self.get();
    start->start(start->parameter);
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    start->self->finished = true;
    --k.liveThreads;
    k.changed.notify_all();
    return nullptr;
}

bool isSignalled(Object& o) {
    if (o.kind == Object::Kind::Event) return static_cast<EventObject&>(o).signalled;
    if (o.kind == Object::Kind::Thread) return static_cast<ThreadObject&>(o).finished;
    return false;
}

void consume(Object& o) {
    if (o.kind == Object::Kind::Event) {
        auto& e = static_cast<EventObject&>(o);
        if (!e.manualReset) e.signalled = false;
    }
}

}  // namespace

Kernel& kernel() {
    static Kernel* k = new Kernel;  // never destroyed: no exit handler
    return *k;
}

HANDLE addHandle(Kernel& k, std::shared_ptr<Object> object) {
    std::uintptr_t value = k.nextHandle;
    k.nextHandle += 4;
    k.handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> lookup(Kernel& k, HANDLE h, Object::Kind kind) {
    auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == k.handles.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

ThreadObject* currentThread() { return current; }

std::size_t openHandleCount() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return k.handles.size();
}

std::size_t liveThreadCount() {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return k.liveThreads;
}

bool waitForThreadsToEnd(unsigned milliseconds) {
    Kernel& k = kernel();
    std::unique_lock<std::mutex> hold(k.lock);
    return k.changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                              [&] { return k.liveThreads == 0; });
}

void failThreadCreation(bool fail) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    k.failThreadCreation = fail;
}

std::optional<int> threadPriority(HANDLE thread) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto t = lookup(k, thread, Object::Kind::Thread);
    if (!t) return std::nullopt;
    return static_cast<ThreadObject&>(*t).priority;
}

std::optional<SIZE_T> threadStackRequest(HANDLE thread) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto t = lookup(k, thread, Object::Kind::Thread);
    if (!t) return std::nullopt;
    return static_cast<ThreadObject&>(*t).requestedStack;
}

}  // namespace vbus

using namespace vbus;

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

BOOL CloseHandle(HANDLE object) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(object));
    if (it == k.handles.end() || it->second->kind == Object::Kind::DeviceSet) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::shared_ptr<Object> held = it->second;
    k.handles.erase(it);
    if (held->kind == Object::Kind::File) closeFile(k, *held);
    k.changed.notify_all();
    return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    if (k.failThreadCreation || start == nullptr || flags != 0) {
        lastError = k.failThreadCreation ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto self = std::make_shared<ThreadObject>();
    self->requestedStack = stackSize;
    auto* startRecord = new ThreadStart{self, start, parameter};

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::max(stackSize, minimumStack));
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int rc = pthread_create(&id, &attributes, threadTrampoline, startRecord);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete startRecord;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    ++k.liveThreads;
    if (threadId) *threadId = static_cast<DWORD>(k.nextHandle);
    return addHandle(k, self);
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto t = lookup(k, thread, Object::Kind::Thread);
    if (!t) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    static_cast<ThreadObject&>(*t).priority = priority;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name != nullptr && name[0] != '\0') {  // named events are not needed here
        lastError = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    return addHandle(k, std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

static BOOL setEventState(HANDLE event, bool signalled) {
    Kernel& k = kernel();
    std::lock_guard<std::mutex> hold(k.lock);
    auto e = lookup(k, event, Object::Kind::Event);
    if (!e) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    static_cast<EventObject&>(*e).signalled = signalled;
    if (signalled) k.changed.notify_all();
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return setEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return setEventState(event, false); }

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                             DWORD milliseconds) {
    if (count == 0 || count > 64 || objects == nullptr || waitAll) {
        lastError = ERROR_INVALID_PARAMETER;
        return WAIT_FAILED;
    }
    Kernel& k = kernel();
    std::unique_lock<std::mutex> hold(k.lock);
    std::vector<std::shared_ptr<Object>> waited;
    for (DWORD i = 0; i < count; ++i) {
        auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(objects[i]));
        if (it == k.handles.end() || (it->second->kind != Object::Kind::Event &&
                                      it->second->kind != Object::Kind::Thread)) {
            lastError = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        }
        waited.push_back(it->second);
    }
    DWORD found = WAIT_TIMEOUT;
    auto ready = [&] {
        for (DWORD i = 0; i < count; ++i) {
            if (isSignalled(*waited[i])) {
                found = i;
                return true;
            }
        }
        return false;
    };
    if (milliseconds == INFINITE) {
        k.changed.wait(hold, ready);
    } else if (!k.changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    consume(*waited[found]);
    return WAIT_OBJECT_0 + found;
}

HANDLE GetProcessHeap() { return reinterpret_cast<HANDLE>(std::uintptr_t{0x48}); }

LPVOID HeapAlloc(HANDLE heap, DWORD, SIZE_T bytes) {
    Kernel& k = kernel();
    {
        std::lock_guard<std::mutex> hold(k.lock);
        if (heap != GetProcessHeap() || bytes > k.heapLimit) return nullptr;
    }
    return std::malloc(bytes == 0 ? 1 : bytes);
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    if (heap != GetProcessHeap()) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::free(memory);
    return TRUE;
}
