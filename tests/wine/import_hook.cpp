#include "import_hook.h"

#include <setupapi.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace halvix::wine {

namespace {

template <typename T>
T* at(HMODULE module, DWORD offset) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

void writeEntry(void** entry, void* value) {
    DWORD old = 0;
    VirtualProtect(entry, sizeof(void*), PAGE_READWRITE, &old);
    *entry = value;
    VirtualProtect(entry, sizeof(void*), old, &old);
}

}  // namespace

ImportHook::ImportHook(const char* dll, const char* function, void* replacement) {
    HMODULE self = GetModuleHandleA(nullptr);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(self);
    const auto* nt = at<const IMAGE_NT_HEADERS>(self, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return;
    for (auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(self, dir.VirtualAddress); d->Name != 0; ++d) {
        if (_stricmp(at<const char>(self, d->Name), dll) != 0 || d->OriginalFirstThunk == 0) continue;
        auto* names = at<IMAGE_THUNK_DATA>(self, d->OriginalFirstThunk);
        auto* slots = at<IMAGE_THUNK_DATA>(self, d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = at<const IMAGE_IMPORT_BY_NAME>(self, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            void** entry = reinterpret_cast<void**>(&slots->u1.Function);
            original_ = *entry;
            writeEntry(entry, replacement);
            entries_.push_back(entry);
        }
    }
}

ImportHook::~ImportHook() {
    for (void** entry : entries_) writeEntry(entry, original_);
}

// --- the call log ------------------------------------------------------------

namespace {

// Static, and never torn down: a thread still inside a replacement when the
// log goes away keeps valid originals and merely stops being recorded.
SRWLOCK logLock = SRWLOCK_INIT;
std::vector<CallRecord> calls;
std::atomic<bool> recording{false};
std::atomic<void*> originals[8];
std::unique_ptr<ImportHook> hooks[8];

void record(const CallRecord& call) {
    if (!recording.load()) return;
    AcquireSRWLockExclusive(&logLock);
    calls.push_back(call);
    ReleaseSRWLockExclusive(&logLock);
}

template <typename F>
F original(int which) {
    return reinterpret_cast<F>(originals[which].load());
}

// Each replacement calls the original first and records what came of it,
// keeping the original's last error for its caller.
CallRecord made(CallRecord::Kind kind, HANDLE handle, BOOL result) {
    const DWORD error = GetLastError();
    CallRecord c{kind, GetCurrentThreadId(), handle, nullptr, 0, result, result ? 0 : error, 0};
    return c;
}

HANDLE WINAPI createFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile) {
    const HANDLE h = original<decltype(&CreateFileA)>(0)(path, access, share, security, disposition,
                                                       attributes, templateFile);
    const DWORD error = GetLastError();
    CallRecord c = made(CallRecord::createFile, h, h != INVALID_HANDLE_VALUE);
    c.flags = attributes;
    record(c);
    SetLastError(error);
    return h;
}

HANDLE WINAPI createEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    const HANDLE h = original<decltype(&CreateEventA)>(1)(security, manualReset, initialState, name);
    const DWORD error = GetLastError();
    CallRecord c = made(CallRecord::createEvent, h, h != nullptr);
    c.flags = manualReset ? 1 : 0;
    record(c);
    SetLastError(error);
    return h;
}

BOOL WINAPI readFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    const BOOL ok = original<decltype(&ReadFile)>(2)(h, buffer, size, got, overlapped);
    const DWORD error = GetLastError();
    CallRecord c = made(CallRecord::readFile, h, ok);
    c.overlapped = overlapped;
    record(c);
    SetLastError(error);
    return ok;
}

BOOL WINAPI cancelIo(HANDLE h) {
    const BOOL ok = original<decltype(&CancelIo)>(3)(h);
    const DWORD error = GetLastError();
    record(made(CallRecord::cancelIo, h, ok));
    SetLastError(error);
    return ok;
}

BOOL WINAPI getOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD got, BOOL wait) {
    const BOOL ok = original<decltype(&GetOverlappedResult)>(4)(h, overlapped, got, wait);
    const DWORD error = GetLastError();
    CallRecord c = made(CallRecord::getOverlappedResult, h, ok);
    c.overlapped = overlapped;
    c.flags = wait ? 1 : 0;
    c.statusAfter = overlapped->Internal;
    record(c);
    SetLastError(error);
    return ok;
}

BOOL WINAPI closeHandle(HANDLE h) {
    const BOOL ok = original<decltype(&CloseHandle)>(5)(h);
    const DWORD error = GetLastError();
    record(made(CallRecord::closeHandle, h, ok));
    SetLastError(error);
    return ok;
}

HDEVINFO WINAPI getClassDevsA(const GUID* cls, PCSTR enumerator, HWND parent, DWORD flags) {
    const HDEVINFO set = original<decltype(&SetupDiGetClassDevsA)>(6)(cls, enumerator, parent, flags);
    const DWORD error = GetLastError();
    CallRecord c = made(CallRecord::getClassDevs, set, set != INVALID_HANDLE_VALUE);
    c.flags = flags;
    record(c);
    SetLastError(error);
    return set;
}

BOOL WINAPI destroyDeviceInfoList(HDEVINFO set) {
    const BOOL ok = original<decltype(&SetupDiDestroyDeviceInfoList)>(7)(set);
    const DWORD error = GetLastError();
    record(made(CallRecord::destroyDeviceInfoList, set, ok));
    SetLastError(error);
    return ok;
}

template <typename F>
void* asPointer(F f) {
    return reinterpret_cast<void*>(f);
}

}  // namespace

CallLog::CallLog() {
    const struct {
        const char* dll;
        const char* function;
        void* replacement;
    } wanted[8] = {
        {"kernel32.dll", "CreateFileA", asPointer(&createFileA)},
        {"kernel32.dll", "CreateEventA", asPointer(&createEventA)},
        {"kernel32.dll", "ReadFile", asPointer(&readFile)},
        {"kernel32.dll", "CancelIo", asPointer(&cancelIo)},
        {"kernel32.dll", "GetOverlappedResult", asPointer(&getOverlappedResult)},
        {"kernel32.dll", "CloseHandle", asPointer(&closeHandle)},
        {"setupapi.dll", "SetupDiGetClassDevsA", asPointer(&getClassDevsA)},
        {"setupapi.dll", "SetupDiDestroyDeviceInfoList", asPointer(&destroyDeviceInfoList)},
    };
    AcquireSRWLockExclusive(&logLock);
    calls.clear();
    ReleaseSRWLockExclusive(&logLock);
    // The originals are known before any entry points at a replacement.
    for (int i = 0; i < 8; ++i) {
        originals[i].store(asPointer(GetProcAddress(GetModuleHandleA(wanted[i].dll), wanted[i].function)));
    }
    recording.store(true);
    for (int i = 0; i < 8; ++i) {
        hooks[i] = std::make_unique<ImportHook>(wanted[i].dll, wanted[i].function, wanted[i].replacement);
        if (hooks[i]->installed()) originals[i].store(hooks[i]->original());
    }
}

CallLog::~CallLog() {
    for (auto& hook : hooks) hook.reset();
    recording.store(false);
}

bool CallLog::installed() const {
    return hooks[0]->installed() && hooks[5]->installed();  // CreateFileA, CloseHandle
}

std::vector<CallRecord> CallLog::all() const {
    AcquireSRWLockShared(&logLock);
    std::vector<CallRecord> copy = calls;
    ReleaseSRWLockShared(&logLock);
    return copy;
}

std::vector<CallRecord> CallLog::callsOn(DWORD thread) const {
    std::vector<CallRecord> on;
    for (const CallRecord& c : all()) {
        if (c.thread == thread) on.push_back(c);
    }
    return on;
}

// --- hiding a call -------------------------------------------------------------

namespace {

std::atomic<void*> getProcAddressOriginal{nullptr};

FARPROC WINAPI getProcAddressWithout(HMODULE module, LPCSTR name) {
    // Names, not ordinals: an ordinal is a value below 0x10000.
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && std::strcmp(name, "CancelSynchronousIo") == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<decltype(&GetProcAddress)>(getProcAddressOriginal.load())(module, name);
}

void* rememberGetProcAddress() {
    getProcAddressOriginal.store(asPointer(&GetProcAddress));
    return asPointer(&getProcAddressWithout);
}

}  // namespace

HiddenCancelSynchronousIo::HiddenCancelSynchronousIo()
    : hook_("kernel32.dll", "GetProcAddress", rememberGetProcAddress()) {}

}  // namespace halvix::wine
