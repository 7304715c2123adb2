// Everything written to a temporary file standing in for standard output.
#pragma once

#include <cstdio>
#include <string>

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

}  // namespace kinstrom
