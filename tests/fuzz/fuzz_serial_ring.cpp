// Any sequence of reports and drains on a local serial ring, checked against
// a plain model: a byte queue that takes a report's first min(count, 7) bytes
// while it holds fewer than 32758, cutting the payload off at that limit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "hid/serial_ring.h"

namespace {

constexpr std::size_t limit = halvix::SerialRing::acceptLimit;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ring and model differ: %s\n", what);
        std::abort();
    }
}

// Reads the input as a little program; running out of bytes ends it.
class Program {
public:
    Program(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto ring = std::make_unique<halvix::SerialRing>();
    halvix::resetRing(*ring);
    std::deque<std::uint8_t> model;
    std::vector<std::uint8_t> out;
    Program program(data, size);
    std::uint8_t filler = 0;

    while (program.more()) {
        const std::uint8_t op = program.next();
        switch (op >> 6) {
            case 0:
            case 1: {  // one report: count nibble from the op, payload from the input
                std::uint8_t payload[halvix::SerialRing::maxPayload];
                for (auto& b : payload) b = program.next();
                const unsigned count = op & 0x0F;
                halvix::acceptPayload(*ring, payload, count);
                const unsigned carried = std::min(count, 7u);
                for (unsigned i = 0; i < carried && model.size() < limit; ++i) model.push_back(payload[i]);
                break;
            }
            case 2: {  // many 7-byte reports, enough to reach the limit and wrap
                const unsigned reports = 1 + (op & 0x3F) * 16;
                for (unsigned r = 0; r < reports; ++r) {
                    std::uint8_t payload[7];
                    for (auto& b : payload) b = filler++;
                    halvix::acceptPayload(*ring, payload, 7);
                    for (unsigned i = 0; i < 7 && model.size() < limit; ++i) model.push_back(payload[i]);
                }
                break;
            }
            default: {  // drain some, one byte at a time or in one go
                const std::size_t want = (op & 0x1F) == 0x1F ? model.size()
                                                             : (op & 0x1F) * 97u + program.next();
                const std::size_t n = std::min(want, model.size());
                check(halvix::queuedBytes(*ring) == model.size(), "count before a drain");
                out.assign(n, 0);
                if (op & 0x20) {
                    halvix::takeBytes(*ring, out.data(), static_cast<std::uint32_t>(n));
                } else {
                    for (auto& b : out) b = halvix::takeByte(*ring);
                }
                check(std::equal(out.begin(), out.end(), model.begin()), "bytes drained");
                model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(n));
                break;
            }
        }
        check(halvix::queuedBytes(*ring) == model.size(), "count");
        check(model.size() <= limit, "the model itself");
    }
    return 0;
}
