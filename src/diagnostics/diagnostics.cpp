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
    line = terminal_text(line);
    if (keep) messages_.push_back({std::strcmp(severity, "error") == 0, place, text, line});
    if (out_ == nullptr) return;
    line += '\n';
    if (progress_ != nullptr) progress_->clear_line();
    // Standard error is the user's: a failed write there cannot be reported anywhere else.
    std::fwrite(line.data(), 1, line.size(), out_);
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

namespace {

constexpr char HEX[] = "0123456789abcdef";

void append_escaped(std::string& out, unsigned char c) {
    out += "\\x";
    out += HEX[c >> 4];
    out += HEX[c & 15];
}

// The length of the valid UTF-8 sequence at the start of `s` that is not a control character,
// 0 when there is none (a control byte, a C1 control, a stray or missing continuation byte, an
// overlong form, a surrogate or a code point past U+10FFFF).
std::size_t printable_sequence(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return c >= 0x20 && c != 0x7f ? 1 : 0;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xbf;  // the second byte's range
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        if (c == 0xc2) low = 0xa0;  // U+0080 .. U+009F are the C1 controls
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        if (c == 0xe0) low = 0xa0;
        if (c == 0xed) high = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        if (c == 0xf0) low = 0x90;
        if (c == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (s.size() < n || b(1) < low || b(1) > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xbf) return 0;
    return n;
}

}  // namespace

std::string terminal_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t n = printable_sequence(text.substr(i)); n > 0) {
            out.append(text, i, n);
            i += n;
        } else {
            append_escaped(out, static_cast<unsigned char>(text[i++]));
        }
    }
    return out;
}

void write_line(std::FILE* out, std::string_view line) {
    std::string text = terminal_text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out);
}

std::string quoted_bytes(std::string_view bytes, std::size_t max) {
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            append_escaped(out, c);
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
