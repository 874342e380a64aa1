#include "output/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kvd::tool {
namespace {

constexpr double kWidth = 960, kHeight = 540;
constexpr double kLeft = 80, kRight = 130, kTop = 50, kBottom = 60;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
constexpr double kFullScale = 65535;
constexpr const char *kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                    "#9467bd", "#8c564b", "#e377c2", "#7f7f7f"};

std::string format(const char *pattern, double a, double b = 0, double c = 0, double d = 0) {
    std::string text(std::snprintf(nullptr, 0, pattern, a, b, c, d), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, a, b, c, d);
    return text;
}

double yOf(double code) { return kTop + (kFullScale - code) / kFullScale * kPlotHeight; }

// A tick step of 1, 2 or 5 times a power of ten giving about five ticks.
double tickStep(double span) {
    const double rough = span / 5;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (rough <= factor * power)
            return factor * power;
    return 10 * power;
}

std::string escaped(const std::string &text) {
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

std::string codeAxis() {
    std::string svg;
    for (double code : {0.0, 16384.0, 32768.0, 49152.0, 65535.0}) {
        const double y = yOf(code);
        svg += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#dddddd\"/>\n", kLeft, y,
                      kLeft + kPlotWidth, y);
        svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.0f</text>\n", kLeft - 6, y + 4, code);
    }
    svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 %.1f %.1f)\">",
                  18, kTop + kPlotHeight / 2, 18, kTop + kPlotHeight / 2);
    return svg + "code (32768 is zero)</text>\n";
}

std::string timeAxis(double seconds) {
    std::string svg;
    const double span = seconds > 0 ? seconds : 1;
    const double step = tickStep(span);
    for (double t = 0; t <= span * (1 + 1e-9); t += step) {
        const double x = kLeft + t / span * kPlotWidth;
        svg += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#dddddd\"/>\n", x, kTop, x,
                      kTop + kPlotHeight);
        svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", x, kTop + kPlotHeight + 18, t);
    }
    svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", kLeft + kPlotWidth / 2, kHeight - 15);
    return svg + "time (s)</text>\n";
}

} // namespace

SvgPlot::SvgPlot(std::string path) : file_(std::move(path)) {}

void SvgPlot::begin(const AcquisitionInfo &info) {
    info_ = info;
    scansPerColumn_ = std::max<uint64_t>(1, (info.plannedScans + uint64_t(kPlotWidth) - 1) / uint64_t(kPlotWidth));
    columns_.assign(info.channelCount(), {});
}

void SvgPlot::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    const uint32_t channels = info_.channelCount();
    for (size_t scan = 0; scan < scans; ++scan) {
        const size_t column = size_t((firstScan + scan) / scansPerColumn_);
        for (uint32_t channel = 0; channel < channels; ++channel) {
            std::vector<Column> &line = columns_[channel];
            if (line.size() <= column)
                line.resize(column + 1);
            const uint16_t code = sampleValue(samples[scan * channels + channel]);
            line[column].low = std::min(line[column].low, code);
            line[column].high = std::max(line[column].high, code);
        }
    }
}

// Each column becomes a vertical stroke from its lowest to its highest code,
// joined to the next: the envelope of the signal at this resolution.
std::string SvgPlot::channelPath(uint32_t channel, uint64_t scans) const {
    std::string d;
    const double span = double(std::max<uint64_t>(scans, 2) - 1);
    const std::vector<Column> &line = columns_[channel];
    for (size_t column = 0; column < line.size(); ++column) {
        const double x = kLeft + double(column * scansPerColumn_) / span * kPlotWidth;
        d += format(d.empty() ? "M%.1f %.1f" : " L%.1f %.1f", x, yOf(line[column].low));
        if (line[column].high != line[column].low)
            d += format(" L%.1f %.1f", x, yOf(line[column].high));
    }
    return d;
}

std::string SvgPlot::picture(const AcquisitionOutcome &outcome) const {
    const double seconds = double(outcome.scans > 0 ? outcome.scans - 1 : 0) / info_.scanRate();
    std::string svg = format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                             "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                             kWidth, kHeight, kWidth, kHeight);
    svg += format("<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kWidth, kHeight);
    const std::string title = "KVD4093 card " + std::to_string(info_.logicalNumber) + " (physical ID " +
                              std::to_string(info_.physicalId) + "), " + format("%.0f", info_.sampleRate) +
                              " samples/s, " + std::to_string(outcome.scans) + " scans from " + info_.startTime +
                              (outcome.stoppedBySignal() ? " (stopped early)" : "");
    svg += format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\">", kLeft, 28) + escaped(title) + "</text>\n";
    svg += codeAxis() + timeAxis(seconds);
    svg += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"black\"/>\n",
                  kLeft, kTop, kPlotWidth, kPlotHeight);
    for (uint32_t channel = 0; channel < info_.channelCount(); ++channel) {
        const char *colour = kColours[channel % std::size(kColours)];
        svg += std::string("<path fill=\"none\" stroke-width=\"1\" stroke=\"") + colour + "\" d=\"" +
               channelPath(channel, outcome.scans) + "\"/>\n";
        const double y = kTop + 10 + 18 * channel;
        svg += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke-width=\"3\" ", kWidth - kRight + 15,
                      y, kWidth - kRight + 40, y) +
               "stroke=\"" + colour + "\"/>\n";
        svg += format("<text x=\"%.1f\" y=\"%.1f\">ch %.0f</text>\n", kWidth - kRight + 46, y + 4,
                      info_.channel(channel));
    }
    return svg + "</svg>\n";
}

void SvgPlot::finish(const AcquisitionOutcome &outcome) {
    if (!outcome.keepsFiles())
        return; // nothing acquired: an earlier picture stays as it was
    file_.keepWanted();
    file_.write(picture(outcome));
    file_.close();
    file_.commit();
}

} // namespace kvd::tool
