// Pads in the kernel: a population of uhid devices (or one USB gadget pad
// behind dummy_hcd) that plays the pads' part against the kernel's real HID
// class code, for tests that run in the VM of tests/kernel/run-in-vm. Built
// static, so the guest runs it from the host's read-only root.
//
// Usage: halvix_pads [options]
//   --control FILE  command file: the emulator follows it and runs each line
//                   appended to it (created empty if missing)
//   --events FILE   what happened, one line per event, appended (see below)
//   --report-ids    the pads number their reports: input and output report
//                   ID 1, eight data bytes after it
//   --gadget        instead of uhid devices, one pad 0x1D3B:0x0043 as a
//                   configfs HID gadget bound to dummy_udc.0 (needs the VM's
//                   --gadget modules); usbhid on the same kernel drives it
//
// The uhid population, created in this order:
//   046D:C52B  another vendor's device    silent
//   1D3B:0042  the maker's non-pad device silent
//   1D3B:0043  pad                        echo
//   1D3B:00A5  pad                        echo
// Every device has one vendor-page collection with an 8-byte input and an
// 8-byte output report (no report IDs unless --report-ids).
//
// Input reports carry the pad's serial bytes: byte 0 the count (1 to 7),
// bytes 1 to 7 the payload; a HID class driver puts report ID 0 before them,
// so the reader sees the 9-byte layout of hid/command_writer.h. Output
// reports arrive as that same layout.
//
// Control lines (PID is the product ID in hex, e.g. 0043):
//   PID echo                 every output report comes back as an input report
//   PID silent               sends nothing of its own accord
//   PID stream N PERIOD_MS   sends N numbered reports, one every PERIOD_MS
//   PID burst N              sends N numbered reports at once
//   PID unplug-after N       removes the device (UHID_DESTROY) once N more
//                            reports have been sent; N = 0: at once
//   quit                     removes every device and exits
// A numbered report carries seven payload bytes: the sequence number (from 0,
// 32 bits little-endian), the product ID's low byte, 0x5A, and the XOR of
// the six bytes before it. Events lines: "ready", "PID stream-done N",
// "PID burst-done N", "PID unplugged", "PID outputs N" (after each echo), and
// "error TEXT".
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hid/command_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
using halvix::commandBytesPerReport;
using halvix::OutputReport;

constexpr std::uint8_t sequenceMark = 0x5A;
constexpr int dataBytes = 8;  // input and output report size without the ID

std::vector<std::uint8_t> reportDescriptor(bool reportIds) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
                                   0x09, 0x01,        // usage 1
                                   0xA1, 0x01};       // collection (application)
    if (reportIds) d.insert(d.end(), {0x85, 0x01});   // report ID 1
    d.insert(d.end(), {0x15, 0x00, 0x26, 0xFF, 0x00,  // logical 0..255
                       0x75, 0x08, 0x95, dataBytes,   // 8 fields of 8 bits
                       0x09, 0x01, 0x81, 0x02,        // input (data, variable)
                       0x09, 0x01, 0x95, dataBytes,
                       0x91, 0x02,                    // output (data, variable)
                       0xC0});
    return d;
}

FILE* events = nullptr;

void event(const std::string& line) {
    std::printf("halvix_pads: %s\n", line.c_str());
    std::fflush(stdout);
    if (events != nullptr) {
        std::fprintf(events, "%s\n", line.c_str());
        std::fflush(events);
    }
}

std::string hex4(unsigned v) {
    char s[8];
    std::snprintf(s, sizeof s, "%04X", v & 0xFFFF);
    return s;
}

struct Pad {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool pad = false;       // a pad: echoes by default
    bool echo = false;
    int fd = -1;            // /dev/uhid or /dev/hidg0
    bool gadget = false;
    bool reportIds = false;
    long outputs = 0;
    // Numbered reports still to send, and when the next is due.
    long streamLeft = 0;
    long streamTotal = 0;
    std::uint32_t sequence = 0;
    std::chrono::microseconds period{0};
    Clock::time_point due{};
    long unplugAfter = -1;  // reports still to send before removal; -1: none

    std::string name() const { return hex4(product); }
};

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void destroy(Pad& pad) {
    if (pad.fd < 0) return;
    if (!pad.gadget) {
        uhid_event ev{};
        ev.type = UHID_DESTROY;
        writeAll(pad.fd, &ev, sizeof ev);
    }
    close(pad.fd);
    pad.fd = -1;
    pad.streamLeft = 0;
    event(pad.name() + " unplugged");
}

// Sends one input report: byte 0 the count, then up to seven payload bytes.
void sendInput(Pad& pad, const std::uint8_t* payload, int count) {
    if (pad.fd < 0) return;
    std::uint8_t data[dataBytes + 1] = {};
    int at = 0;
    if (pad.reportIds) data[at++] = 1;
    data[at] = static_cast<std::uint8_t>(count);
    std::memcpy(data + at + 1, payload, static_cast<size_t>(count));
    const size_t size = static_cast<size_t>(at + dataBytes);
    bool ok;
    if (pad.gadget) {
        ok = writeAll(pad.fd, data, size);
    } else {
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<std::uint16_t>(size);
        std::memcpy(ev.u.input2.data, data, size);
        ok = writeAll(pad.fd, &ev, sizeof ev);
    }
    if (!ok) event("error " + pad.name() + " input write failed: " + std::strerror(errno));
    if (pad.unplugAfter > 0 && --pad.unplugAfter == 0) destroy(pad);
}

void sendNumbered(Pad& pad) {
    std::uint8_t p[commandBytesPerReport];
    const std::uint32_t s = pad.sequence++;
    p[0] = static_cast<std::uint8_t>(s);
    p[1] = static_cast<std::uint8_t>(s >> 8);
    p[2] = static_cast<std::uint8_t>(s >> 16);
    p[3] = static_cast<std::uint8_t>(s >> 24);
    p[4] = static_cast<std::uint8_t>(pad.product);
    p[5] = sequenceMark;
    p[6] = static_cast<std::uint8_t>(p[0] ^ p[1] ^ p[2] ^ p[3] ^ p[4] ^ p[5]);
    sendInput(pad, p, commandBytesPerReport);
}

// An output report as the class driver hands it over: with the report ID in
// front when the size says so.
void onOutput(Pad& pad, const std::uint8_t* data, size_t size) {
    if (size == sizeof(OutputReport) || (pad.reportIds && size > dataBytes)) {
        ++data;
        --size;
    }
    ++pad.outputs;
    if (!pad.echo || size < 1) return;
    const int count = data[0] & 0x0F;
    if (count < 1 || count > commandBytesPerReport || static_cast<size_t>(count) + 1 > size) return;
    sendInput(pad, data + 1, count);
    event(pad.name() + " outputs " + std::to_string(pad.outputs));
}

bool createUhid(Pad& pad) {
    pad.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (pad.fd < 0) {
        event(std::string("error cannot open /dev/uhid: ") + std::strerror(errno));
        return false;
    }
    const auto desc = reportDescriptor(pad.reportIds);
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name,
                  "halvix %04x:%04x", pad.vendor, pad.product);
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, "%04x",
                  pad.product);
    ev.u.create2.rd_size = static_cast<std::uint16_t>(desc.size());
    ev.u.create2.bus = 0x03;  // BUS_USB
    ev.u.create2.vendor = pad.vendor;
    ev.u.create2.product = pad.product;
    ev.u.create2.version = 0x0100;
    std::memcpy(ev.u.create2.rd_data, desc.data(), desc.size());
    if (!writeAll(pad.fd, &ev, sizeof ev)) {
        event(std::string("error UHID_CREATE2: ") + std::strerror(errno));
        return false;
    }
    return true;
}

void handleUhid(Pad& pad) {
    uhid_event ev{};
    const ssize_t n = read(pad.fd, &ev, sizeof ev);
    if (n <= 0) return;
    uhid_event reply{};
    switch (ev.type) {
    case UHID_OUTPUT:
        onOutput(pad, ev.u.output.data, ev.u.output.size);
        break;
    case UHID_GET_REPORT:  // no feature reports: refuse, so no caller waits
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = ev.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        writeAll(pad.fd, &reply, sizeof reply);
        break;
    case UHID_SET_REPORT:
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = ev.u.set_report.id;
        reply.u.set_report_reply.err = 0;
        writeAll(pad.fd, &reply, sizeof reply);
        break;
    default:
        break;
    }
}

// --- the gadget -------------------------------------------------------------

const std::string gadgetDir = "/sys/kernel/config/usb_gadget/halvix";

bool put(const std::string& path, const std::string& value) {
    std::ofstream f(path, std::ios::binary);
    f << value;
    f.flush();
    if (!f) {
        event("error cannot write " + path);
        return false;
    }
    return true;
}

bool createGadget(Pad& pad) {
    const auto desc = reportDescriptor(pad.reportIds);
    const std::string fn = gadgetDir + "/functions/hid.usb0";
    const std::string cfg = gadgetDir + "/configs/c.1";
    for (const std::string& d : {gadgetDir, gadgetDir + "/strings/0x409", fn, cfg,
                                 cfg + "/strings/0x409"}) {
        if (mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) {
            event("error cannot create " + d + ": " + std::strerror(errno));
            return false;
        }
    }
    char id[8];
    bool ok = true;
    std::snprintf(id, sizeof id, "0x%04x", pad.vendor);
    ok = ok && put(gadgetDir + "/idVendor", id);
    std::snprintf(id, sizeof id, "0x%04x", pad.product);
    ok = ok && put(gadgetDir + "/idProduct", id);
    ok = ok && put(gadgetDir + "/strings/0x409/product", "halvix gadget pad");
    ok = ok && put(fn + "/protocol", "0") && put(fn + "/subclass", "0");
    ok = ok && put(fn + "/report_length", std::to_string(dataBytes + (pad.reportIds ? 1 : 0)));
    ok = ok && put(fn + "/report_desc", std::string(desc.begin(), desc.end()));
    ok = ok && put(cfg + "/strings/0x409/configuration", "pad");
    if (!ok) return false;
    if (symlink(fn.c_str(), (cfg + "/hid.usb0").c_str()) != 0 && errno != EEXIST) {
        event(std::string("error cannot link the function: ") + std::strerror(errno));
        return false;
    }
    if (!put(gadgetDir + "/UDC", "dummy_udc.0")) return false;
    for (int i = 0; i < 500 && pad.fd < 0; ++i) {
        pad.fd = open("/dev/hidg0", O_RDWR | O_CLOEXEC);
        if (pad.fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pad.fd < 0) {
        event(std::string("error cannot open /dev/hidg0: ") + std::strerror(errno));
        return false;
    }
    pad.gadget = true;
    return true;
}

void removeGadget() {
    put(gadgetDir + "/UDC", "\n");
    unlink((gadgetDir + "/configs/c.1/hid.usb0").c_str());
    rmdir((gadgetDir + "/configs/c.1/strings/0x409").c_str());
    rmdir((gadgetDir + "/configs/c.1").c_str());
    rmdir((gadgetDir + "/functions/hid.usb0").c_str());
    rmdir((gadgetDir + "/strings/0x409").c_str());
    rmdir(gadgetDir.c_str());
}

// --- control ------------------------------------------------------------------

Pad* findPad(std::vector<Pad>& pads, const std::string& name) {
    unsigned long product = std::strtoul(name.c_str(), nullptr, 16);
    for (Pad& p : pads) {
        if (p.product == product) return &p;
    }
    return nullptr;
}

// Runs one control line; false on "quit".
bool command(std::vector<Pad>& pads, const std::string& line) {
    std::istringstream in(line);
    std::string who, what;
    in >> who;
    if (who.empty()) return true;
    if (who == "quit") return false;
    in >> what;
    Pad* pad = findPad(pads, who);
    if (pad == nullptr) {
        event("error no device " + who + " (" + line + ")");
        return true;
    }
    long n = 0, periodMs = 0;
    if (what == "echo") {
        pad->echo = true;
    } else if (what == "silent") {
        pad->echo = false;
    } else if (what == "stream" && (in >> n >> periodMs) && n >= 0 && periodMs > 0) {
        pad->sequence = 0;
        pad->streamLeft = pad->streamTotal = n;
        pad->period = std::chrono::milliseconds(periodMs);
        pad->due = Clock::now();
    } else if (what == "burst" && (in >> n) && n >= 0) {
        pad->sequence = 0;
        for (long i = 0; i < n && pad->fd >= 0; ++i) sendNumbered(*pad);
        event(pad->name() + " burst-done " + std::to_string(n));
    } else if (what == "unplug-after" && (in >> n) && n >= 0) {
        if (n == 0) {
            destroy(*pad);
        } else {
            pad->unplugAfter = n;
        }
    } else {
        event("error cannot read the command: " + line);
    }
    return true;
}

// New complete lines of the control file since `offset`.
std::vector<std::string> newLines(const std::string& path, std::streamoff& offset) {
    std::vector<std::string> lines;
    std::ifstream f(path, std::ios::binary);
    if (!f) return lines;
    f.seekg(offset);
    std::string chunk((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t start = 0, nl;
    while ((nl = chunk.find('\n', start)) != std::string::npos) {
        std::string line = chunk.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = nl + 1;
    }
    offset += static_cast<std::streamoff>(start);
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    std::string control, eventsPath;
    bool reportIds = false, gadget = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--control" && i + 1 < argc) {
            control = argv[++i];
        } else if (a == "--events" && i + 1 < argc) {
            eventsPath = argv[++i];
        } else if (a == "--report-ids") {
            reportIds = true;
        } else if (a == "--gadget") {
            gadget = true;
        } else {
            std::fprintf(stderr, "usage: halvix_pads [--control FILE] [--events FILE] "
                                 "[--report-ids] [--gadget]\n");
            return 2;
        }
    }
    if (!eventsPath.empty()) events = std::fopen(eventsPath.c_str(), "a");
    if (!control.empty()) {
        std::ofstream touch(control, std::ios::app);
    }

    std::vector<Pad> pads;
    if (gadget) {
        pads.push_back({0x1D3B, 0x0043, true, true});
    } else {
        pads.push_back({0x046D, 0xC52B, false, false});
        pads.push_back({0x1D3B, 0x0042, false, false});
        pads.push_back({0x1D3B, 0x0043, true, true});
        pads.push_back({0x1D3B, 0x00A5, true, true});
    }
    for (Pad& p : pads) {
        p.reportIds = reportIds && p.pad;
        if (!(gadget ? createGadget(p) : createUhid(p))) return 1;
    }
    event("ready");

    std::streamoff controlOffset = 0;
    bool running = true;
    while (running) {
        // Wait for an output report or the next due stream report, at most
        // 5 ms so new control lines are seen promptly.
        auto wake = Clock::now() + std::chrono::milliseconds(5);
        std::vector<pollfd> fds;
        std::vector<Pad*> owners;
        for (Pad& p : pads) {
            if (p.fd < 0) continue;
            fds.push_back({p.fd, POLLIN, 0});
            owners.push_back(&p);
            if (p.streamLeft > 0 && p.due < wake) wake = p.due;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        poll(fds.data(), fds.size(), wait.count() > 0 ? static_cast<int>(wait.count()) : 0);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN) || owners[i]->fd < 0) continue;
            if (owners[i]->gadget) {
                std::uint8_t data[64];
                const ssize_t n = read(owners[i]->fd, data, sizeof data);
                if (n > 0) onOutput(*owners[i], data, static_cast<size_t>(n));
            } else {
                handleUhid(*owners[i]);
            }
        }
        const auto now = Clock::now();
        for (Pad& p : pads) {
            // Catch up on reports that fell due while this loop slept late,
            // keeping their order and the period on average.
            while (p.fd >= 0 && p.streamLeft > 0 && p.due <= now) {
                sendNumbered(p);
                p.due += p.period;
                if (--p.streamLeft == 0) event(p.name() + " stream-done " + std::to_string(p.streamTotal));
            }
        }
        if (!control.empty()) {
            for (const std::string& line : newLines(control, controlOffset)) {
                event("control: " + line);
                if (!command(pads, line)) running = false;
            }
        }
    }
    for (Pad& p : pads) destroy(p);
    if (gadget) removeGadget();
    return 0;
}
