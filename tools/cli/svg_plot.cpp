#include "cli/svg_plot.h"

#include <cctype>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kinetra::cli {

namespace {

constexpr double kWidth = 800, kHeight = 420;
constexpr double kLeft = 70, kRight = 20, kTop = 40, kBottom = 60;

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Tick labels: as many decimals as the step needs, and no "-0".
std::string tickLabel(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(value) < step * 1e-6 ? 0.0 : value);
    return text;
}

struct Range {
    double lo = 0, hi = 0;
    bool empty = true;
    void take(double v) {
        if (empty) {
            lo = hi = v;
            empty = false;
        } else {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
};

}  // namespace

double tickStep(double span, int max_ticks) {
    if (!(span > 0) || !std::isfinite(span) || max_ticks < 1) return 1;
    const double raw = span / max_ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw) return factor * power;
    }
    return 10 * power;
}

std::string linePlotSvg(const std::vector<PlotSeries>& series, const PlotLabels& labels) {
    Range xs, ys;
    for (const PlotSeries& s : series) {
        for (std::size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i) {
            if (!std::isfinite(s.x[i]) || !std::isfinite(s.y[i])) continue;
            xs.take(s.x[i]);
            ys.take(std::abs(s.y[i]));
        }
    }
    // The x axis from its round tick below the data to the one above; the y axis
    // symmetric, so that before and after compare at a glance.
    const double x_step = tickStep(xs.empty ? 1 : xs.hi - xs.lo, 8);
    const double x_lo = xs.empty ? 0 : std::floor(xs.lo / x_step) * x_step;
    double x_hi = xs.empty ? 1 : std::ceil(xs.hi / x_step) * x_step;
    if (x_hi <= x_lo) x_hi = x_lo + x_step;
    const double y_step = tickStep(ys.empty || ys.hi == 0 ? 1 : 2 * ys.hi, 8);
    const double y_max = ys.empty || ys.hi == 0 ? y_step : std::ceil(ys.hi / y_step) * y_step;

    const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
    auto px = [&](double x) { return kLeft + (x - x_lo) / (x_hi - x_lo) * plot_w; };
    auto py = [&](double y) { return kTop + (y_max - y) / (2 * y_max) * plot_h; };

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
                      number(kHeight) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(kHeight) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + number(kWidth / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" +
           escaped(labels.title) + "</text>\n";
    // Grid and tick labels.
    for (int i = 0; x_lo + i * x_step <= x_hi + x_step * 1e-9; ++i) {
        const double x = x_lo + i * x_step;
        svg += "<line x1=\"" + number(px(x)) + "\" y1=\"" + number(kTop) + "\" x2=\"" + number(px(x)) + "\" y2=\"" +
               number(kTop + plot_h) + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + number(px(x)) + "\" y=\"" + number(kTop + plot_h + 16) +
               "\" text-anchor=\"middle\">" + tickLabel(x, x_step) + "</text>\n";
    }
    for (int i = 0; -y_max + i * y_step <= y_max + y_step * 1e-9; ++i) {
        const double y = -y_max + i * y_step;
        svg += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(py(y)) + "\" x2=\"" + number(kLeft + plot_w) +
               "\" y2=\"" + number(py(y)) + "\" stroke=\"" + (std::abs(y) < y_step * 1e-9 ? "#888" : "#ddd") +
               "\"/>\n";
        svg += "<text x=\"" + number(kLeft - 6) + "\" y=\"" + number(py(y) + 4) + "\" text-anchor=\"end\">" +
               tickLabel(y, y_step) + "</text>\n";
    }
    svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" + number(plot_w) +
           "\" height=\"" + number(plot_h) + "\" fill=\"none\" stroke=\"#333\"/>\n";
    svg += "<text x=\"" + number(kLeft + plot_w / 2) + "\" y=\"" + number(kHeight - 14) +
           "\" text-anchor=\"middle\">" + escaped(labels.x_axis) + "</text>\n";
    svg += "<text transform=\"translate(18 " + number(kTop + plot_h / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + escaped(labels.y_axis) + "</text>\n";
    // The lines and the legend.
    for (std::size_t k = 0; k < series.size(); ++k) {
        const PlotSeries& s = series[k];
        svg += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" + escaped(s.colour) + "\" points=\"";
        bool first = true;
        for (std::size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i) {
            if (!std::isfinite(s.x[i]) || !std::isfinite(s.y[i])) continue;
            svg += (first ? "" : " ") + number(px(s.x[i])) + "," + number(py(s.y[i]));
            first = false;
        }
        svg += "\"/>\n";
        const double ly = kTop + 14 + 16 * static_cast<double>(k);
        const double lx = kLeft + plot_w - 150;
        svg += "<line x1=\"" + number(lx) + "\" y1=\"" + number(ly - 4) + "\" x2=\"" + number(lx + 24) +
               "\" y2=\"" + number(ly - 4) + "\" stroke-width=\"2\" stroke=\"" + escaped(s.colour) + "\"/>\n";
        svg += "<text x=\"" + number(lx + 30) + "\" y=\"" + number(ly) + "\">" + escaped(s.label) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

bool endsWithSvg(const std::string& name) {
    const std::string suffix = ".svg";
    if (name.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = name[name.size() - suffix.size() + i];
        if (static_cast<char>(std::tolower(static_cast<unsigned char>(c))) != suffix[i]) return false;
    }
    return true;
}

}  // namespace kinetra::cli
