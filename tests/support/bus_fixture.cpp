#include "support/bus_fixture.h"

#include <thread>

#include "hid/hid_channel.h"
#include "legacy/legacy_channel.h"

namespace halvix::testing {

void BusTest::SetUp() {
    vbus::restoreDefaultPopulation();
    drainQueues();
    handlesAtStart = vbus::openHandleCount();
}

void BusTest::TearDown() {
    Java_Halvix_closeUsbPort(jni.env(), nullptr);
    EXPECT_TRUE(vbus::waitForThreadsToEnd(2000)) << "a reader thread outlived its port";
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart) << "handles left open";
    vbus::restoreDefaultPopulation();
}

bool BusTest::open(const std::string& name) {
    return Java_Halvix_openUsbPort(jni.env(), nullptr, jni.string(name)) == JNI_TRUE;
}

void BusTest::close() { EXPECT_EQ(Java_Halvix_closeUsbPort(jni.env(), nullptr), JNI_TRUE); }

std::vector<std::uint8_t> BusTest::readSerial(std::size_t bytes, unsigned ms) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < bytes && std::chrono::steady_clock::now() < deadline) {
        jbyteArray a = Java_Halvix_getSerialData(jni.env(), nullptr);
        if (a == nullptr) continue;
        auto more = jni.bytes(a);
        got.insert(got.end(), more.begin(), more.end());
    }
    return got;
}

void BusTest::drainQueues() {
    SerialRing& ring = serialRing();
    std::vector<std::uint8_t> sink(SerialRing::storageSize);
    takeBytes(ring, sink.data(), queuedBytes(ring));
    while (takePoint(pointQueue()) != 0) {
    }
}

bool eventually(const std::function<bool()>& condition, unsigned ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

double millisecondsOf(const std::function<void()>& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace halvix::testing
