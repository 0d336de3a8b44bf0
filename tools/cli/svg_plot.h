#pragma once
// A line plot as plain SVG text, for the calibration's angle error. Pure: no I/O.

#include <string>
#include <vector>

namespace kinetra::cli {

/// One line of the plot: points (x[i], y[i]); points that are not finite are left out.
struct PlotSeries {
    std::string label;
    std::string colour;  ///< any SVG colour, e.g. "#1f77b4"
    std::vector<double> x;
    std::vector<double> y;
};

struct PlotLabels {
    std::string title;
    std::string x_axis;
    std::string y_axis;
};

/// The SVG document: axes with round-numbered ticks covering every series, the y
/// axis symmetric about zero, one polyline per series, a legend. Texts are
/// XML-escaped. An empty or all non-finite input still gives a valid document.
std::string linePlotSvg(const std::vector<PlotSeries>& series, const PlotLabels& labels);

/// A round tick step (1, 2 or 5 times a power of ten) that cuts `span` into at
/// most `max_ticks` intervals; 1 for a span that is not positive.
double tickStep(double span, int max_ticks);

/// Whether a file name ends in ".svg", in any case.
bool endsWithSvg(const std::string& name);

}  // namespace kinetra::cli
