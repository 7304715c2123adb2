#include "listing/outfile.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <utility>

namespace kinstrom {

OutFile::~OutFile() {
    // Safety net for a fatal stop: what was written stays on disk.
    if (file_ == nullptr) return;
    write_buffer();
    std::fclose(file_);
}

void OutFile::open(Listing& listing, std::string name, bool read_back) {
    listing_ = &listing;
    name_ = std::move(name);
    used_ = 0;
    records_ = 0;
    // An error file is never written through a symbolic link: the link gives way to a file of
    // its own, and the file it led to stays as it was.
    struct stat st {};
    if (read_back && ::lstat(name_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::unlink(name_.c_str()) != 0)
        fail();
    file_ = std::fopen(name_.c_str(), read_back ? "w+" : "w");
    if (file_ == nullptr) fail();
    on_disk_ = true;
}

void OutFile::record(const FreeLine& line) {
    const std::string& s = line.str();
    ++records_;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(BUFFER_BYTES);
    if (BUFFER_BYTES - used_ > s.size()) {
        // The record and its newline fit into the buffer.
        char* p = buffer_.get() + used_;
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\n';
        used_ += s.size() + 1;
        return;
    }
    append(s.data(), s.size());
    append("\n", 1);
}

void OutFile::records(std::string_view text, int64_t count) {
    records_ += count;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(BUFFER_BYTES);
    append(text.data(), text.size());
}

void OutFile::append(const char* data, std::size_t n) {
    while (n > 0) {
        if (used_ == BUFFER_BYTES && !write_buffer()) fail();
        const std::size_t k = std::min(n, BUFFER_BYTES - used_);
        std::memcpy(buffer_.get() + used_, data, k);
        used_ += k;
        data += k;
        n -= k;
    }
}

bool OutFile::write_buffer() {
    const std::size_t n = std::exchange(used_, 0);
    return n == 0 || std::fwrite(buffer_.get(), 1, n, file_) == n;
}

void OutFile::rewind_for_reading() {
    if (!write_buffer() || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) fail();
}

bool OutFile::read_value(std::string& token) {
    token.clear();
    int c = std::fgetc(file_);
    while (c == ' ' || c == '\n') c = std::fgetc(file_);
    while (c != EOF && c != ' ' && c != '\n') {
        token += static_cast<char>(c);
        c = std::fgetc(file_);
    }
    return !token.empty();
}

void OutFile::close() {
    if (file_ == nullptr) return;
    if (!write_buffer()) fail();
    buffer_.reset();
    std::FILE* f = std::exchange(file_, nullptr);
    const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !flushed) fail();
}

void OutFile::discard() {
    used_ = 0;
    buffer_.reset();
    if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
    on_disk_ = false;
    if (std::remove(name_.c_str()) != 0) fail();
}

void OutFile::fail() {
    const int err = errno;
    used_ = 0;
    buffer_.reset();
    if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
    fatal_stop(*listing_, {" ", "Error when writing file " + name_}, StopEnd::program_terminates,
               {name_, 0, 0,
                std::string("cannot write the file: ") + std::strerror(err) +
                    "; free space or choose a writable folder for the trace file"});
}

}  // namespace kinstrom
