#include "run/watch.hpp"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <new>
#include <thread>

#include "report/report.hpp"
#include "summary/summary.hpp"

namespace kinstrom {

namespace {

constexpr int WAIT_MS = 1000;  // for a pipe or socket in place when interrupted
constexpr std::size_t CHUNK = std::size_t{1} << 16;  // bytes of JSON text written at a time

}  // namespace

bool write_document(const Target& target, SummaryForm form, const Summary& summary,
                    std::string& error, int wait_ms) {
    if (form == SummaryForm::report) {
        const std::string html = summary.rows != nullptr
                                     ? report_html(summary.document, *summary.rows)
                                     : report_html(summary.document);
        return write_whole(target, html, error, wait_ms);
    }
    WholeFile file(target, wait_ms);
    std::string chunk;
    const bool written = file.open() &&
                         write_summary_text(summary,
                                            [&](std::string_view piece) {
                                                chunk += piece;
                                                if (chunk.size() < CHUNK) return true;
                                                const bool ok = file.write(chunk);
                                                chunk.clear();
                                                return ok;
                                            }) &&
                         file.write(chunk) && file.commit();
    if (!written) error = file.error();
    return written;
}

namespace {

// SIGTERM and SIGINT, but not one the program was started to ignore (a background job of a
// shell ignores SIGINT).
sigset_t watched_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN)
            sigaddset(&set, signal);
    }
    return set;
}

std::optional<FileId> plain_file(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

bool among(const std::vector<FileId>& files, const Target& target) {
    if (target.kind != Target::Kind::replace) return false;
    const auto id = target.id();
    return id && std::find(files.begin(), files.end(), *id) != files.end();
}

// Writes what an interrupted run can still say, then ends the program by `signal`; a signal
// after the run has written its files is let pass.
void on_signal(Watch& w, int signal) {
    {
        const auto renames = hold_renames();  // the driver renames nothing from now on
        std::lock_guard lock(w.mutex);
        if (!w.finished && w.document) {
            for (const auto& [target, form] : {std::pair{&w.summary, SummaryForm::json},
                                               std::pair{&w.report, SummaryForm::report}}) {
                if (!*target) continue;
                const Target& t = **target;
                const bool busy = std::find(w.written_in_place.begin(), w.written_in_place.end(),
                                            &t) != w.written_in_place.end();
                if (busy || among(w.run_files, t)) continue;
                try {
                    std::string error;
                    write_document(t, form, interrupted_document(*w.document, signal, w.phase),
                                   error, WAIT_MS);
                } catch (const std::exception&) {
                    // Nothing more can be said; the signal ends the program all the same.
                }
            }
        }
        if (w.finished) return;
        remove_temporaries();
    }
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

void Watch::protect(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return;
    if (const auto id = plain_file(st)) {
        std::lock_guard lock(mutex);
        run_files.push_back(*id);
    }
}

void Watch::protect(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    if (const auto id = plain_file(st)) {
        std::lock_guard lock(mutex);
        run_files.push_back(*id);
    }
}

bool Watch::is_run_file(const Target& target) {
    std::lock_guard lock(mutex);
    return among(run_files, target);
}

void Watch::snapshot(Summary doc, const char* name) {
    std::lock_guard lock(mutex);
    document = std::move(doc);
    phase = name;
}

void Watch::start_writing(const Target& target) {
    std::lock_guard lock(mutex);
    if (target.kind != Target::Kind::replace) written_in_place.push_back(&target);
}

void Watch::finish() {
    std::lock_guard lock(mutex);
    finished = true;
    document.reset();
}

Watch& watch_signals(std::optional<Target> summary, std::optional<Target> report) {
    // Never destroyed: the thread may still use it while the program exits.
    static Watch* const watch = new Watch;
    watch->summary = std::move(summary);
    watch->report = std::move(report);
    static const sigset_t signals = watched_signals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([] {
        for (;;) {
            int signal = 0;
            if (::sigwait(&signals, &signal) == 0) on_signal(*watch, signal);
        }
    }).detach();
    return *watch;
}

}  // namespace kinstrom
