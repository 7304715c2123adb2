// Progress lines and messages on one stream: on a terminal a message clears the unfinished phase
// line, stands on a line of its own, and the phase line is drawn again after it; elsewhere the
// phase lines are whole lines and messages are written as they come.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "diagnostics/diagnostics.hpp"
#include "listing/progress.hpp"

namespace {

using kinstrom::Diagnostics;
using kinstrom::Progress;

// The phase "reading the input" as its unfinished line shows it: the name in 28 columns.
const std::string PHASE = "kinstrom: reading the input" + std::string(11, ' ');

// A stream whose bytes the test reads back.
class Stream {
  public:
    Stream() : file_(open_memstream(&data_, &size_)) {}
    ~Stream() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(data_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::FILE* file() const { return file_; }
    std::string bytes() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// The line that ends the phase, with the time it took as recorded.
std::string ended(const Progress& progress, const char* lead) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%9.3f", progress.phases().back().seconds);
    return lead + PHASE + " " + seconds + " s\n";
}

// Two warnings in a phase, one before its first percentage and one after, and one after it.
std::string warnings_in_a_phase(Progress& progress, Diagnostics& diagnostics) {
    diagnostics.set_progress(&progress);
    progress.begin("reading the input");
    diagnostics.warning("first", {"ped.txt", 2, 0});
    progress.advance(1, 4);
    diagnostics.finding("doubtful records", "second", {"ped.txt", 5, 3});
    progress.end();
    diagnostics.warning("after the phase");
    return ended(progress, "\r");
}

TEST(progress_test, message_on_a_terminal_clears_the_phase_line) {
    Stream err;
    Progress progress = Progress::showing(err.file(), true);
    Diagnostics diagnostics(err.file());
    const std::string end_line = warnings_in_a_phase(progress, diagnostics);
    const std::string blank38 = "\r" + std::string(38, ' ') + "\r";
    const std::string blank44 = "\r" + std::string(44, ' ') + "\r";
    EXPECT_EQ(err.bytes(), PHASE + blank38 + "kinstrom: ped.txt:2: warning: first\n" + PHASE +
                               "\r" + PHASE + "  25 %" + blank44 +
                               "kinstrom: ped.txt:5:3: warning: second\n" + PHASE + "  25 %" +
                               end_line + "kinstrom: warning: after the phase\n");
}

TEST(progress_test, messages_elsewhere_are_written_as_they_come) {
    Stream err;
    Progress progress = Progress::showing(err.file(), false);
    Diagnostics diagnostics(err.file());
    const std::string end_line = warnings_in_a_phase(progress, diagnostics);
    EXPECT_EQ(err.bytes(),
              "kinstrom: ped.txt:2: warning: first\n"
              "kinstrom: ped.txt:5:3: warning: second\n" +
                  end_line.substr(1) + "kinstrom: warning: after the phase\n");
}

TEST(progress_test, hidden_progress_leaves_messages_alone) {
    Stream err;
    Progress progress;
    Diagnostics diagnostics(err.file());
    warnings_in_a_phase(progress, diagnostics);
    EXPECT_EQ(err.bytes(),
              "kinstrom: ped.txt:2: warning: first\n"
              "kinstrom: ped.txt:5:3: warning: second\n"
              "kinstrom: warning: after the phase\n");
}

// What a phase did stands on a line of its own after the phase line, only where phase lines are
// shown; one given outside a phase goes nowhere.
TEST(progress_test, detail_follows_its_phase_line) {
    for (const bool shown : {true, false}) {
        Stream err;
        Progress progress = shown ? Progress::showing(err.file(), false) : Progress();
        progress.detail("before any phase");
        progress.begin("reading the input");
        progress.detail("3 relationships computed by 1 thread");
        progress.end();
        progress.detail("after the phase");
        progress.end();
        EXPECT_EQ(err.bytes(), shown ? ended(progress, "") +
                                           "kinstrom: reading the input: 3 relationships "
                                           "computed by 1 thread\n"
                                     : "");
    }
}

// Bytes that would act on a terminal, or that are not UTF-8, are written escaped; valid UTF-8
// (two, three and four bytes) stands as it is.
TEST(terminal_text, escape_rows) {
    using kinstrom::terminal_text;
    const std::pair<std::string, std::string> rows[] = {
        {"plain name.txt", "plain name.txt"},
        {"M\xc3\xbcller.txt \xe2\x82\xac \xf0\x9f\x90\x84",
         "M\xc3\xbcller.txt \xe2\x82\xac \xf0\x9f\x90\x84"},
        {"title \x1b]0;x\x07", "title \\x1b]0;x\\x07"},  // ESC and BEL
        {"over\rwrite\nline\ttab", "over\\x0dwrite\\x0aline\\x09tab"},
        {std::string("cut\0here", 8), "cut\\x00here"},
        {"del\x7f", "del\\x7f"},
        {"csi \xc2\x9b and \x9b", "csi \\xc2\\x9b and \\x9b"},  // C1 as UTF-8 and as a byte
        {"latin-1 M\xfcller", "latin-1 M\\xfcller"},
        {"overlong \xc0\xaf, surrogate \xed\xa0\x80",
         "overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80"},
        {"cut short \xe2\x82", "cut short \\xe2\\x82"},
        {"past U+10FFFF \xf4\x90\x80\x80", "past U+10FFFF \\xf4\\x90\\x80\\x80"},
        {"already \\x1b stays", "already \\x1b stays"},
    };
    for (const auto& [raw, shown] : rows) EXPECT_EQ(terminal_text(raw), shown) << raw;
}

TEST(terminal_text, every_message_line_is_escaped) {
    Stream err;
    Diagnostics diagnostics(err.file());
    diagnostics.warning("value '\x1b[2J' ignored", {"ped\r.txt", 3, 0});
    diagnostics.error({"", 0, 0, std::string("name 'a\0b'", 10)});
    kinstrom::write_line(err.file(), "kinstrom: warning: argument '\x1b[31m' ignored");
    EXPECT_EQ(err.bytes(),
              "kinstrom: ped\\x0d.txt:3: warning: value '\\x1b[2J' ignored\n"
              "kinstrom: error: name 'a\\x00b'\n"
              "kinstrom: warning: argument '\\x1b[31m' ignored\n");
    EXPECT_EQ(diagnostics.messages()[1].line, "kinstrom: error: name 'a\\x00b'");
}

}  // namespace
