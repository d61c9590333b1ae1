// Three strokes: a looping first name, a wave for the second, and an
// underline swept back under both.
#include "signature_figure.h"

#include <cmath>

namespace vbus {

namespace {

constexpr double pi = 3.14159265358979323846;

std::int32_t encode(double x, double y) {
    auto clamp = [](double v) {
        return static_cast<std::uint32_t>(v < 0x0100 ? 0x0100 : v > 0xFF00 ? 0xFF00 : v);
    };
    return static_cast<std::int32_t>((clamp(x) << 16) | clamp(y));
}

template <typename Curve>
void addStroke(std::vector<std::int32_t>& out, int points, Curve curve) {
    for (int i = 0; i < points; ++i) {
        double t = static_cast<double>(i) / (points - 1);
        double x, y;
        curve(t, x, y);
        out.push_back(encode(x, y));
    }
    out.push_back(0);  // pen lifted
}

std::vector<std::int32_t>* buildFigure() {
    auto* records = new std::vector<std::int32_t>;
    // A run of loops rising and falling, left to middle.
    addStroke(*records, 260, [](double t, double& x, double& y) {
        double a = t * 5 * 2 * pi;
        x = 0x0100 + t * 0x7400 + 0x0900 * std::cos(a + pi);
        y = 0x7000 - 0x2C00 * std::sin(a) * (1.0 - 0.4 * t) - 0x1000 * std::sin(t * pi);
    });
    // A wave, middle to right.
    addStroke(*records, 200, [](double t, double& x, double& y) {
        x = 0x8200 + t * 0x7D00;
        y = 0x6800 + 0x2400 * std::sin(t * 3.5 * 2 * pi) * std::exp(-1.2 * t);
    });
    // The underline, swept right to left with a small hook at its end.
    addStroke(*records, 140, [](double t, double& x, double& y) {
        x = 0xFF00 - t * 0xFE00;
        y = 0xC000 + 0x0800 * std::sin(t * pi) - (t > 0.9 ? (t - 0.9) * 0x20000 : 0);
    });
    return records;
}

}  // namespace

const std::vector<std::int32_t>& signatureRecords() {
    static const std::vector<std::int32_t>* records = buildFigure();  // never freed
    return *records;
}

}  // namespace vbus
