// The two lock-free queues of the library against a general-purpose
// single-producer single-consumer queue and, for the byte ring, against
// plain memcpy of the same bytes. Each comes in two shapes: one thread
// alternating between filling and draining (the cost of the operations
// themselves), and a producer thread feeding a consumer thread (the cost
// including the cache traffic between two cores).
#include <benchmark/benchmark.h>

#include <boost/lockfree/spsc_queue.hpp>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "hid/serial_ring.h"
#include "legacy/point_queue.h"

using halvix::SerialRing;

namespace {

constexpr std::uint32_t payloadSize = 7;
// Alternating shape: fill with this many payloads (4095 bytes), then drain.
constexpr std::uint32_t payloadsPerRound = 585;
// Two-thread shape: bytes streamed per benchmark iteration.
constexpr std::uint32_t streamPayloads = 1u << 18;

using ByteQueue = boost::lockfree::spsc_queue<std::uint8_t, boost::lockfree::capacity<SerialRing::storageSize>>;
using PointPeer = boost::lockfree::spsc_queue<std::int32_t, boost::lockfree::capacity<halvix::PointQueue::capacity>>;

// Payload i of a stream is source + 7 * (i % sourcePayloads): varied bytes
// whose position in the stream can be checked.
constexpr std::uint32_t sourcePayloads = 1024;
const std::array<std::uint8_t, payloadSize * sourcePayloads>& source() {
    static const auto bytes = [] {
        std::array<std::uint8_t, payloadSize * sourcePayloads> b{};
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
        return b;
    }();
    return bytes;
}
const std::uint8_t* payloadAt(std::uint32_t i) { return source().data() + payloadSize * (i % sourcePayloads); }

// Waiting for the other thread: spin briefly, then give the processor up.
// On a machine with as many busy threads as cores, pure spinning would burn
// whole time slices while the thread waited for cannot run.
class Backoff {
public:
    void wait() {
        if (++spins_ < 64) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        } else {
            std::this_thread::yield();
        }
    }

private:
    unsigned spins_ = 0;
};

template <typename Condition>
void waitWhile(Condition condition) {
    Backoff backoff;
    while (condition()) backoff.wait();
}

// The ring drops what does not fit; a benchmark producer that must not lose
// bytes offers the rest of a payload again until it is in, as it would behind
// a real pad's flow control, and as peerProduce does with the peer queue.
void ringProduce(SerialRing& ring, std::uint32_t payloads) {
    for (std::uint32_t i = 0; i < payloads; ++i) {
        const std::uint8_t* p = payloadAt(i);
        std::uint32_t done = 0;
        Backoff backoff;
        while (done < payloadSize) {
            done += halvix::acceptPayload(ring, p + done, payloadSize - done);
            if (done < payloadSize) backoff.wait();
        }
    }
}

std::uint64_t ringConsume(SerialRing& ring, std::uint64_t bytes, std::uint8_t* out, bool check) {
    std::uint64_t got = 0;
    std::uint64_t wrong = 0;
    const std::uint64_t sourceSize = source().size();
    Backoff backoff;
    while (got < bytes) {
        const std::uint32_t n = halvix::queuedBytes(ring);
        if (n == 0) {
            backoff.wait();
            continue;
        }
        backoff = Backoff();
        halvix::takeBytes(ring, out, n);
        if (check) {
            for (std::uint32_t k = 0; k < n; ++k) wrong += out[k] != source()[(got + k) % sourceSize];
        }
        got += n;
    }
    benchmark::DoNotOptimize(out);
    return wrong + (got - bytes);
}

void peerProduce(ByteQueue& queue, std::uint32_t payloads) {
    for (std::uint32_t i = 0; i < payloads; ++i) {
        const std::uint8_t* p = payloadAt(i);
        std::size_t done = 0;
        Backoff backoff;
        while (done < payloadSize) {
            done += queue.push(p + done, payloadSize - done);
            if (done < payloadSize) backoff.wait();
        }
    }
}

std::uint64_t peerConsume(ByteQueue& queue, std::uint64_t bytes, std::uint8_t* out, bool check) {
    std::uint64_t got = 0;
    std::uint64_t wrong = 0;
    const std::uint64_t sourceSize = source().size();
    Backoff backoff;
    while (got < bytes) {
        const std::size_t n = queue.pop(out, SerialRing::storageSize);
        if (n == 0) {
            backoff.wait();
            continue;
        }
        backoff = Backoff();
        if (check) {
            for (std::size_t k = 0; k < n; ++k) wrong += out[k] != source()[(got + k) % sourceSize];
        }
        got += n;
    }
    benchmark::DoNotOptimize(out);
    return wrong + (got - bytes);
}

// Streams `payloads` through with a producer thread; returns the number of
// bytes that came out wrong, missing or extra (0 when checking is off and
// the count is right).
template <typename Queue, typename Produce, typename Consume>
std::uint64_t streamTwoThreads(Queue& queue, std::uint32_t payloads, std::uint8_t* out, bool check,
                               Produce produce, Consume consume) {
    std::thread producer([&] { produce(queue, payloads); });
    const std::uint64_t bad = consume(queue, std::uint64_t{payloads} * payloadSize, out, check);
    producer.join();
    return bad;
}

// --- serial ring, one thread alternating --------------------------------

void ringAlternating(benchmark::State& state) {
    auto ring = std::make_unique<SerialRing>();
    halvix::resetRing(*ring);
    std::vector<std::uint8_t> out(SerialRing::storageSize);
    std::uint64_t bytes = 0;
    std::uint32_t next = 0;
    for (auto _ : state) {
        for (std::uint32_t i = 0; i < payloadsPerRound; ++i) {
            halvix::acceptPayload(*ring, payloadAt(next++), payloadSize);
        }
        const std::uint32_t n = halvix::queuedBytes(*ring);
        halvix::takeBytes(*ring, out.data(), n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        bytes += n;
    }
    if (bytes != std::uint64_t{payloadsPerRound} * payloadSize * state.iterations()) {
        state.SkipWithError("the ring lost bytes");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void peerBytesAlternating(benchmark::State& state) {
    auto queue = std::make_unique<ByteQueue>();
    std::vector<std::uint8_t> out(SerialRing::storageSize);
    std::uint64_t bytes = 0;
    std::uint32_t next = 0;
    for (auto _ : state) {
        for (std::uint32_t i = 0; i < payloadsPerRound; ++i) {
            queue->push(payloadAt(next++), payloadSize);
        }
        const std::size_t n = queue->pop(out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        bytes += n;
    }
    if (bytes != std::uint64_t{payloadsPerRound} * payloadSize * state.iterations()) {
        state.SkipWithError("the peer queue lost bytes");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// The ceiling: the same 7-byte copies in and one batch copy out, with no
// queue bookkeeping and no synchronisation.
void memcpyAlternating(benchmark::State& state) {
    std::vector<std::uint8_t> storage(SerialRing::storageSize);
    std::vector<std::uint8_t> out(SerialRing::storageSize);
    std::uint64_t bytes = 0;
    std::uint32_t next = 0;
    for (auto _ : state) {
        std::uint32_t at = 0;
        for (std::uint32_t i = 0; i < payloadsPerRound; ++i) {
            std::memcpy(storage.data() + at, payloadAt(next++), payloadSize);
            at += payloadSize;
        }
        benchmark::ClobberMemory();
        std::memcpy(out.data(), storage.data(), at);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        bytes += at;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// --- serial ring, producer and consumer threads --------------------------

// One checked pass first, then timed passes that only count bytes.
template <typename Queue, typename Produce, typename Consume>
void bytesTwoThreads(benchmark::State& state, Queue& queue, Produce produce, Consume consume,
                     const char* wrong, const char* lost) {
    std::vector<std::uint8_t> out(SerialRing::storageSize);
    if (streamTwoThreads(queue, 1u << 14, out.data(), true, produce, consume) != 0) {
        state.SkipWithError(wrong);
        return;
    }
    std::uint64_t bad = 0;
    for (auto _ : state) {
        bad += streamTwoThreads(queue, streamPayloads, out.data(), false, produce, consume);
    }
    if (bad != 0) state.SkipWithError(lost);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * streamPayloads * payloadSize);
}

void ringTwoThreads(benchmark::State& state) {
    auto ring = std::make_unique<SerialRing>();
    halvix::resetRing(*ring);
    bytesTwoThreads(state, *ring, ringProduce, ringConsume, "the ring delivered wrong bytes",
                    "the ring lost bytes");
}

void peerBytesTwoThreads(benchmark::State& state) {
    auto queue = std::make_unique<ByteQueue>();
    bytesTwoThreads(state, *queue, peerProduce, peerConsume, "the peer queue delivered wrong bytes",
                    "the peer queue lost bytes");
}

// --- point queue ----------------------------------------------------------

constexpr std::int32_t pairsPerIteration = 1000;

void pointsAlternating(benchmark::State& state) {
    auto queue = std::make_unique<halvix::PointQueue>();
    halvix::resetPoints(*queue);
    std::int64_t wrong = 0;
    std::int32_t value = 1;
    for (auto _ : state) {
        for (std::int32_t i = 0; i < pairsPerIteration; ++i) {
            halvix::pushPoint(*queue, value);
            wrong += halvix::takePoint(*queue) != value;
            value = value == 0x7FFFFFFF ? 1 : value + 1;
        }
    }
    if (wrong != 0) state.SkipWithError("the point queue returned wrong points");
    state.SetItemsProcessed(state.iterations() * pairsPerIteration);
}

void peerPointsAlternating(benchmark::State& state) {
    auto queue = std::make_unique<PointPeer>();
    std::int64_t wrong = 0;
    std::int32_t value = 1;
    for (auto _ : state) {
        for (std::int32_t i = 0; i < pairsPerIteration; ++i) {
            queue->push(value);
            std::int32_t got = 0;
            queue->pop(got);
            wrong += got != value;
            value = value == 0x7FFFFFFF ? 1 : value + 1;
        }
    }
    if (wrong != 0) state.SkipWithError("the peer queue returned wrong points");
    state.SetItemsProcessed(state.iterations() * pairsPerIteration);
}

constexpr std::int32_t streamPoints = 1 << 20;

void pointsTwoThreads(benchmark::State& state) {
    auto queue = std::make_unique<halvix::PointQueue>();
    halvix::resetPoints(*queue);
    std::int64_t wrong = 0;
    for (auto _ : state) {
        std::thread producer([&] {
            for (std::int32_t v = 1; v <= streamPoints; ++v) {
                // A full queue drops points; offer it again until it is in.
                waitWhile([&] { return !halvix::pushPoint(*queue, v); });
            }
        });
        Backoff backoff;
        for (std::int32_t expect = 1; expect <= streamPoints;) {
            const std::int32_t got = halvix::takePoint(*queue);
            if (got == 0) {
                backoff.wait();
                continue;
            }
            backoff = Backoff();
            wrong += got != expect;
            ++expect;
        }
        producer.join();
    }
    if (wrong != 0) state.SkipWithError("the point queue returned wrong points");
    state.SetItemsProcessed(state.iterations() * streamPoints);
}

void peerPointsTwoThreads(benchmark::State& state) {
    auto queue = std::make_unique<PointPeer>();
    std::int64_t wrong = 0;
    for (auto _ : state) {
        std::thread producer([&] {
            for (std::int32_t v = 1; v <= streamPoints; ++v) {
                waitWhile([&] { return !queue->push(v); });
            }
        });
        Backoff backoff;
        for (std::int32_t expect = 1; expect <= streamPoints;) {
            std::int32_t got = 0;
            if (!queue->pop(got)) {
                backoff.wait();
                continue;
            }
            backoff = Backoff();
            wrong += got != expect;
            ++expect;
        }
        producer.join();
    }
    if (wrong != 0) state.SkipWithError("the peer queue returned wrong points");
    state.SetItemsProcessed(state.iterations() * streamPoints);
}

}  // namespace

BENCHMARK(ringAlternating);
BENCHMARK(peerBytesAlternating);
BENCHMARK(memcpyAlternating);
BENCHMARK(ringTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(peerBytesTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(pointsAlternating);
BENCHMARK(peerPointsAlternating);
BENCHMARK(pointsTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(peerPointsTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);
