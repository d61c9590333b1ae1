// The fixture of the tests that drive the library over the virtual bus: each
// test starts from the default population with no port open, and must leave
// no port, handle or thread behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "binding/natives.h"
#include "support/fake_jni.h"
#include "vbus_control.h"

namespace halvix::testing {

class BusTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    bool open(const std::string& name);
    void close();
    // Everything getSerialData hands out until `bytes` have come or `ms` pass.
    std::vector<std::uint8_t> readSerial(std::size_t bytes, unsigned ms = 2000);
    // Empties the serial ring and the point queue left by earlier tests.
    void drainQueues();

    FakeJni jni;
    std::size_t handlesAtStart = 0;
};

// Polls `condition` every millisecond until it holds or `ms` pass.
bool eventually(const std::function<bool()>& condition, unsigned ms = 2000);

// Milliseconds `action` took.
double millisecondsOf(const std::function<void()>& action);

}  // namespace halvix::testing
