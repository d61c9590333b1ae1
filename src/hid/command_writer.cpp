#include "hid/command_writer.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_channel.h"

namespace halvix {

OutputReport packReport(const std::uint8_t* bytes, std::int32_t length) {
    OutputReport report{};
    const std::int32_t n = std::min(length, commandBytesPerReport);
    report[1] = static_cast<std::uint8_t>(n);
    std::memcpy(report.data() + 2, bytes, static_cast<std::size_t>(n));
    return report;
}

void sendCommand(const std::uint8_t* bytes, std::int32_t length) {
    HANDLE pad = hidPadSlot().writeHandle.load();
    while (length > 0) {
        const OutputReport report = packReport(bytes, length);
        DWORD written = 0;
        WriteFile(pad, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
        bytes += report[1];
        length -= report[1];
    }
}

}  // namespace halvix
