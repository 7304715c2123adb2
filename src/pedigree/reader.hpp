// Reading the records of the input files.
//
// A file is mapped (or read whole) and scanned in place. A record is a fixed list of numbers:
// numbers are separated by blanks (tabs and carriage returns count as blanks) or by one comma
// with blanks around it allowed; a record that needs more numbers than its line holds goes on
// to the following lines, empty lines are passed over, and whatever follows the last number of
// a record on its line is ignored. A null value (two commas, or a comma at the start of a
// record), a number that does not fit its type, anything else where a number belongs, and a
// record cut short by the end of the file cannot be read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "listing/listing.hpp"

namespace kinstrom {

// The whole text of an input file.
class InputText {
  public:
    InputText() = default;
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;
    ~InputText();

    // Maps the open file, or reads it whole when it cannot be mapped; a read error stops the run
    // with "Error when reading file <name>".
    void load(Listing& listing, std::FILE* file, const std::string& name);

    std::string_view text() const { return text_; }

  private:
    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    std::string copy_;
    std::string_view text_;
};

class RecordReader {
  public:
    explicit RecordReader(std::string_view text)
        : begin_(text.data()), end_(text.data() + text.size()), p_(begin_) {}

    void rewind() { p_ = begin_; }

    // Moves to the start of the next record, passing over empty lines; false at end of file.
    bool start();

    // The next value of the record; false when it cannot be read.
    bool int64(int64_t& v);
    bool int32(int32_t& v);
    bool real(double& v);

    // Passes over the rest of the line that holds the record's last value.
    void finish();

  private:
    bool next_value();
    bool ends_value(const char* q) const;

    const char* begin_;
    const char* end_;
    const char* p_;
    bool first_ = false;
};

}  // namespace kinstrom
