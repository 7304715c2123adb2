// Everything written to a temporary file standing in for standard output; a listing into one;
// and a scratch folder for the files a test writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "listing/listing.hpp"

namespace kinstrom {

struct Capture {
    std::FILE* file = std::tmpfile();
    Capture() = default;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() { std::fclose(file); }
    std::string text() {
        std::fflush(file);
        std::rewind(file);
        std::string s;
        for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
        return s;
    }
};

// A listing dated as the runs of the golden cases.
struct CapturedListing : Capture {
    Listing listing{file, RunDate{5, 12, 2026, 6, 3, 57}};
};

// A fresh folder, removed with its files.
struct Scratch : CapturedListing {
    std::string dir = (std::filesystem::temp_directory_path() / "kinstrom-XXXXXX").string();
    Scratch() { EXPECT_NE(mkdtemp(dir.data()), nullptr); }
    ~Scratch() { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string contents(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

}  // namespace kinstrom
