#include "hid/serial_ring.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace halvix {
namespace {

class RingTest : public ::testing::Test {
protected:
    void SetUp() override { resetRing(*ring); }

    void fillTo(std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) pushByte(*ring, static_cast<std::uint8_t>(i));
    }

    std::vector<std::uint8_t> drain() {
        std::vector<std::uint8_t> out(queuedBytes(*ring));
        takeBytes(*ring, out.data(), static_cast<std::uint32_t>(out.size()));
        return out;
    }

    std::unique_ptr<SerialRing> ring = std::make_unique<SerialRing>();
    const std::uint8_t payload[7] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
};

TEST_F(RingTest, CountNibbleSelectsPayloadBytes) {
    struct Case {
        std::uint8_t countByte;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0x00, 0}, {0x01, 1}, {0x03, 3}, {0x07, 7},
        {0xF5, 5},  // the high four bits are not examined
        {0x08, 7},  // a count above 7 still means the 7 bytes a report carries
        {0x0F, 7}, {0xFF, 7},
    };
    for (const Case& c : cases) {
        resetRing(*ring);
        acceptPayload(*ring, payload, c.countByte & 0x0F);
        auto got = drain();
        ASSERT_EQ(got.size(), c.expected) << "count byte " << int(c.countByte);
        EXPECT_EQ(got, std::vector<std::uint8_t>(payload, payload + c.expected))
            << "count byte " << int(c.countByte);
    }
}

TEST_F(RingTest, AcceptsOnlyBelowTheLimit) {
    struct Case {
        std::uint32_t queued;
        std::uint32_t added;
    };
    const Case cases[] = {
        {SerialRing::acceptLimit - 8, 7},
        {SerialRing::acceptLimit - 7, 7},
        {SerialRing::acceptLimit - 3, 3},  // three bytes of room: three added, four dropped
        {SerialRing::acceptLimit - 1, 1},
        {SerialRing::acceptLimit, 0},      // full: nothing added
    };
    for (const Case& c : cases) {
        resetRing(*ring);
        fillTo(c.queued);
        acceptPayload(*ring, payload, 7);
        EXPECT_EQ(queuedBytes(*ring), c.queued + c.added) << "queued " << c.queued;
        auto got = drain();
        EXPECT_EQ(std::vector<std::uint8_t>(got.end() - c.added, got.end()),
                  std::vector<std::uint8_t>(payload, payload + c.added))
            << "queued " << c.queued;
    }
}

TEST_F(RingTest, KeepsOrderAcrossTheWrap) {
    // Walk the positions close to the end of the storage, then write across it.
    for (int step = 0; step < 3; ++step) {
        fillTo(10000);
        drain();
    }
    const std::uint32_t start = ring->writePosition.load();
    ASSERT_GT(start, SerialRing::storageSize - 10000);
    std::vector<std::uint8_t> sent;
    for (int report = 0; report < 3000; ++report) {
        std::uint8_t bytes[7];
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(sent.size() * 7 + 3);
            sent.push_back(b);
        }
        acceptPayload(*ring, bytes, 7);
    }
    EXPECT_LT(ring->writePosition.load(), start) << "the writes did not wrap";
    EXPECT_EQ(drain(), sent);
}

TEST_F(RingTest, TakeByteAndTakeBytesAgree) {
    std::vector<std::uint8_t> one, many;
    auto copy = std::make_unique<SerialRing>();
    resetRing(*copy);
    for (int i = 0; i < 5000; ++i) {
        acceptPayload(*ring, payload, static_cast<unsigned>(i % 8));
        acceptPayload(*copy, payload, static_cast<unsigned>(i % 8));
    }
    while (queuedBytes(*ring) > 0) one.push_back(takeByte(*ring));
    many.resize(queuedBytes(*copy));
    takeBytes(*copy, many.data(), static_cast<std::uint32_t>(many.size()));
    EXPECT_EQ(one, many);
    EXPECT_EQ(queuedBytes(*copy), 0u);
}

}  // namespace
}  // namespace halvix
