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

std::string text_el(double x, double y, std::string_view anchor, int size, std::string_view fill,
                    std::string_view text, std::string_view extra = {}) {
    std::string out = "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" +
                      std::string(anchor) + "\" font-size=\"" + std::to_string(size) +
                      "\" fill=\"" + std::string(fill) + "\"";
    if (!extra.empty()) out += " " + std::string(extra);
    return out + ">" + escape(text) + "</text>\n";
}

std::string line_el(double x1, double y1, double x2, double y2, std::string_view stroke) {
    return "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
           num(y2) + "\" stroke=\"" + std::string(stroke) + "\"/>\n";
}

std::string marker_el(const Series& s, double x, double y, std::string_view attrs) {
    std::string fill = "fill=\"" + s.colour + "\" stroke=\"#fff\" stroke-width=\"1\"";
    switch (s.marker) {
        case 's':
            return "<rect " + std::string(attrs) + " x=\"" + num(x - 4) + "\" y=\"" + num(y - 4) +
                   "\" width=\"8\" height=\"8\" " + fill + ">";
        case 'd':
            return "<path " + std::string(attrs) + " d=\"M" + num(x) + " " + num(y - 5.5) + "L" +
                   num(x + 5.5) + " " + num(y) + "L" + num(x) + " " + num(y + 5.5) + "L" +
                   num(x - 5.5) + " " + num(y) + "Z\" " + fill + ">";
        default:
            return "<circle " + std::string(attrs) + " cx=\"" + num(x) + "\" cy=\"" + num(y) +
                   "\" r=\"4.5\" " + fill + ">";
    }
}

const char* marker_end(char marker) {
    return marker == 's' ? "</rect>" : marker == 'd' ? "</path>" : "</circle>";
}

// Frame of a chart: the svg element, its title, and a legend at the top when `legend` is set.
struct Frame {
    double height = 320;
    double top = 0;  // below the legend
    std::string head;
};

Frame open_frame(const Chart& chart, bool legend, bool lines, double height) {
    std::string legend_svg;
    double x = 0, row = 0;
    if (legend) {
        for (std::size_t i = 0; i < chart.series.size(); ++i) {
            const Series& s = chart.series[i];
            std::string label = shorten(s.name, 44);
            double w = 28 + text_width(label, 12) + 18;
            if (x > 0 && x + w > WIDTH) {
                x = 0;
                row += 20;
            }
            double cy = 14 + row;
            legend_svg += "<g class=\"legend-item\">";
            if (lines) {
                legend_svg += "<line x1=\"" + num(x) + "\" y1=\"" + num(cy) + "\" x2=\"" +
                              num(x + 22) + "\" y2=\"" + num(cy) + "\" stroke=\"" + s.colour +
                              "\" stroke-width=\"2\"" +
                              (s.dash.empty() ? "" : " stroke-dasharray=\"" + s.dash + "\"") + "/>";
                legend_svg += marker_el(s, x + 11, cy, "") + marker_end(s.marker);
            } else {
                legend_svg += "<rect x=\"" + num(x + 5) + "\" y=\"" + num(cy - 6) +
                              "\" width=\"12\" height=\"12\" fill=\"" + s.colour + "\"/>";
            }
            legend_svg += "</g>\n" + text_el(x + 28, cy + 4, "start", 12, "#222", label);
            x += w;
        }
        row += 28;
    }
    Frame f;
    f.top = row + 14;
    f.height = height + row;
    f.head = "<svg class=\"chart\" data-chart=\"" + escape(chart.kind) +
             "\" role=\"img\" aria-label=\"" + escape(chart.title) + "\" viewBox=\"0 0 " +
             std::to_string(WIDTH) + " " + num(f.height) + "\" width=\"" + std::to_string(WIDTH) +
             "\" height=\"" + num(f.height) + "\" font-family=\"sans-serif\">\n<title>" +
             escape(chart.title) + "</title>\n" + legend_svg;
    return f;
}

// Horizontal grid lines, the left (and right) axis with tick labels and titles, the x axis title.
std::string axes(const Chart& chart, double left, double right, double top, double bottom,
                 const Ticks& y0, const Ticks* y1) {
    std::string out;
    auto to_y = [&](const Ticks& t, double v) {
        return bottom - (v - t.lo) / (t.hi - t.lo) * (bottom - top);
    };
    for (double v : y0.values) {
        double y = to_y(y0, v);
        out += line_el(left, y, right, y, v == y0.lo ? "#888" : "#e2e2e2");
        out += text_el(left - 6, y + 4, "end", 11, "#444", fixed(v, y0.decimals));
    }
    if (y1) {
        for (double v : y1->values) {
            out +=
                text_el(right + 6, to_y(*y1, v) + 4, "start", 11, "#444", fixed(v, y1->decimals));
        }
    }
    double mid = (top + bottom) / 2;
    out += text_el(14, mid, "middle", 12, "#222", chart.y_label[0],
                   "transform=\"rotate(-90 14 " + num(mid) + ")\"");
    if (y1) {
        double xr = WIDTH - 12;
        out += text_el(xr, mid, "middle", 12, "#222", chart.y_label[1],
                       "transform=\"rotate(90 " + num(xr) + " " + num(mid) + ")\"");
    }
    out += text_el((left + right) / 2, bottom + 42, "middle", 12, "#222", chart.x_label);
    return out;
}

std::string plot_open(double left, double top, double right, double bottom) {
    return "<g class=\"plot\">\n<rect x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" +
           num(right - left) + "\" height=\"" + num(bottom - top) + "\" fill=\"#fff\"/>\n";
}

std::string tooltip(const Chart& chart, std::string_view what, double v) {
    return "<title>" + escape(what) + ": " + fixed(v, chart.value_decimals) +
           escape(chart.value_unit) + "</title>";
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
    Frame f = open_frame(chart, chart.series.size() > 1, true, 270);
    double left = 64, right = WIDTH - (two_axes ? 64 : 20), top = f.top, bottom = f.height - 52;

    Ticks y0 = nice_ticks(0, max_value(chart, 0), 6);
    Ticks y1;
    if (two_axes) {  // as many intervals as on the left, so that the grid lines serve both
        auto intervals = static_cast<long long>(y0.values.size() - 1);
        double m = max_value(chart, 1);
        double rough = (m > 0 ? m : 1) / static_cast<double>(intervals);
        y1 = ticks_from(0, nice_step(rough, true), intervals);
    }
    std::string out = f.head + axes(chart, left, right, top, bottom, y0, two_axes ? &y1 : nullptr);

    double x_lo = x.empty() ? 0 : *std::min_element(x.begin(), x.end());
    double x_hi = x.empty() ? 1 : *std::max_element(x.begin(), x.end());
    if (x_hi <= x_lo) {
        x_lo -= 1;
        x_hi += 1;
    }
    double pad = 14;
    auto to_x = [&](double v) {
        return left + pad + (v - x_lo) / (x_hi - x_lo) * (right - left - 2 * pad);
    };
    double step = std::max(1.0, nice_ticks(x_lo, x_hi, 8).step);
    for (double v = std::ceil(x_lo / step) * step; v <= x_hi + 1e-9; v += step) {
        out += line_el(to_x(v), bottom, to_x(v), bottom + 5, "#888");
        out += text_el(to_x(v), bottom + 18, "middle", 11, "#444", fixed(v, 0));
    }

    out += plot_open(left, top, right, bottom);
    for (std::size_t si = 0; si < chart.series.size(); ++si) {
        const Series& s = chart.series[si];
        const Ticks& t = s.axis == 1 ? y1 : y0;
        auto to_y = [&](double v) { return bottom - (v - t.lo) / (t.hi - t.lo) * (bottom - top); };
        std::string d, marks;
        bool pen_down = false;
        for (std::size_t i = 0; i < x.size() && i < s.values.size(); ++i) {
            if (!s.values[i]) {
                pen_down = false;
                continue;
            }
            double px = to_x(x[i]), py = to_y(*s.values[i]);
            d += pen_down ? 'L' : 'M';
            d += num(px) + " " + num(py);
            pen_down = true;
            marks +=
                marker_el(s, px, py, "class=\"mark\" data-series=\"" + std::to_string(si) + "\"") +
                tooltip(chart, fixed(x[i], 0), *s.values[i]) + marker_end(s.marker) + "\n";
        }
        out += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + s.colour +
               "\" stroke-width=\"2\"" +
               (s.dash.empty() ? "" : " stroke-dasharray=\"" + s.dash + "\"") + "/>\n" + marks;
    }
    return out + "</g>\n</svg>\n";
}

std::string bar_chart(const Chart& chart, const std::vector<std::string>& categories,
                      double y_top) {
    bool stacked = chart.series.size() > 1;
    Frame f = open_frame(chart, stacked, false, 280);
    double left = 64, right = WIDTH - 20, top = f.top, bottom = f.height - 52;

    std::vector<double> totals(categories.size(), 0.0);
    for (const Series& s : chart.series)
        for (std::size_t i = 0; i < totals.size() && i < s.values.size(); ++i)
            totals[i] += s.values[i].value_or(0.0);
    double y_max = totals.empty() ? 0 : *std::max_element(totals.begin(), totals.end());
    if (y_max <= y_top * 1.005) y_max = y_top;  // sums of shares a rounding above 100 %
    Ticks t = nice_ticks(0, y_max, 6);
    std::string out = f.head + axes(chart, left, right, top, bottom, t, nullptr);
    auto to_h = [&](double v) { return v / (t.hi - t.lo) * (bottom - top); };

    double band = (right - left) / static_cast<double>(std::max<std::size_t>(1, categories.size()));
    double bar = std::min(band * 0.72, 64.0);
    double widest = 0;
    for (const auto& c : categories) widest = std::max(widest, text_width(c, 11));
    auto every = static_cast<std::size_t>(std::ceil((widest + 8) / band));
    for (std::size_t i = 0; i < categories.size(); i += std::max<std::size_t>(1, every)) {
        double cx = left + (static_cast<double>(i) + 0.5) * band;
        out += text_el(cx, bottom + 18, "middle", 11, "#444", categories[i]);
    }

    out += plot_open(left, top, right, bottom);
    bool value_labels = !stacked && categories.size() <= 12;
    for (std::size_t i = 0; i < categories.size(); ++i) {
        double x = left + (static_cast<double>(i) + 0.5) * band - bar / 2, y = bottom;
        for (std::size_t si = 0; si < chart.series.size(); ++si) {
            const Series& s = chart.series[si];
            double v = i < s.values.size() ? s.values[i].value_or(0.0) : 0.0;
            double h = v > 0 ? std::max(1.0, to_h(v)) : 0.0;
            y -= h;
            out += "<rect class=\"mark\" data-series=\"" + std::to_string(si) + "\" x=\"" + num(x) +
                   "\" y=\"" + num(y) + "\" width=\"" + num(bar) + "\" height=\"" + num(h) +
                   "\" fill=\"" + s.colour + "\">" +
                   tooltip(chart, categories[i] + (stacked ? ", " + s.name : ""), v) + "</rect>\n";
            if (value_labels) {
                out += text_el(x + bar / 2, y - 5, "middle", 11, "#333",
                               fixed(v, chart.value_decimals));
            }
        }
    }
    return out + "</g>\n</svg>\n";
}

}  // namespace kinstrom::svg
