// The library against the kernel's HID class code, through Wine's own HID
// stack (winebus over hidraw, hidclass): what the virtual bus only imitates.
#include "kernel_pads.h"

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace halvix::harness {

namespace {

constexpr std::uint8_t sequenceMark = 0x5A;

void figure(const std::string& name, const std::string& text) {
    std::printf("figure %s %s: %s\n", sizeof(void*) == 4 ? "x86" : "x64", name.c_str(), text.c_str());
    std::fflush(stdout);
}

std::string format(const char* pattern, double a, double b = 0, double c = 0, double d = 0) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b, c, d);
    return text;
}

// --- the emulator's control and events files --------------------------------

class Emulator {
public:
    explicit Emulator(const std::string& share) {
        std::string dos = "Z:" + share;
        std::replace(dos.begin(), dos.end(), '/', '\\');
        control_ = dos + "\\control";
        events_ = dos + "\\events";
    }

    // Appends one control line; the emulator runs it within a few ms.
    void order(const std::string& line) {
        HANDLE f = CreateFileA(control_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        check(f != INVALID_HANDLE_VALUE, "the control file opens, error " + std::to_string(GetLastError()));
        if (f == INVALID_HANDLE_VALUE) return;
        const std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(f);
    }

    // Everything the emulator has reported so far.
    std::string events() const {
        std::string all;
        HANDLE f = CreateFileA(events_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return all;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) all.append(buffer, got);
        CloseHandle(f);
        return all;
    }

    // Marks where the events of what follows begin.
    void mark() { seen_ = events().size(); }

    // The first new event line that contains `text`, waiting up to `ms`.
    std::string await(const std::string& text, unsigned ms) {
        const double end = nowMs() + ms;
        do {
            const std::string all = events();
            std::size_t at = seen_;
            while (at < all.size()) {
                const std::size_t nl = all.find('\n', at);
                if (nl == std::string::npos) break;
                const std::string line = all.substr(at, nl - at);
                if (line.find(text) != std::string::npos) return line;
                at = nl + 1;
            }
            Sleep(20);
        } while (nowMs() < end);
        return "";
    }

private:
    std::string control_;
    std::string events_;
    std::size_t seen_ = 0;
};

// --- the library through the natives -------------------------------------------

class Port {
public:
    explicit Port(const Library& lib)
        : open_(lib.native<OpenFn>(0)),
          close_(lib.native<CloseFn>(1)),
          command_(lib.native<CommandFn>(3)),
          serial_(lib.native<SerialFn>(4)) {}

    bool open(const char* name) {
        std::u16string chars(name, name + std::char_traits<char>::length(name));
        return open_(vm_.env(), nullptr, vm_.string(chars)) == JNI_TRUE;
    }
    double close() {
        const double start = nowMs();
        check(close_(vm_.env(), nullptr) == JNI_TRUE, "closeUsbPort answers true");
        return nowMs() - start;
    }
    bool put(const std::vector<std::uint8_t>& bytes) {
        return command_(vm_.env(), nullptr, vm_.array(bytes)) == JNI_TRUE;
    }
    // Serial bytes until `bytes` have come, or until nothing has come for
    // `quietMs`, or `ms` pass.
    std::vector<std::uint8_t> read(std::size_t bytes, unsigned ms, unsigned quietMs = 0xFFFFFFFFu) {
        std::vector<std::uint8_t> got;
        const double end = nowMs() + ms;
        double lastData = nowMs();
        while (got.size() < bytes && nowMs() < end && nowMs() - lastData < quietMs) {
            if (jbyteArray a = serial_(vm_.env(), nullptr)) {
                const auto& more = vm_.bytes(a);
                got.insert(got.end(), more.begin(), more.end());
                lastData = nowMs();
            }
        }
        return got;
    }

private:
    FakeJni vm_;
    OpenFn open_;
    CloseFn close_;
    CommandFn command_;
    SerialFn serial_;
};

// --- numbered reports -------------------------------------------------------------

// What arrived of a run of numbered reports.
struct Tally {
    std::vector<std::uint32_t> numbers;
    std::size_t malformed = 0;

    void take(const std::uint8_t* p, std::uint8_t product) {
        const std::uint8_t sum = p[0] ^ p[1] ^ p[2] ^ p[3] ^ p[4] ^ p[5];
        if (p[4] != product || p[5] != sequenceMark || p[6] != sum) {
            ++malformed;
            return;
        }
        numbers.push_back(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    }
    // The serial stream of whole 7-byte payloads.
    void takeStream(const std::vector<std::uint8_t>& bytes, std::uint8_t product) {
        for (std::size_t at = 0; at + 7 <= bytes.size(); at += 7) take(&bytes[at], product);
        if (bytes.size() % 7 != 0) ++malformed;
    }
    bool inOrder() const {
        for (std::size_t i = 1; i < numbers.size(); ++i) {
            if (numbers[i] <= numbers[i - 1]) return false;
        }
        return true;
    }
    std::string text(std::size_t sent) const {
        char t[160];
        std::snprintf(t, sizeof t, "%zu/%zu received, %zu lost, %s%s", numbers.size(), sent,
                      sent - std::min(sent, numbers.size()), inOrder() ? "in order" : "OUT OF ORDER",
                      malformed ? ", MALFORMED reports" : "");
        return t;
    }
};

// --- a baseline Win32 reader of our own -------------------------------------------

// The pad's interface path, found the way any HID program finds it.
std::string padPath(std::uint16_t product) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::string found;
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size + 8);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) continue;
        HANDLE h = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        HIDD_ATTRIBUTES a{};
        a.Size = sizeof a;
        if (HidD_GetAttributes(h, &a) && a.VendorID == 0x1D3B && a.ProductID == product) {
            found = detail->DevicePath;
        }
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// One overlapped read pending at a time, as the library's reader does, with
// the class driver's default buffers.
class BaselineReader {
public:
    BaselineReader(const std::string& path, std::uint8_t product) : product_(product) {
        device_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (device_ != INVALID_HANDLE_VALUE) {
            thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
            WaitForSingleObject(ready_, 5000);
        }
    }
    ~BaselineReader() {
        finish();
        CloseHandle(stop_);
        CloseHandle(ready_);
    }
    bool running() const { return thread_ != nullptr; }
    // Stops the reader; its tally is complete afterwards.
    const Tally& finish() {
        if (thread_ != nullptr) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        if (device_ != INVALID_HANDLE_VALUE) {
            CloseHandle(device_);
            device_ = INVALID_HANDLE_VALUE;
        }
        return tally_;
    }

private:
    static DWORD WINAPI threadMain(LPVOID self) {
        static_cast<BaselineReader*>(self)->run();
        return 0;
    }
    void run() {
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        OVERLAPPED ov{};
        ov.hEvent = done;
        std::uint8_t report[9];
        const HANDLE waits[2] = {done, stop_};
        for (;;) {
            DWORD got = 0;
            ResetEvent(done);
            const BOOL at = ReadFile(device_, report, sizeof report, nullptr, &ov);
            SetEvent(ready_);
            if (!at && GetLastError() != ERROR_IO_PENDING) break;
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(device_, &ov);
                GetOverlappedResult(device_, &ov, &got, TRUE);
                break;
            }
            if (GetOverlappedResult(device_, &ov, &got, FALSE) && got == sizeof report && (report[1] & 0x0F) == 7) {
                tally_.take(report + 2, product_);
            }
        }
        CloseHandle(done);
    }

    std::uint8_t product_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    Tally tally_;
};

// --- the cases ------------------------------------------------------------------------

std::string hex4(unsigned v) {
    char t[8];
    std::snprintf(t, sizeof t, "%04X", v);
    return t;
}

// The pad's product ID: which pad the emulator saw a command on.
unsigned identify(Port& port, Emulator& pads, const char* name) {
    pads.mark();
    check(port.put({0x42}), std::string("putCmdString on ") + name);
    const std::string line = pads.await(" outputs ", 5000);  // "PID outputs N"
    const std::vector<std::uint8_t> echo = port.read(1, 3000);
    check(echo == std::vector<std::uint8_t>{0x42}, std::string(name) + " echoes the byte sent");
    unsigned product = 0;
    if (line.size() > 12 && line.compare(4, 8, " outputs") == 0) product = std::strtoul(line.substr(0, 4).c_str(), nullptr, 16);
    return product;
}

void roundTrips(Port& port, const char* name, const std::vector<int>& sizes, const std::string& label) {
    std::string text;
    for (int size : sizes) {
        std::vector<std::uint8_t> command(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i) command[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 31 + 7);
        const double start = nowMs();
        check(port.put(command), "putCmdString of " + std::to_string(size) + " bytes");
        const auto back = port.read(command.size(), 20000 + static_cast<unsigned>(size), 5000);
        const double ms = nowMs() - start;
        check(back == command, std::string(name) + ": " + std::to_string(size) + " bytes come back whole, " +
                                   std::to_string(back.size()) + " came");
        text += (text.empty() ? "" : ", ") + std::to_string(size) + " B " + format("%.0f ms", ms) +
                (back == command ? "" : " WRONG");
    }
    figure(label, text);
}

// Waits until the named port opens (Wine learns of new devices through udev).
bool awaitPort(Port& port, const char* name, unsigned ms) {
    const double end = nowMs() + ms;
    do {
        if (port.open(name)) {
            port.close();
            return true;
        }
        Sleep(200);
    } while (nowMs() < end);
    return false;
}

double processCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

void gadgetCases(Port& port, Emulator& pads) {
    check(awaitPort(port, "HID1", 30000), "the gadget pad shows up as HID1");
    check(!port.open("HID2"), "HID2 finds nothing with only the gadget pad present");
    port.close();
    check(port.open("HID1"), "openUsbPort(HID1) on the gadget pad");
    const unsigned product = identify(port, pads, "HID1");
    check(product == 0x43, "HID1 is the gadget pad 0043, the emulator saw " + hex4(product));
    roundTrips(port, "gadget", {1, 7, 8, 20, 600}, "gadget round trips");
    port.close();
}

void uhidCases(Port& port, Emulator& pads) {
    // Discovery: the two pads among the other devices, in Wine's order.
    check(awaitPort(port, "HID2", 30000), "both pads show up (HID2 opens)");
    unsigned products[2] = {};
    for (int i = 0; i < 2; ++i) {
        const char* name = i == 0 ? "HID1" : "HID2";
        check(port.open(name), std::string("openUsbPort(") + name + ")");
        products[i] = identify(port, pads, name);
        port.close();
    }
    check(!port.open("HID3"), "HID3 finds no pad (another vendor's device and the maker's 0042 are skipped)");
    port.close();
    const bool both = (products[0] == 0x43 && products[1] == 0xA5) || (products[0] == 0xA5 && products[1] == 0x43);
    check(both, "HID1 and HID2 are the pads 0043 and 00A5, found " + hex4(products[0]) + " and " + hex4(products[1]));
    figure("discovery", "HID1 = " + hex4(products[0]) + ", HID2 = " + hex4(products[1]) + ", HID3 none");
    if (!both) return;
    const std::string first = hex4(products[0]);
    const std::string second = hex4(products[1]);
    const auto firstId = static_cast<std::uint8_t>(products[0]);

    check(port.open("HID1"), "openUsbPort(HID1)");
    roundTrips(port, "HID1", {1, 7, 8, 20, 600, 30000}, "round trips");

    // A stream at 200 reports a second.
    {
        const int count = 600;
        pads.mark();
        pads.order(first + " stream " + std::to_string(count) + " 5");
        const auto bytes = port.read(7u * count, 20000, 3000);
        check(!pads.await(first + " stream-done", 5000).empty(), "the emulator finished its stream");
        Tally t;
        t.takeStream(bytes, firstId);
        check(t.numbers.size() == static_cast<std::size_t>(count) && t.inOrder() && t.malformed == 0,
              "a stream of 600 at 200/s arrives whole and in order: " + t.text(count));
        figure("stream 200/s", t.text(count));
    }

    // Bursts, with our baseline reader open on the same pad beside the library.
    for (int count : {60, 300}) {
        BaselineReader baseline(padPath(static_cast<std::uint16_t>(products[0])), firstId);
        check(baseline.running(), "the baseline reader opens the pad");
        pads.mark();
        pads.order(first + " burst " + std::to_string(count));
        check(!pads.await(first + " burst-done", 10000).empty(), "the emulator sent its burst");
        const auto bytes = port.read(7u * count, 15000, 2000);
        const Tally& base = baseline.finish();
        Tally lib;
        lib.takeStream(bytes, firstId);
        check(lib.numbers.size() >= base.numbers.size() && lib.inOrder() && lib.malformed == 0,
              "burst of " + std::to_string(count) + ": the library gets at least what the baseline gets: library " +
                  lib.text(count) + "; baseline " + base.text(count));
        if (count == 60) {
            check(lib.numbers.size() == 60u, "a burst of 60 at once loses nothing: " + lib.text(count));
        }
        figure("burst " + std::to_string(count), "library " + lib.text(count) + "; baseline " + base.text(count));
    }
    port.close();

    // A silent pad does not hold the close up.
    {
        pads.order(first + " silent");
        Sleep(100);
        check(port.open("HID1"), "openUsbPort(HID1), silent pad");
        Sleep(300);
        const double ms = port.close();
        check(ms < 2000, "the close with a silent pad is prompt, took " + format("%.1f ms", ms));
        figure("silent close", format("%.1f ms", ms));
        pads.order(first + " echo");
    }

    // Open/close cycles leave the process's handle count where it was.
    {
        const int cycles = 200;
        check(port.open("HID1"), "warm-up open");
        port.close();
        DWORD before = 0, after = 0;
        GetProcessHandleCount(GetCurrentProcess(), &before);
        const double start = nowMs();
        int opened = 0;
        double worstClose = 0;
        for (int i = 0; i < cycles; ++i) {
            opened += port.open("HID1") ? 1 : 0;
            worstClose = std::max(worstClose, port.close());
        }
        const double seconds = (nowMs() - start) / 1000;
        GetProcessHandleCount(GetCurrentProcess(), &after);
        check(opened == cycles, std::to_string(opened) + " of " + std::to_string(cycles) + " cycles opened");
        check(after == before, "handle count after " + std::to_string(cycles) + " cycles: " +
                                   std::to_string(before) + " before, " + std::to_string(after) + " after");
        figure("open/close cycles", std::to_string(opened) + "/" + std::to_string(cycles) + " opened, handles " +
                                        std::to_string(before) + " before, " + std::to_string(after) + " after, " +
                                        format("%.1f s, worst close %.1f ms", seconds, worstClose));
    }

    // The second pad goes away in the middle of a stream.
    {
        check(port.open("HID2"), "openUsbPort(HID2) before the unplug");
        pads.mark();
        pads.order(second + " unplug-after 100");
        pads.order(second + " stream 400 5");
        check(!pads.await(second + " unplugged", 10000).empty(), "the emulator removed " + second);
        const auto bytes = port.read(7u * 400, 3000, 1000);
        Tally t;
        t.takeStream(bytes, static_cast<std::uint8_t>(products[1]));
        Sleep(300);
        const double cpuStart = processCpuMs();
        Sleep(1000);
        const double cpu = processCpuMs() - cpuStart;
        const double ms = port.close();
        check(cpu < 300, "no reader spins after the unplug: " + format("%.0f ms of processor time in 1 s", cpu));
        check(ms < 2000, "the close after the unplug is prompt, took " + format("%.1f ms", ms));
        check(t.inOrder() && t.malformed == 0, "what came before the unplug is in order: " + t.text(100));
        // The ordinals count the pads left.
        bool recounted = false;
        const double end = nowMs() + 15000;
        while (!recounted && nowMs() < end) {
            recounted = !port.open("HID2");
            port.close();
            if (!recounted) Sleep(200);
        }
        check(recounted, "HID2 finds nothing once the second pad has gone");
        check(port.open("HID1"), "HID1 still opens the pad left");
        const unsigned left = identify(port, pads, "HID1");
        port.close();
        check(left == products[0], "HID1 is still " + first + ", found " + hex4(left));
        figure("unplug mid-stream", t.text(100) + " before it; " + format("reader cpu %.0f ms in 1 s, close %.1f ms", cpu, ms) +
                                        ", then HID1 = " + hex4(left) + ", HID2 none");
    }
}

}  // namespace

void runKernelCases(const Library& lib, const std::string& share, bool gadget) {
    FakeJni vm;
    check(callOnLoad(lib, vm) == jniVersion12, "JNI_OnLoad");
    Port port(lib);
    Emulator pads(share);
    if (gadget) {
        gadgetCases(port, pads);
    } else {
        uhidCases(port, pads);
    }
}

}  // namespace halvix::harness
