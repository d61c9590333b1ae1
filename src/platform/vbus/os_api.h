// The operating-system calls Halvix uses, declared for the Linux build.
//
// On Linux there is no Win32, SetupAPI or HID class library, so this header
// declares the few types, constants and calls the channels use, under their
// Win32 names and with their Win32 contracts, and the virtual device bus
// (vbus_*.cpp) implements them. Only what the library needs is here.
// Every call may be made from any thread unless its comment says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BOOLEAN = unsigned char;
using BYTE = unsigned char;
using CHAR = char;
using USHORT = unsigned short;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HDEVINFO = void*;
using HWND = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PCSTR = const char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using HMODULE = void*;
using FARPROC = std::intptr_t (*)();

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~std::uintptr_t{0}))
#define INFINITE 0xFFFFFFFFu

// Error codes, as GetLastError reports them.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

// CreateFileA.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

// Waits.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Threads.
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// SetupDiGetClassDevsA.
constexpr DWORD DIGCF_PRESENT = 0x2;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using LPGUID = GUID*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct OVERLAPPED {
    ULONG_PTR Internal;      // completion status: 0 once succeeded
    ULONG_PTR InternalHigh;  // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

struct SP_DEVINFO_DATA;
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_A = SP_DEVICE_INTERFACE_DETAIL_DATA_A*;

struct HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
#define WINAPI

// Last error: per thread, set by every call below that fails.
DWORD GetLastError();
void SetLastError(DWORD code);

// Handles: devices, threads, events. CloseHandle on a thread handle does not
// stop the thread.
BOOL CloseHandle(HANDLE object);

// Files. A path may be opened any number of times at once. A synchronous
// ReadFile blocks until data, failure, unplug or CancelSynchronousIo
// (ERROR_OPERATION_ABORTED; a driver may hold a read and ignore the cancel).
// An overlapped ReadFile resets the record's event, then either completes at
// once (TRUE) or returns FALSE with ERROR_IO_PENDING and signals the event on
// completion.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
// Ends, with ERROR_OPERATION_ABORTED, the pending overlapped reads of `file`
// that the calling thread started; those of other threads go on. TRUE also
// when there is none.
BOOL CancelIo(HANDLE file);

// Threads. The stack size is a minimum: the bus, like Windows, may reserve more.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);
void Sleep(DWORD milliseconds);

// Events and waits. Thread handles are signalled once the thread has ended.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                             DWORD milliseconds);

// Modules. Calls that not every Windows version has are looked up by name:
// GetModuleHandleA("kernel32.dll") names the system's kernel32 (null with
// ERROR_MOD_NOT_FOUND for any other module here), and GetProcAddress answers
// null with ERROR_PROC_NOT_FOUND for a call the module lacks. The bus's
// kernel32 offers CancelSynchronousIo, BOOL (HANDLE thread), unless a test
// hides it as Windows XP lacks it: it ends the synchronous read the thread is
// blocked in, and fails with ERROR_NOT_FOUND when there is none.
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Memory for variable-length system records.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// Device set-up. Sets are snapshots of the present interfaces of one class.
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                              DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* classGuid,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                      DWORD detailSize, LPDWORD requiredSize,
                                      PSP_DEVINFO_DATA device);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// HID class library.
void HidD_GetHidGuid(LPGUID guid);
BOOL HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
// How many input reports the class driver holds for this handle while no read
// takes them (2 to 512; 32 until set). Beyond that the oldest is dropped.
// ERROR_INVALID_PARAMETER outside that range.
BOOLEAN HidD_SetNumInputBuffers(HANDLE device, ULONG buffers);
