// Any bytes as a port name, checked against a plain reading of the naming
// rule: "USB" picks the legacy channel; the rest of a name longer than three
// characters is read as "%d" reads it and counts from 1; a rest longer than
// 15 characters, or an ordinal outside 32 bits, matches no pad.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "binding/port_name.h"

namespace {

halvix::PortChoice reference(const std::string& name) {
    halvix::PortChoice choice{name.compare(0, 3, "USB") == 0, 0};
    if (name.size() <= 3) return choice;
    const std::string rest = name.substr(3);
    if (rest.size() > 15) {
        choice.ordinal = -1;
        return choice;
    }
    // strtoll finds the same number "%d" does; with at most 15 characters it
    // cannot overflow, and it tells whether the number fits 32 bits.
    char* end = nullptr;
    const long long number = std::strtoll(rest.c_str(), &end, 10);
    if (end == rest.c_str()) {
        choice.ordinal = -1;  // no number: 0 - 1
        return choice;
    }
    if (number > INT32_MAX || number - 1 < INT32_MIN) {
        choice.ordinal = -1;
        return choice;
    }
    int scanned = 0;
    if (std::sscanf(rest.c_str(), "%d", &scanned) != 1 || scanned != number) std::abort();
    choice.ordinal = static_cast<std::int32_t>(number - 1);
    return choice;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The name as the binding hands it over: zero-terminated, in a buffer
    // exactly that long, so a read past the end is caught.
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> name(new char[length + 1]);
    std::memcpy(name.get(), data, length);
    name[length] = '\0';

    const halvix::PortChoice got = halvix::parsePortName(name.get());
    const halvix::PortChoice want = reference(std::string(name.get(), length));
    if (got.legacy != want.legacy || got.ordinal != want.ordinal) {
        std::fprintf(stderr, "name \"%s\": got %d/%d, want %d/%d\n", name.get(), got.legacy,
                     got.ordinal, want.legacy, want.ordinal);
        std::abort();
    }
    return 0;
}
