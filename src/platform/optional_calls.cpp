#include "platform/optional_calls.h"

namespace halvix {

CancelSynchronousIoCall findCancelSynchronousIo() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");  // always loaded: no reference taken
    if (kernel == nullptr) return nullptr;
    FARPROC found = GetProcAddress(kernel, "CancelSynchronousIo");
    // The round trip through void (*)() is the cast that function pointers of
    // any type allow without a warning; the call's own type is restored.
    return reinterpret_cast<CancelSynchronousIoCall>(reinterpret_cast<void (*)()>(found));
}

}  // namespace halvix
