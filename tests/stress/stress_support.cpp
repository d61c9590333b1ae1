#include "stress_support.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "binding/natives.h"
#include "support/fake_jni.h"

namespace halvix::stress {

namespace {

std::mutex figuresLock;
std::vector<std::pair<std::string, std::string>> figureRows;

}  // namespace

double scale() {
    static const double value = [] {
        const char* text = std::getenv("HALVIX_STRESS_SCALE");
        double v = text != nullptr ? std::atof(text) : 1.0;
        return v > 0 ? v : 1.0;
    }();
    return value;
}

std::size_t scaled(std::size_t count) {
    const auto n = static_cast<std::size_t>(static_cast<double>(count) * scale());
    return n > 0 ? n : 1;
}

void addFigure(const std::string& row, const std::string& figures) {
    std::lock_guard<std::mutex> hold(figuresLock);
    figureRows.emplace_back(row, figures);
}

void printFigures() {
    std::lock_guard<std::mutex> hold(figuresLock);
    std::printf("\nstress figures (iteration scale %.2f%s)\n", scale(),
                scale() == 1.0 ? "" : ", counts scaled down");
    for (const auto& [row, figures] : figureRows) {
        std::printf("  %-22s %s\n", row.c_str(), figures.c_str());
    }
    std::fflush(stdout);
}

std::set<pid_t> taskIds() {
    std::set<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ids.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
        }
        closedir(dir);
    }
    return ids;
}

std::size_t taskCount() { return taskIds().size(); }

bool taskCountBackTo(std::size_t count, unsigned ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (taskCount() != count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

double threadCpuMicroseconds(pid_t tid) {
    // schedstat has the run time in nanoseconds; stat only in clock ticks.
    std::ifstream schedstat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long ns = 0;
    if (schedstat >> ns) return static_cast<double>(ns) / 1000.0;
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t openAndFindReader(const std::function<bool()>& open) {
    const std::set<pid_t> before = taskIds();
    if (!open()) return 0;
    pid_t found = 0;
    for (pid_t id : taskIds()) {
        if (before.count(id) == 0) {
            if (found != 0) return 0;  // more than one new thread: cannot tell
            found = id;
        }
    }
    return found;
}

SerialConsumer::SerialConsumer(Sink sink, std::function<void()> stall)
    : sink_(std::move(sink)), stall_(std::move(stall)), thread_([this] { run(); }) {}

SerialConsumer::~SerialConsumer() { stop(); }

void SerialConsumer::stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
}

void SerialConsumer::run() {
    // A fresh fake VM now and then, so the arrays it keeps do not pile up.
    auto jni = std::make_unique<testing::FakeJni>();
    for (std::uint64_t call = 1;; ++call) {
        const bool last = stopping_.load();
        if (stall_ && !last) stall_();
        jbyteArray array = Java_Halvix_getSerialData(jni->env(), nullptr);
        calls_.fetch_add(1);
        if (array == nullptr) {
            if (last) return;
            continue;
        }
        const std::vector<std::uint8_t> got = jni->bytes(array);
        sink_(got.data(), got.size());
        bytes_.fetch_add(got.size());
        if (call % 4096 == 0) jni = std::make_unique<testing::FakeJni>();
    }
}

}  // namespace halvix::stress
