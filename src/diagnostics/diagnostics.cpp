#include "diagnostics/diagnostics.hpp"

#include <algorithm>
#include <cstring>

namespace kinstrom {

void Diagnostics::print(const char* severity, const std::string& text, const Place& place,
                        bool keep) {
    std::string line = "kinstrom: ";
    if (!place.file.empty()) {
        line += place.file + ":";
        if (place.line > 0) {
            line += std::to_string(place.line) + ":";
            if (place.column > 0) line += std::to_string(place.column) + ":";
        }
        line += " ";
    }
    line += severity;
    line += ": ";
    line += text;
    if (keep) messages_.push_back({std::strcmp(severity, "error") == 0, place, text, line});
    if (out_ == nullptr) return;
    line += '\n';
    if (progress_ != nullptr) progress_->clear_line();
    // Standard error is the user's: a failed write there cannot be reported anywhere else.
    std::fputs(line.c_str(), out_);
    if (progress_ != nullptr) progress_->redraw_line();
}

void Diagnostics::error(const StopCause& cause) {
    print("error", cause.text, {cause.file, cause.line, cause.column});
}

void Diagnostics::warning(const std::string& text, const Place& place) {
    print("warning", text, place);
}

void Diagnostics::note(const std::string& text, const Place& place) {
    print("note", text, place, false);
}

Diagnostics::Count& Diagnostics::count_of(std::string_view kind) {
    const auto it = std::find_if(counts_.begin(), counts_.end(),
                                 [&](const Count& c) { return c.kind == kind; });
    if (it != counts_.end()) return *it;
    counts_.push_back({std::string(kind), 0});
    return counts_.back();
}

bool Diagnostics::shown(std::string_view kind) const {
    const auto it = std::find_if(counts_.begin(), counts_.end(),
                                 [&](const Count& c) { return c.kind == kind; });
    return it == counts_.end() || it->count < SHOWN;
}

void Diagnostics::finding(std::string_view kind, const std::string& text, const Place& place) {
    Count& c = count_of(kind);
    if (c.count++ < SHOWN) warning(text, place);
}

void Diagnostics::finish() {
    for (const Count& c : counts_)
        if (c.count > SHOWN)
            warning(std::to_string(c.count) + " " + c.kind + " in all; the first " +
                    std::to_string(SHOWN) + " are shown above");
}

std::string quoted_bytes(std::string_view bytes, std::size_t max) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    out += '"';
    if (bytes.size() > max) out += "...";
    return out;
}

std::string counted(int64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string ordinal(int64_t n) {
    const int64_t tens = n % 100, units = n % 10;
    const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                         : units == 1               ? "st"
                         : units == 2               ? "nd"
                         : units == 3               ? "rd"
                                                    : "th";
    return std::to_string(n) + suffix;
}

}  // namespace kinstrom
