#include "listing/outfile.hpp"

#include <utility>

namespace kinstrom {

OutFile::~OutFile() {
    // Safety net for a fatal stop: what was written stays on disk.
    if (file_ != nullptr) std::fclose(file_);
}

void OutFile::open(Listing& listing, std::string name, bool read_back) {
    listing_ = &listing;
    name_ = std::move(name);
    file_ = std::fopen(name_.c_str(), read_back ? "w+" : "w");
    if (file_ == nullptr) fail();
}

void OutFile::record(const FreeLine& line) {
    const std::string& s = line.str();
    if (std::fwrite(s.data(), 1, s.size(), file_) != s.size() || std::fputc('\n', file_) == EOF)
        fail();
}

void OutFile::rewind_for_reading() {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) fail();
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
    std::FILE* f = std::exchange(file_, nullptr);
    const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !flushed) fail();
}

void OutFile::discard() {
    if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
    if (std::remove(name_.c_str()) != 0) fail();
}

void OutFile::fail() {
    if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
    listing_->blank();
    listing_->text("Error when writing file " + name_);
    listing_->blank();
    listing_->text("Program terminates");
    throw FatalStop{};
}

}  // namespace kinstrom
