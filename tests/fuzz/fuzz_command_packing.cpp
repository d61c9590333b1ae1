// Any command, cut into output reports as the writer does, checked by
// unpacking: report ID 0, counts of 7 but for the last, zero filler, and the
// bytes back in order with nothing lost or added.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "hid/command_writer.h"

namespace {

void check(bool ok, const char* what, std::size_t at) {
    if (!ok) {
        std::fprintf(stderr, "report at command byte %zu: %s\n", at, what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the command is caught.
    std::unique_ptr<std::uint8_t[]> command(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(command.get(), data, size);

    std::vector<std::uint8_t> unpacked;
    std::size_t reports = 0;
    for (std::size_t at = 0; at < size; ++reports) {
        const auto left = static_cast<std::int32_t>(size - at);
        const halvix::OutputReport report = halvix::packReport(command.get() + at, left);
        const std::size_t n = report[1];
        check(report[0] == 0, "report ID is not 0", at);
        check(n == static_cast<std::size_t>(left < 7 ? left : 7), "wrong count", at);
        for (std::size_t i = 2 + n; i < report.size(); ++i) check(report[i] == 0, "filler is not zero", at);
        unpacked.insert(unpacked.end(), report.begin() + 2, report.begin() + 2 + static_cast<std::ptrdiff_t>(n));
        at += n;
    }
    check(reports == (size + 6) / 7, "number of reports", size);
    check(unpacked.size() == size && (size == 0 || std::memcmp(unpacked.data(), data, size) == 0),
          "bytes do not unpack to the command", 0);
    return 0;
}
