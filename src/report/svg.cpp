#include "report/svg.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kinstrom::svg {

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string fixed(double value, int decimals) {
    char buf[64];
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "?";
    std::string out(buf, end);
    if (out[0] == '-' && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
    return out;
}

std::string value_text(double value, int decimals) {
    if (std::isfinite(value)) return fixed(value, decimals);
    return value > 0 ? "inf" : value < 0 ? "-inf" : "not finite";
}

std::string grouped(long long value) {
    unsigned long long magnitude = static_cast<unsigned long long>(value);
    std::string digits = std::to_string(value < 0 ? 0 - magnitude : magnitude);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string shorten(std::string_view text, std::size_t max_chars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++chars > max_chars) return std::string(text.substr(0, i)) + "\xE2\x80\xA6";
    }
    return std::string(text);
}

void Writer::start(std::string_view name, const Attrs& attrs) {
    out_ += '<';
    out_ += name;
    for (const Attr& a : attrs) {
        out_ += ' ';
        if (a.name.empty()) continue;
        out_ += a.name;
        out_ += "=\"";
        out_ += escape(a.value);
        out_ += '"';
    }
}

void Writer::open(std::string_view name, const Attrs& attrs) {
    start(name, attrs);
    out_ += '>';
}

void Writer::leaf(std::string_view name, const Attrs& attrs) {
    start(name, attrs);
    out_ += "/>";
}

void Writer::close(std::string_view name) {
    out_ += "</";
    out_ += name;
    out_ += '>';
}

void Writer::text(std::string_view content) {
    out_ += escape(content);
}

void Writer::element(std::string_view name, const Attrs& attrs, std::string_view content) {
    open(name, attrs);
    text(content);
    close(name);
}

void Writer::newline() {
    out_ += '\n';
}

namespace {

// The decimals that print every multiple of `step` exactly.
int decimals_of(double step) {
    for (int d = 0; d < 9; ++d) {
        double scaled = step * std::pow(10.0, d);
        if (std::abs(scaled - std::round(scaled)) < 1e-6 * scaled) return d;
    }
    return 9;
}

// The least of 1, 2, 5 (and 2.5 when `quarter`) times a power of ten that is at least `rough`.
double nice_step(double rough, bool quarter = false) {
    double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    for (double f : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (f == 2.5 && !quarter) continue;
        if (f * magnitude >= rough * (1 - 1e-9)) return f * magnitude;
    }
    return 10 * magnitude;
}

Ticks ticks_from(double lo, double step, long long count) {
    Ticks t;
    t.step = step;
    t.decimals = decimals_of(step);
    t.lo = lo;
    t.hi = lo + static_cast<double>(count) * step;
    for (long long i = 0; i <= count; ++i) t.values.push_back(lo + static_cast<double>(i) * step);
    return t;
}

// About 7 px per character of 12 px text: enough to lay out legends and labels.
double text_width(std::string_view text, double font_px) {
    std::size_t chars = 0;
    for (char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return static_cast<double>(chars) * font_px * 0.58;
}

std::string num(double v) {
    return fixed(v, 1);
}

// The plot area of a chart, in pixels from the top left corner of the chart.
struct Area {
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
};

// The pixel row of value `v` on an axis with ticks `t`.
double y_of(const Ticks& t, const Area& a, double v) {
    return a.bottom - (v - t.lo) / (t.hi - t.lo) * (a.bottom - a.top);
}

struct TextStyle {
    std::string_view anchor;  // text-anchor
    int size = 12;            // font-size
    std::string_view fill;
};
constexpr TextStyle TITLE{"middle", 12, "#222"};
constexpr TextStyle LEGEND{"start", 12, "#222"};
constexpr TextStyle TICK{"middle", 11, "#444"};
constexpr TextStyle TICK_LEFT{"end", 11, "#444"};
constexpr TextStyle TICK_RIGHT{"start", 11, "#444"};
constexpr TextStyle VALUE{"middle", 11, "#333"};

// A line of text at (x, y), then a line end; `extra` follows the style's attributes.
void text_el(Writer& w, double x, double y, const TextStyle& style, std::string_view text,
             const Attrs& extra = {}) {
    Attrs attrs{{"x", num(x)},
                {"y", num(y)},
                {"text-anchor", std::string(style.anchor)},
                {"font-size", std::to_string(style.size)},
                {"fill", std::string(style.fill)}};
    attrs.insert(attrs.end(), extra.begin(), extra.end());
    w.element("text", attrs, text);
    w.newline();
}

void line_el(Writer& w, double x1, double y1, double x2, double y2, std::string_view stroke) {
    w.leaf("line", {{"x1", num(x1)},
                    {"y1", num(y1)},
                    {"x2", num(x2)},
                    {"y2", num(y2)},
                    {"stroke", std::string(stroke)}});
    w.newline();
}

const char* marker_name(char marker) {
    return marker == 's' ? "rect" : marker == 'd' ? "path" : "circle";
}

// The outline of a diamond marker centred on (x, y): top, right, bottom, left.
std::string diamond(double x, double y) {
    std::string d = "M";
    d += num(x) + " " + num(y - 5.5) + "L" + num(x + 5.5) + " " + num(y) + "L" + num(x) + " " +
         num(y + 5.5) + "L" + num(x - 5.5) + " " + num(y) + "Z";
    return d;
}

// Opens the marker of series `s` centred on (x, y): a circle, a square or a diamond. `attrs` come
// first: the plot's marks carry their class and series, the legend's a blank.
void open_marker(Writer& w, const Series& s, double x, double y, Attrs attrs) {
    switch (s.marker) {
        case 's':
            attrs.insert(attrs.end(),
                         {{"x", num(x - 4)}, {"y", num(y - 4)}, {"width", "8"}, {"height", "8"}});
            break;
        case 'd':
            attrs.push_back({"d", diamond(x, y)});
            break;
        default:
            attrs.insert(attrs.end(), {{"cx", num(x)}, {"cy", num(y)}, {"r", "4.5"}});
    }
    attrs.insert(attrs.end(), {{"fill", s.colour}, {"stroke", "#fff"}, {"stroke-width", "1"}});
    w.open(marker_name(s.marker), attrs);
}

// The stroke of a line series: its colour, 2 px wide, dashed when it has a dash pattern.
void add_stroke(Attrs& attrs, const Series& s) {
    attrs.insert(attrs.end(), {{"stroke", s.colour}, {"stroke-width", "2"}});
    if (!s.dash.empty()) attrs.push_back({"stroke-dasharray", s.dash});
}

// The legend above the plot: one item a series, in rows that fit WIDTH.
struct LegendItem {
    double x = 0;
    double cy = 0;  // middle of the item's row
    std::string label;
};
struct Legend {
    std::vector<LegendItem> items;
    double height = 0;
};

Legend legend_layout(const Chart& chart) {
    Legend legend;
    double x = 0, row = 0;
    for (const Series& s : chart.series) {
        std::string label = shorten(s.name, 44);
        double w = 28 + text_width(label, 12) + 18;
        if (x > 0 && x + w > WIDTH) {
            x = 0;
            row += 20;
        }
        legend.items.push_back({x, 14 + row, label});
        x += w;
    }
    legend.height = row + 28;
    return legend;
}

// Each item: a stretch of line with the series' marker (`lines`) or a colour swatch, and the name.
void write_legend(Writer& w, const Chart& chart, const Legend& legend, bool lines) {
    for (std::size_t i = 0; i < legend.items.size(); ++i) {
        const Series& s = chart.series[i];
        const LegendItem& item = legend.items[i];
        double x = item.x, cy = item.cy;
        w.open("g", {{"class", "legend-item"}});
        if (lines) {
            Attrs attrs{{"x1", num(x)}, {"y1", num(cy)}, {"x2", num(x + 22)}, {"y2", num(cy)}};
            add_stroke(attrs, s);
            w.leaf("line", attrs);
            open_marker(w, s, x + 11, cy, {Attr{}});  // a blank: no class, no series
            w.close(marker_name(s.marker));
        } else {
            w.leaf("rect", {{"x", num(x + 5)},
                            {"y", num(cy - 6)},
                            {"width", "12"},
                            {"height", "12"},
                            {"fill", s.colour}});
        }
        w.close("g");
        w.newline();
        text_el(w, x + 28, cy + 4, LEGEND, item.label);
    }
}

// What sets a chart's frame apart: a legend or not, its marks, its height without legend and the
// space right of the plot.
struct FrameStyle {
    bool legend = false;
    bool lines = false;  // legend items for line series
    double height = 320;
    double right_margin = 20;
};

// The svg element, its title and the legend; returns the plot area below the legend.
Area open_frame(Writer& w, const Chart& chart, const FrameStyle& style) {
    Legend legend;
    if (style.legend) legend = legend_layout(chart);
    double height = style.height + legend.height;
    w.open("svg", {{"class", "chart"},
                   {"data-chart", chart.kind},
                   {"role", "img"},
                   {"aria-label", chart.title},
                   {"viewBox", "0 0 " + std::to_string(WIDTH) + " " + num(height)},
                   {"width", std::to_string(WIDTH)},
                   {"height", num(height)},
                   {"font-family", "sans-serif"}});
    w.newline();
    w.element("title", {}, chart.title);
    w.newline();
    write_legend(w, chart, legend, style.lines);
    return {64, WIDTH - style.right_margin, legend.height + 14, height - 52};
}

// Whether pixel row `y` is on a grid line of the left axis `y0`.
bool on_grid(const Ticks& y0, const Area& a, double y) {
    return std::any_of(y0.values.begin(), y0.values.end(),
                       [&](double v) { return std::abs(y_of(y0, a, v) - y) < 0.05; });
}

// Horizontal grid lines, the left (and right) axis with tick labels and titles, the x axis title;
// a right tick off the grid lines gets a tick mark of its own.
void axes(Writer& w, const Chart& chart, const Area& a, const Ticks& y0, const Ticks* y1) {
    for (double v : y0.values) {
        double y = y_of(y0, a, v);
        line_el(w, a.left, y, a.right, y, v == y0.lo ? "#888" : "#e2e2e2");
        text_el(w, a.left - 6, y + 4, TICK_LEFT, fixed(v, y0.decimals));
    }
    if (y1) {
        for (double v : y1->values) {
            double y = y_of(*y1, a, v);
            if (!on_grid(y0, a, y)) line_el(w, a.right, y, a.right + 4, y, "#888");
            text_el(w, a.right + 6, y + 4, TICK_RIGHT, fixed(v, y1->decimals));
        }
    }
    double mid = (a.top + a.bottom) / 2;
    text_el(w, 14, mid, TITLE, chart.y_label[0],
            {{"transform", "rotate(-90 14 " + num(mid) + ")"}});
    if (y1) {
        double xr = WIDTH - 12;
        text_el(w, xr, mid, TITLE, chart.y_label[1],
                {{"transform", "rotate(90 " + num(xr) + " " + num(mid) + ")"}});
    }
    text_el(w, (a.left + a.right) / 2, a.bottom + 42, TITLE, chart.x_label);
}

// The plot group with its white ground; close_plot ends it and the chart.
void open_plot(Writer& w, const Area& a) {
    w.open("g", {{"class", "plot"}});
    w.newline();
    w.leaf("rect", {{"x", num(a.left)},
                    {"y", num(a.top)},
                    {"width", num(a.right - a.left)},
                    {"height", num(a.bottom - a.top)},
                    {"fill", "#fff"}});
    w.newline();
}

void close_plot(Writer& w) {
    w.close("g");
    w.newline();
    w.close("svg");
    w.newline();
}

void tooltip(Writer& w, const Chart& chart, std::string_view what, double v) {
    w.element("title", {},
              std::string(what) + ": " + value_text(v, chart.value_decimals) +
                  (std::isfinite(v) ? chart.value_unit : ""));
}

// The largest value of the series on `axis` (all series when axis < 0), and 0 at least.
double max_value(const Chart& chart, int axis) {
    double m = 0;
    for (const Series& s : chart.series) {
        if (axis >= 0 && s.axis != axis) continue;
        for (const auto& v : s.values)
            if (v && std::isfinite(*v)) m = std::max(m, *v);
    }
    return m;
}

// The scales of a line chart: numeric x from the least to the largest x, inset by a pad; the
// left y axis and the right one.
struct LinePlot {
    Area area;
    double x_lo = 0;
    double x_hi = 1;
    double pad = 14;
    Ticks y[2];
    double x_of(double v) const {
        return area.left + pad + (v - x_lo) / (x_hi - x_lo) * (area.right - area.left - 2 * pad);
    }
};

void set_x_range(LinePlot& p, const std::vector<double>& x) {
    p.x_lo = x.empty() ? 0 : *std::min_element(x.begin(), x.end());
    p.x_hi = x.empty() ? 1 : *std::max_element(x.begin(), x.end());
    if (p.x_hi <= p.x_lo) {
        p.x_lo -= 1;
        p.x_hi += 1;
    }
}

// Tick marks and labels under the plot at whole steps of x.
void x_axis(Writer& w, const LinePlot& p) {
    double step = std::max(1.0, nice_ticks(p.x_lo, p.x_hi, 8).step);
    for (double v = std::ceil(p.x_lo / step) * step; v <= p.x_hi + 1e-9; v += step) {
        line_el(w, p.x_of(v), p.area.bottom, p.x_of(v), p.area.bottom + 5, "#888");
        text_el(w, p.x_of(v), p.area.bottom + 18, TICK, fixed(v, 0));
    }
}

// The right axis: as many intervals as on the left, so that the grid lines serve both; where
// that would run above the chart's right limit (a share beyond 100 %) while the values stay
// within it, steps of its own up to the limit.
Ticks right_ticks(const Chart& chart, const Ticks& y0) {
    auto intervals = static_cast<long long>(y0.values.size() - 1);
    double m = max_value(chart, 1);
    double rough = (m > 0 ? m : 1) / static_cast<double>(intervals);
    Ticks shared = ticks_from(0, nice_step(rough, true), intervals);
    const double limit = chart.right_limit;
    if (limit <= 0 || shared.hi <= limit || m > limit) return shared;
    return nice_ticks(0, limit, 6);
}

struct Point {
    std::size_t i = 0;  // index into x and the values
    double px = 0;
    double py = 0;
    bool joined = false;  // a line leads to it from the point before
};

// Series `si`: the path through its values (broken where a value is missing), then a marker with
// a tooltip at each value.
void line_series(Writer& w, const Chart& chart, std::size_t si, const std::vector<double>& x,
                 const LinePlot& p) {
    const Series& s = chart.series[si];
    const Ticks& t = p.y[s.axis == 1 ? 1 : 0];
    std::vector<Point> points;
    bool pen_down = false;
    for (std::size_t i = 0; i < x.size() && i < s.values.size(); ++i) {
        if (!s.values[i]) {
            pen_down = false;
            continue;
        }
        points.push_back({i, p.x_of(x[i]), y_of(t, p.area, *s.values[i]), pen_down});
        pen_down = true;
    }
    std::string d;
    for (const Point& pt : points) {
        d += pt.joined ? 'L' : 'M';
        d += num(pt.px) + " " + num(pt.py);
    }
    Attrs attrs{{"d", d}, {"fill", "none"}};
    add_stroke(attrs, s);
    w.leaf("path", attrs);
    w.newline();
    for (const Point& pt : points) {
        open_marker(w, s, pt.px, pt.py, {{"class", "mark"}, {"data-series", std::to_string(si)}});
        tooltip(w, chart, pt.i < chart.x_names.size() ? chart.x_names[pt.i] : fixed(x[pt.i], 0),
                *s.values[pt.i]);
        w.close(marker_name(s.marker));
        w.newline();
    }
}

// The y axis of a bar chart: up to the largest bar (stacked: the largest sum), `y_top` at least.
Ticks bar_ticks(const Chart& chart, std::size_t categories, double y_top) {
    std::vector<double> totals(categories, 0.0);
    for (const Series& s : chart.series)
        for (std::size_t i = 0; i < totals.size() && i < s.values.size(); ++i)
            if (s.values[i] && std::isfinite(*s.values[i])) totals[i] += *s.values[i];
    double y_max = totals.empty() ? 0 : *std::max_element(totals.begin(), totals.end());
    if (y_max <= y_top * 1.005) y_max = y_top;  // sums of shares a rounding above 100 %
    return nice_ticks(0, y_max, 6);
}

// The layout of a bar chart: a band across the plot for each category, a bar in each band.
struct BarPlot {
    Area area;
    Ticks y;
    double band = 0;
    double bar = 0;
    bool stacked = false;
    bool value_labels = false;  // values over the bars
    double centre(std::size_t i) const { return area.left + (static_cast<double>(i) + 0.5) * band; }
};

// Category names under the bars; where they would overlap, only every so many, and none that
// would stick out of the chart (a long range under the last bars).
void category_axis(Writer& w, const std::vector<std::string>& categories, const BarPlot& p) {
    double widest = 0;
    for (const auto& c : categories) widest = std::max(widest, text_width(c, 11));
    auto every = static_cast<std::size_t>(std::ceil((widest + 8) / p.band));
    for (std::size_t i = 0; i < categories.size(); i += std::max<std::size_t>(1, every))
        if (p.centre(i) + text_width(categories[i], 11) / 2 <= WIDTH)
            text_el(w, p.centre(i), p.area.bottom + 18, TICK, categories[i]);
}

// The bars of category `i`, stacked from the bottom, each with a tooltip and, where the plot
// has them, its value above it.
void category_bars(Writer& w, const Chart& chart, const std::string& category, std::size_t i,
                   const BarPlot& p) {
    const Area& a = p.area;
    double x = p.centre(i) - p.bar / 2, y = a.bottom;
    for (std::size_t si = 0; si < chart.series.size(); ++si) {
        const Series& s = chart.series[si];
        double v = i < s.values.size() ? s.values[i].value_or(0.0) : 0.0;
        double h = v > 0 && std::isfinite(v)
                       ? std::max(1.0, v / (p.y.hi - p.y.lo) * (a.bottom - a.top))
                       : 0.0;
        y -= h;
        w.open("rect", {{"class", "mark"},
                        {"data-series", std::to_string(si)},
                        {"x", num(x)},
                        {"y", num(y)},
                        {"width", num(p.bar)},
                        {"height", num(h)},
                        {"fill", s.colour}});
        tooltip(w, chart, category + (p.stacked ? ", " + s.name : ""), v);
        w.close("rect");
        w.newline();
        if (p.value_labels)
            text_el(w, x + p.bar / 2, y - 5, VALUE, value_text(v, chart.value_decimals));
    }
}

}  // namespace

Ticks nice_ticks(double lo, double hi, int target) {
    if (!std::isfinite(lo)) lo = 0;
    if (!std::isfinite(hi) || !(hi > lo)) hi = lo + 1;
    double step = nice_step((hi - lo) / std::max(1, target - 1));
    double first = std::floor(lo / step + 1e-9) * step;
    auto count = static_cast<long long>(std::ceil((hi - first) / step - 1e-9));
    return ticks_from(first, step, std::max(1LL, count));
}

std::string line_chart(const Chart& chart, const std::vector<double>& x) {
    bool two_axes = std::any_of(chart.series.begin(), chart.series.end(),
                                [](const Series& s) { return s.axis == 1; });
    Writer w;
    LinePlot p;
    p.area = open_frame(w, chart, {chart.series.size() > 1, true, 270, two_axes ? 64.0 : 20.0});
    p.y[0] = nice_ticks(0, max_value(chart, 0), 6);
    if (two_axes) p.y[1] = right_ticks(chart, p.y[0]);
    axes(w, chart, p.area, p.y[0], two_axes ? &p.y[1] : nullptr);
    set_x_range(p, x);
    x_axis(w, p);
    open_plot(w, p.area);
    for (std::size_t si = 0; si < chart.series.size(); ++si) line_series(w, chart, si, x, p);
    close_plot(w);
    return w.str();
}

std::string bar_chart(const Chart& chart, const std::vector<std::string>& categories,
                      double y_top) {
    Writer w;
    BarPlot p;
    p.stacked = chart.series.size() > 1;
    p.value_labels = !p.stacked && categories.size() <= 12;
    p.area = open_frame(w, chart, {p.stacked, false, 280, 20});
    p.y = bar_ticks(chart, categories.size(), y_top);
    axes(w, chart, p.area, p.y, nullptr);
    p.band = (p.area.right - p.area.left) /
             static_cast<double>(std::max<std::size_t>(1, categories.size()));
    p.bar = std::min(p.band * 0.72, 64.0);
    category_axis(w, categories, p);
    open_plot(w, p.area);
    for (std::size_t i = 0; i < categories.size(); ++i)
        category_bars(w, chart, categories[i], i, p);
    close_plot(w);
    return w.str();
}

}  // namespace kinstrom::svg
