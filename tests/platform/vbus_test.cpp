// The virtual bus keeps the Win32 contracts the channels rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "vbus_control.h"

namespace {

class VbusTest : public ::testing::Test {
protected:
    void SetUp() override {
        vbus::restoreDefaultPopulation();
        handles = vbus::openHandleCount();
    }
    void TearDown() override { EXPECT_EQ(vbus::openHandleCount(), handles); }

    // The path of the n-th interface of `cls`.
    std::string pathOf(const GUID& cls, DWORD index) {
        HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        std::string path;
        if (SetupDiEnumDeviceInterfaces(set, nullptr, &cls, index, &data)) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
            std::vector<char> buffer(size);
            auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
                path = buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return path;
    }

    HANDLE openPath(const std::string& path, DWORD flags) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    }

    std::size_t handles = 0;
};

TEST_F(VbusTest, SetupCallsCheckTheirCallers) {
    const GUID hid = vbus::hidClass();
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 5, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 4, &data));

    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<char> buffer(size);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = 5;  // the x86 size is wrong in a 64-bit process
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    const GUID unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    set = SetupDiGetClassDevsA(&unknown, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE) << "an unknown class gives an empty set";
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &unknown, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(VbusTest, OverlappedReadsPendCompleteAndCancel) {
    const vbus::DeviceId pad = *vbus::deviceAt(vbus::hidClass(), 3);
    HANDLE file = openPath(pathOf(vbus::hidClass(), 3), FILE_FLAG_OVERLAPPED);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE done = CreateEventA(nullptr, TRUE, TRUE, "");
    OVERLAPPED ov{};
    ov.hEvent = done;
    std::uint8_t buffer[9] = {};
    DWORD n = 0;

    EXPECT_FALSE(ReadFile(file, buffer, 9, nullptr, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(done, 0), WAIT_TIMEOUT) << "the read reset its event";
    EXPECT_FALSE(GetOverlappedResult(file, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    vbus::pushInputReport(pad, {0, 2, 0xAB, 0xCD});
    EXPECT_EQ(WaitForSingleObject(done, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(file, &ov, &n, FALSE));
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(buffer[2], 0xAB);

    EXPECT_FALSE(ReadFile(file, buffer, 9, nullptr, &ov));
    // CancelIo ends only the reads the calling thread started.
    std::thread([&] { EXPECT_TRUE(CancelIo(file)); }).join();
    EXPECT_FALSE(GetOverlappedResult(file, &ov, &n, FALSE)) << "another thread's CancelIo ended it";
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_TRUE(CancelIo(file));
    EXPECT_FALSE(GetOverlappedResult(file, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(CancelIo(file)) << "nothing pending is no failure";

    EXPECT_FALSE(ReadFile(file, buffer, 9, nullptr, &ov));
    vbus::unplug(pad);
    EXPECT_FALSE(GetOverlappedResult(file, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ReadFile(file, buffer, 9, nullptr, &ov)) << "later reads fail too";
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    CloseHandle(done);
    CloseHandle(file);
}

// The sequence numbers (report byte 2) of the reports an overlapped handle
// holds, taken until a read would have to wait.
std::vector<int> takeBuffered(HANDLE file) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = done;
    std::vector<int> seen;
    std::uint8_t buffer[9] = {};
    DWORD n = 0;
    while (ReadFile(file, buffer, 9, nullptr, &ov)) seen.push_back(buffer[2]);
    CancelIo(file);
    GetOverlappedResult(file, &ov, &n, TRUE);
    CloseHandle(done);
    return seen;
}

std::vector<int> sequence(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i) v.push_back(i);
    return v;
}

TEST_F(VbusTest, InputReportsReachOnlyOpenHandlesWhichHoldABoundedNumber) {
    const vbus::DeviceId pad = *vbus::deviceAt(vbus::hidClass(), 3);
    const std::string path = pathOf(vbus::hidClass(), 3);
    auto burst = [&](int count) {
        std::vector<vbus::Report> reports;
        for (int i = 0; i < count; ++i) reports.push_back({0, 1, static_cast<std::uint8_t>(i)});
        vbus::pushInputReports(pad, reports);
    };
    struct Case {
        const char* label;
        ULONG buffers;  // 0: the default
        int pushed;
        std::vector<int> kept;
    };
    const Case cases[] = {
        {"default, 40 pushed", 0, 40, sequence(8, 40)},
        {"default, 32 pushed", 0, 32, sequence(0, 32)},
        {"512, a burst of 60", 512, 60, sequence(0, 60)},
        {"the fewest, 2", 2, 5, {3, 4}},
    };
    for (const Case& c : cases) {
        burst(3);  // before the handles exist: nobody gets these
        HANDLE first = openPath(path, FILE_FLAG_OVERLAPPED);
        HANDLE second = openPath(path, FILE_FLAG_OVERLAPPED);
        if (c.buffers != 0) {
            EXPECT_TRUE(HidD_SetNumInputBuffers(first, c.buffers)) << c.label;
            EXPECT_TRUE(HidD_SetNumInputBuffers(second, c.buffers)) << c.label;
        }
        burst(c.pushed);
        HANDLE late = openPath(path, FILE_FLAG_OVERLAPPED);
        EXPECT_EQ(takeBuffered(first), c.kept) << c.label;
        EXPECT_EQ(takeBuffered(second), c.kept) << c.label << ": every handle gets its own copy";
        EXPECT_EQ(takeBuffered(late), std::vector<int>{}) << c.label << ": opened after the reports";
        for (HANDLE h : {first, second, late}) CloseHandle(h);
    }

    HANDLE file = openPath(path, FILE_FLAG_OVERLAPPED);
    for (ULONG refused : {0u, 1u, 513u}) {
        EXPECT_FALSE(HidD_SetNumInputBuffers(file, refused)) << refused;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << refused;
    }
    EXPECT_TRUE(HidD_SetNumInputBuffers(file, 512));
    burst(50);
    EXPECT_TRUE(HidD_SetNumInputBuffers(file, 10)) << "shrinking drops the oldest";
    EXPECT_EQ(takeBuffered(file), sequence(40, 50));
    CloseHandle(file);
}

TEST_F(VbusTest, EventsAndWaits) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const HANDLE both[2] = {manual, automatic};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(automatic);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT) << "auto-reset consumed";
    SetEvent(manual);
    SetEvent(automatic);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0) << "the first signalled";
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0) << "manual stays set";
    ResetEvent(manual);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    CloseHandle(manual);
    CloseHandle(automatic);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

std::atomic<int> started{0};

DWORD WINAPI blockInRead(LPVOID file) {
    started.store(1);
    std::uint8_t record[4];
    DWORD n = 0;
    const BOOL ok = ReadFile(static_cast<HANDLE>(file), record, 4, &n, nullptr);
    return ok ? 0 : GetLastError();
}

// Starts a thread that reads `file` synchronously and gives it 20 ms to be
// inside the read; null if the thread could not start.
HANDLE startBlockedReader(HANDLE file) {
    started.store(0);
    HANDLE thread = CreateThread(nullptr, 0x8000, blockInRead, file, 0, nullptr);
    if (thread == nullptr) return nullptr;
    while (started.load() == 0) Sleep(1);
    Sleep(20);
    return thread;
}

using CancelSynchronousIoCall = BOOL (*)(HANDLE);

CancelSynchronousIoCall cancelSynchronousIo() {
    return reinterpret_cast<CancelSynchronousIoCall>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "CancelSynchronousIo")));
}

TEST_F(VbusTest, SynchronousReadEndsOnCancel) {
    vbus::unplug(*vbus::deviceAt(vbus::legacyClass(), 0));
    vbus::addLegacyDevice({});  // silent
    HANDLE file = openPath(pathOf(vbus::legacyClass(), 0), FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE thread = startBlockedReader(file);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT) << "the read did not block";
    const CancelSynchronousIoCall cancel = cancelSynchronousIo();
    ASSERT_NE(cancel, nullptr);
    EXPECT_TRUE(cancel(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0) << "the thread handle signals its end";
    EXPECT_FALSE(cancel(thread));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    CloseHandle(thread);
    CloseHandle(file);
    EXPECT_TRUE(vbus::waitForThreadsToEnd(1000));
}

TEST_F(VbusTest, HeldReadsIgnoreTheCancelUntilReleased) {
    vbus::unplug(*vbus::deviceAt(vbus::legacyClass(), 0));
    const vbus::DeviceId pad = vbus::addLegacyDevice({vbus::record(7)});
    vbus::holdReads(pad, true);
    HANDLE file = openPath(pathOf(vbus::legacyClass(), 0), FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE thread = startBlockedReader(file);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT) << "a record was due, yet held";
    EXPECT_TRUE(cancelSynchronousIo()(thread)) << "the cancel is asked for";
    EXPECT_EQ(WaitForSingleObject(thread, 100), WAIT_TIMEOUT) << "the held read ended on a cancel";
    vbus::holdReads(pad, false);
    EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0) << "the released read still waits";
    CloseHandle(thread);

    // Released with no cancel asked for, a held read delivers what is due.
    vbus::holdReads(pad, true);
    std::uint8_t record[4] = {};
    DWORD n = 0;
    std::thread release([pad] {
        Sleep(50);
        vbus::holdReads(pad, false);
    });
    EXPECT_TRUE(ReadFile(file, record, 4, &n, nullptr));
    release.join();
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(record[0], 7);
    CloseHandle(file);
    EXPECT_TRUE(vbus::waitForThreadsToEnd(1000));
}

TEST_F(VbusTest, ModulesAnswerWhatTheSystemHas) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetModuleHandleA("hid.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(cancelSynchronousIo(), nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "CancelIoEx"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    vbus::hideCancelSynchronousIo(true);
    EXPECT_EQ(cancelSynchronousIo(), nullptr) << "hidden as on Windows XP";
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    vbus::restoreDefaultPopulation();
    EXPECT_NE(cancelSynchronousIo(), nullptr) << "a fresh bus has it again";
}

TEST_F(VbusTest, LastErrorIsPerThread) {
    SetLastError(ERROR_GEN_FAILURE);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        CloseHandle(reinterpret_cast<HANDLE>(std::uintptr_t{12345}));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    });
    other.join();
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

TEST_F(VbusTest, PathsOpenTwiceAndFailAsConfigured) {
    const std::string path = pathOf(vbus::hidClass(), 3);
    HANDLE a = openPath(path, 0);
    HANDLE b = openPath(path, FILE_FLAG_OVERLAPPED);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_EQ(openPath(pathOf(vbus::hidClass(), 2), 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openPath("\\\\?\\nothing", 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
