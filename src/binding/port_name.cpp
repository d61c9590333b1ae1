#include "binding/port_name.h"

#include <cstring>

namespace halvix {

namespace {

constexpr std::size_t suffixLimit = 15;  // the suffix is scanned from a 16-byte copy
constexpr std::int32_t noPad = -1;

bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

PortChoice parsePortName(const char* name) {
    PortChoice choice{false, 0};
    if (name == nullptr) return choice;
    const std::size_t length = std::strlen(name);
    choice.legacy = length >= 3 && std::strncmp(name, "USB", 3) == 0;
    if (length <= 3) return choice;

    const char* suffix = name + 3;
    if (length - 3 > suffixLimit) {
        choice.ordinal = noPad;
        return choice;
    }
    std::int64_t number = 0;
    const char* p = suffix;
    while (isScanSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        digits = true;
        number = number * 10 + (*p - '0');  // at most 15 digits: no overflow in 64 bits
    }
    if (!digits) number = 0;
    if (negative) number = -number;
    const std::int64_t ordinal = number - 1;
    choice.ordinal = (number > INT32_MAX || ordinal < INT32_MIN) ? noPad
                                                                 : static_cast<std::int32_t>(ordinal);
    return choice;
}

}  // namespace halvix
