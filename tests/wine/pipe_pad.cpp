#include "pipe_pad.h"

#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace halvix::wine {

namespace {

std::atomic<unsigned> padsMade{0};

}  // namespace

PipePad::PipePad()
    : path_("\\\\.\\pipe\\halvix-pad-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(padsMade.fetch_add(1))) {}

PipePad::~PipePad() {
    for (HANDLE end : ends_) CloseHandle(end);
}

HANDLE PipePad::listen() {
    HANDLE end = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                  PIPE_UNLIMITED_INSTANCES, 0x10000, 0x10000, 0, nullptr);
    if (end == INVALID_HANDLE_VALUE) return nullptr;
    ends_.push_back(end);
    return end;
}

HANDLE PipePad::connect(bool overlapped) {
    HANDLE client = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    return client == INVALID_HANDLE_VALUE ? nullptr : client;
}

bool PipePad::send(HANDLE end, const std::vector<std::uint8_t>& message) {
    // A reader started just now may not have opened its end yet (a loaded
    // machine runs it late): wait for it, but not for one that went away.
    const ULONGLONG deadline = GetTickCount64() + 2000;
    for (;;) {
        DWORD written = 0;
        if (WriteFile(end, message.data(), static_cast<DWORD>(message.size()), &written, nullptr)) {
            return written == message.size();
        }
        if (GetLastError() != ERROR_PIPE_LISTENING || GetTickCount64() >= deadline) return false;
        Sleep(1);
    }
}

DWORD PipePad::waiting(HANDLE end) {
    DWORD available = 0;
    return PeekNamedPipe(end, nullptr, 0, nullptr, &available, nullptr) ? available : 0;
}

bool PipePad::receive(HANDLE end, std::vector<std::uint8_t>& message, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (waiting(end) == 0) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(1);
    }
    // In message mode one read takes exactly one message; a longer message
    // than any report fails with ERROR_MORE_DATA.
    message.assign(64, 0);
    DWORD got = 0;
    if (!ReadFile(end, message.data(), static_cast<DWORD>(message.size()), &got, nullptr)) return false;
    message.resize(got);
    return true;
}

namespace {

DWORD WINAPI runClose(LPVOID close) {
    reinterpret_cast<void (*)()>(close)();
    return 0;
}

}  // namespace

bool returnsWithin(void (*close)(), DWORD ms, void (*unblock)(void*), void* context) {
    HANDLE thread = CreateThread(nullptr, 0, runClose, reinterpret_cast<void*>(close), 0, nullptr);
    if (thread == nullptr) return false;
    const bool returned = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
    while (!returned && WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) unblock(context);
    CloseHandle(thread);
    return returned;
}

PSP_DEVICE_INTERFACE_DETAIL_DATA_A detailRecordFor(const std::string& path) {
    const std::size_t size = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
    auto* record = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(
        HeapAlloc(GetProcessHeap(), 0, size));
    if (record == nullptr) return nullptr;
    record->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memcpy(record->DevicePath, path.c_str(), path.size() + 1);
    return record;
}

}  // namespace halvix::wine
