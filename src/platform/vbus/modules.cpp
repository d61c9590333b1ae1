// The bus's kernel32 as a module: the calls the library looks up by name, and
// the test control that takes one away as an older Windows lacks it.
#include <atomic>
#include <cstring>
#include <strings.h>

#include "devices.h"

namespace vbus {

namespace {

// Any value but null names the bus's kernel32; nothing is loaded or counted.
const HMODULE kernel32Module = reinterpret_cast<HMODULE>(std::uintptr_t{0x7C800000});

std::atomic<bool> cancelSynchronousIoHidden{false};

BOOL cancelSynchronousIoEntry(HANDLE thread) { return cancelSynchronousIo(thread); }

}  // namespace

void hideCancelSynchronousIo(bool hidden) { cancelSynchronousIoHidden.store(hidden); }

}  // namespace vbus

using namespace vbus;

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name != nullptr && strcasecmp(name, "kernel32.dll") == 0) return kernel32Module;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != kernel32Module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (name != nullptr && std::strcmp(name, "CancelSynchronousIo") == 0 &&
        !cancelSynchronousIoHidden.load()) {
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)()>(&cancelSynchronousIoEntry));
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
