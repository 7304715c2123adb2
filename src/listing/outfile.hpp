// Output and error files: text files of free-format records wrapped at column 120.
//
// Records are gathered in a buffer of BUFFER_BYTES and written a full buffer at a time (so a
// failed write shows when a buffer is written or at close). Every create, write, flush and
// close is checked. A failure prints on the listing
//   (blank line) "Error when writing file <name>" (blank line) "Program terminates"
// and throws FatalStop, so a run never ends with status 0 after losing output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "listing/listing.hpp"

namespace kinstrom {

class OutFile {
  public:
    static constexpr std::size_t BUFFER_BYTES = std::size_t{1} << 20;

    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile();

    // Creates the file, or writes over an existing one from its start. With `read_back` the
    // file is also open for reading (error files are read back for their reports), and a
    // symbolic link of that name is removed first (the file it leads to is left alone).
    void open(Listing& listing, std::string name, bool read_back = false);

    const std::string& name() const { return name_; }
    // Whether the file was created and not deleted again, and the records appended to it.
    bool on_disk() const { return on_disk_; }
    int64_t records() const { return records_; }

    // Appends one free-format record (built with FreeLine(true)).
    void record(const FreeLine& line);
    // Appends `count` records laid out ahead, each with its newline.
    void records(std::string_view text, int64_t count);

    // Read-back of a file opened with `read_back`: flushes what was written and positions the
    // file at its start; then values are read one by one, across line ends.
    void rewind_for_reading();
    bool read_value(std::string& token);

    // Flushes and closes; a file that is not open is left alone.
    void close();

    // Closes the file and deletes it.
    void discard();

  private:
    // Appends bytes to the buffer, writing each block that fills up.
    void append(const char* data, std::size_t n);
    // Writes the buffered bytes to the file; false when the write failed.
    bool write_buffer();
    [[noreturn]] void fail();

    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // BUFFER_BYTES, from the first record on
    std::size_t used_ = 0;            // bytes of buffer_ not yet written
    Listing* listing_ = nullptr;
    std::string name_;
    int64_t records_ = 0;
    bool on_disk_ = false;
};

}  // namespace kinstrom
