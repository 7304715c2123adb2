// Internal to src/report: text helpers for the page, an element writer, and inline SVG charts
// (line chart with one or two y axes, bar chart, stacked bars) written element by element through
// that writer. The functions are pure: strings in, strings out, same input gives the same bytes.
// Sizes are in CSS pixels; every chart is WIDTH wide, to fit the printable width of an A4 page.
//
// Each chart is an <svg class="chart" data-chart="KIND" role="img" aria-label="TITLE"> whose
// <g class="plot"> holds the plot area: grid lines in grey and the data marks in colour, one
// element of class "mark" with data-series="S" for each value of series S (points of a line,
// bars, segments of a stacked bar). Legends and axes stand outside the plot group.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kinstrom::svg {

inline constexpr int WIDTH = 680;

// Text and attribute values escaped for HTML (& < > " '); control characters other than tab and
// line ends become U+FFFD.
std::string escape(std::string_view text);

// One attribute of an element. An attribute without a name is a blank: it writes a lone space
// where an attribute would stand.
struct Attr {
    std::string_view name;
    std::string value;
};
using Attrs = std::vector<Attr>;

// Writes elements into one string: every attribute value and every text escaped (escape()),
// element and attribute names written as given, attributes in the order listed.
class Writer {
  public:
    void open(std::string_view name, const Attrs& attrs);  // <name a="v">
    void leaf(std::string_view name, const Attrs& attrs);  // <name a="v"/>
    void close(std::string_view name);                     // </name>
    void text(std::string_view content);
    // <name a="v">content</name>
    void element(std::string_view name, const Attrs& attrs, std::string_view content);
    void newline();
    const std::string& str() const { return out_; }

  private:
    void start(std::string_view name, const Attrs& attrs);
    std::string out_;
};

// `value` with `decimals` digits after the point, no locale; "-0.00" prints as "0.00".
std::string fixed(double value, int decimals);

// A value as the page shows it: fixed() when finite, else "inf", "-inf" or "not finite" (NaN).
std::string value_text(double value, int decimals);

// An integer with commas between groups of three digits: 1,234,567.
std::string grouped(long long value);

// At most `max_chars` characters (UTF-8 code points) of `text`, an ellipsis marking a cut.
std::string shorten(std::string_view text, std::size_t max_chars);

// Tick marks at 1, 2 or 5 times a power of ten, about `target` of them, covering [lo, hi] (the
// domain widened to whole steps).
struct Ticks {
    double lo = 0;
    double hi = 1;
    double step = 1;
    int decimals = 0;
    std::vector<double> values;
};
Ticks nice_ticks(double lo, double hi, int target);

struct Series {
    std::string name;
    std::string colour;
    std::string dash;   // stroke-dasharray of a line series, empty for solid
    char marker = 'o';  // line series: 'o' circle, 's' square, 'd' diamond
    int axis = 0;       // line series: 0 left axis, 1 right axis
    // One per x or category; nullopt: no value. A bar whose value is not finite is not drawn;
    // its tooltip says what it is (value_text).
    std::vector<std::optional<double>> values;
};

struct Chart {
    std::string kind;   // data-chart attribute
    std::string title;  // <title> and aria-label
    std::string x_label;
    std::string y_label[2];  // left and right axis titles (right one only for line charts)
    int value_decimals = 2;  // decimals of values in tooltips
    std::string value_unit;  // appended to values in tooltips, e.g. " %"
    std::vector<Series> series;
    double right_limit = 0;  // the right axis runs no higher (100 for shares in %); 0: no limit
    // Line charts: the names of the x values in tooltips (a range of birth years); empty: the
    // x values themselves.
    std::vector<std::string> x_names = {};
};

// Points joined by lines over numeric x (birth years, generations). Series with axis 1 use a
// right axis of their own: on the grid lines of the left axis where that keeps it within the
// chart's right_limit (a round number) and its values, else up to the limit in steps of its own,
// those off the grid lines marked by a tick.
std::string line_chart(const Chart& chart, const std::vector<double>& x);

// Bars over categories; with more than one series the bars are stacked. `y_top` is the least top
// of the y axis (100 for shares in %). A bar with a value above 0 is at least 1 px tall.
std::string bar_chart(const Chart& chart, const std::vector<std::string>& categories, double y_top);

}  // namespace kinstrom::svg
