// What a run that writes a summary or report keeps safe: the files of the run (nothing is
// written over them), and the summary of a run stopped by SIGTERM or SIGINT (a batch system's
// wall-time kill, Ctrl-C).
//
// With watch_signals(), a thread of its own waits for either signal. It removes the run's
// temporary files, writes the summary and report saying in which phase the run was
// interrupted (from the document as it stood at that phase's start; where a file can still be
// written within a second), and ends the program by the same signal, whatever the phase.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "summary/summary.hpp"
#include "wholefile/wholefile.hpp"

namespace kinstrom {

// The summary document as a file: the JSON text, or the HTML report drawn from it. Writes it to
// `target` whole (the JSON text as it is made, never whole in memory); false with `error` set.
enum class SummaryForm { json, report };
bool write_document(const Target& target, SummaryForm form, const Summary& summary,
                    std::string& error, int wait_ms = -1);

struct Watch {
    std::optional<Target> summary, report;

    // The plain files of the run: standard input and output, inputs and outputs.
    void protect(const std::string& name);
    void protect(int fd);
    // Whether writing `target` would replace one of them.
    bool is_run_file(const Target& target);

    // The summary document as it stands (sharing its rows, not copying them), and the phase that
    // starts.
    void snapshot(Summary document, const char* phase);
    // Before the driver writes a file in place itself: the watch leaves it alone after that.
    void start_writing(const Target& target);
    // The run has written what it writes: a signal now changes nothing (the document kept is let
    // go).
    void finish();

    std::mutex mutex;
    std::vector<FileId> run_files;
    std::optional<Summary> document;
    std::string phase;
    std::vector<const Target*> written_in_place;
    bool finished = false;
};

// Blocks SIGTERM and SIGINT in the calling thread (and in the threads it starts after) and
// starts the thread that waits for them; call it before any other thread is started. The watch
// lives as long as the program.
Watch& watch_signals(std::optional<Target> summary, std::optional<Target> report);

}  // namespace kinstrom
