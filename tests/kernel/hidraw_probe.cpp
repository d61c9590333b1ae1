// What the kernel's HID class code does with the pad emulator's pads, seen
// through hidraw: discovery by HID_ID, round trips of output and input
// reports in the library's 9-byte layout, a numbered stream at 200 reports a
// second, and what a handle holds of a burst nobody reads (and what a handle
// opened after it gets). Runs in the VM of tests/kernel/run-in-vm beside
// halvix_pads, which it orders through the control file; prints each figure
// as "figure kernel NAME: TEXT" and exits 1 if any check failed.
//
// Usage: hidraw_probe SHARE [--gadget]   (SHARE holds "control" and "events")
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hid/command_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::printf("FAIL: %s\n", what.c_str());
        std::fflush(stdout);
    }
}

void figure(const std::string& name, const std::string& text) {
    std::printf("figure kernel %s: %s\n", name.c_str(), text.c_str());
    std::fflush(stdout);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Emulator {
    std::string share;
    std::size_t seen = 0;

    void order(const std::string& line) {
        std::ofstream f(share + "/control", std::ios::app);
        f << line << "\n";
    }
    void mark() { seen = readAll(share + "/events").size(); }
    bool await(const std::string& text, unsigned ms) {
        const auto start = Clock::now();
        while (msSince(start) < ms) {
            const std::string all = readAll(share + "/events");
            if (all.find(text, seen) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

// hidraw node by product ID, for the devices of vendor 0x1D3B, and every HID_ID seen.
std::map<unsigned, std::string> findPads(std::vector<std::string>& ids) {
    std::map<unsigned, std::string> pads;
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) return pads;
    while (dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, "hidraw", 6) != 0) continue;
        const std::string uevent = readAll(std::string("/sys/class/hidraw/") + e->d_name + "/device/uevent");
        const std::size_t at = uevent.find("HID_ID=");
        if (at == std::string::npos) continue;
        const std::string id = uevent.substr(at + 7, uevent.find('\n', at) - at - 7);
        ids.push_back(id);
        unsigned bus = 0, vendor = 0, product = 0;
        if (std::sscanf(id.c_str(), "%x:%x:%x", &bus, &vendor, &product) == 3 && vendor == 0x1D3B) {
            pads[product] = std::string("/dev/") + e->d_name;
        }
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return pads;
}

// Input reports (8 bytes: count, 7 payload bytes) until `wanted` came or
// nothing came for `quietMs`.
std::vector<std::vector<std::uint8_t>> readReports(int fd, std::size_t wanted, unsigned quietMs) {
    std::vector<std::vector<std::uint8_t>> got;
    while (got.size() < wanted) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quietMs)) <= 0 || !(p.revents & POLLIN)) break;
        std::uint8_t buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.emplace_back(buffer, buffer + n);
    }
    return got;
}

std::vector<std::uint32_t> numbersOf(const std::vector<std::vector<std::uint8_t>>& reports, std::uint8_t product,
                                     std::size_t& malformed) {
    std::vector<std::uint32_t> numbers;
    for (const auto& r : reports) {
        const std::uint8_t* p = r.data() + 1;
        if (r.size() != 8 || r[0] != 7 || p[4] != product || p[5] != 0x5A ||
            p[6] != (p[0] ^ p[1] ^ p[2] ^ p[3] ^ p[4] ^ p[5])) {
            ++malformed;
            continue;
        }
        numbers.push_back(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    }
    return numbers;
}

void roundTrips(const std::string& node, const std::string& label, const std::vector<int>& sizes) {
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    check(fd >= 0, "open " + node);
    if (fd < 0) return;
    std::string text;
    for (int size : sizes) {
        std::vector<std::uint8_t> command(static_cast<std::size_t>(size)), back;
        for (int i = 0; i < size; ++i) command[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 31 + 7);
        const auto start = Clock::now();
        // One report out, its echo in: the pad answers each report.
        for (int at = 0; at < size; at += halvix::commandBytesPerReport) {
            const halvix::OutputReport out = halvix::packReport(command.data() + at, size - at);
            if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) break;
            const auto in = readReports(fd, 1, 2000);
            if (in.empty()) break;
            const int count = std::min<int>(in[0][0] & 0x0F, 7);
            back.insert(back.end(), in[0].begin() + 1, in[0].begin() + 1 + count);
        }
        const double ms = msSince(start);
        check(back == command, label + ": " + std::to_string(size) + " bytes come back whole");
        char t[64];
        std::snprintf(t, sizeof t, "%s%d B %.0f ms", text.empty() ? "" : ", ", size, ms);
        text += t;
    }
    close(fd);
    figure(label, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hidraw_probe SHARE [--gadget]\n");
        return 2;
    }
    Emulator pads{argv[1]};
    const bool gadget = argc > 2 && std::strcmp(argv[2], "--gadget") == 0;

    std::vector<std::string> ids;
    std::map<unsigned, std::string> found;
    for (int i = 0; i < 100; ++i) {  // usbhid binds the gadget a little later
        ids.clear();
        found = findPads(ids);
        if (found.count(0x43) && (gadget || found.count(0xA5))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string list;
    for (const auto& id : ids) list += (list.empty() ? "" : ", ") + id;
    figure(gadget ? "gadget discovery" : "discovery", list);
    check(found.count(0x43) == 1, "the pad 0043 has a hidraw node");
    if (gadget) {
        check(ids.size() == 1, "one HID device: the gadget pad");
        if (found.count(0x43)) roundTrips(found[0x43], "gadget round trips", {1, 7, 8, 20, 600});
        return failures == 0 ? 0 : 1;
    }
    check(ids.size() == 4 && found.size() == 3 && found.count(0x42) && found.count(0xA5),
          "another vendor's device, the maker's 0042 and the pads 0043 and 00A5");
    if (!found.count(0x43)) return 1;
    const std::string pad = found[0x43];
    roundTrips(pad, "round trips", {1, 7, 8, 20, 600, 3000});  // 30000 B: 40-90 s under TCG

    // A stream at 200 reports a second.
    {
        const int fd = open(pad.c_str(), O_RDWR | O_CLOEXEC);
        pads.mark();
        pads.order("0043 stream 600 5");
        const auto got = readReports(fd, 600, 2000);
        close(fd);
        std::size_t malformed = 0;
        const auto numbers = numbersOf(got, 0x43, malformed);
        const bool inOrder = std::is_sorted(numbers.begin(), numbers.end()) &&
                             std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end();
        check(numbers.size() == 600 && inOrder && malformed == 0, "a stream of 600 at 200/s arrives whole");
        figure("stream 200/s", std::to_string(numbers.size()) + "/600 received, " +
                                   (inOrder ? "in order" : "OUT OF ORDER") +
                                   (malformed ? ", malformed reports" : ""));
    }

    // A burst nobody reads while it arrives: what each handle holds.
    for (int count : {60, 100}) {
        const int early = open(pad.c_str(), O_RDWR | O_CLOEXEC);
        pads.mark();
        pads.order("0043 burst " + std::to_string(count));
        check(pads.await("0043 burst-done", 5000), "the emulator sent its burst");
        const int late = open(pad.c_str(), O_RDWR | O_CLOEXEC);
        std::size_t malformed = 0;
        const auto kept = numbersOf(readReports(early, count, 300), 0x43, malformed);
        const auto lateGot = readReports(late, count, 300);
        close(early);
        close(late);
        check(lateGot.empty(), "a handle opened after the burst gets none of it");
        // hidraw holds a bounded number a handle (64 slots in 6.1), the
        // bound the library's reader must live with on Linux.
        check(!kept.empty() && kept.size() <= 64 && std::is_sorted(kept.begin(), kept.end()),
              "the open handle holds part of the burst, at most 64, in order");
        char t[160];
        std::snprintf(t, sizeof t, "%zu of %d held by the open handle (numbers %u to %u), %zu by one opened after it",
                      kept.size(), count, kept.empty() ? 0 : kept.front(), kept.empty() ? 0 : kept.back(),
                      lateGot.size());
        figure("burst " + std::to_string(count), t);
    }
    return failures == 0 ? 0 : 1;
}
