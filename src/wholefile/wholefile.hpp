// Files written whole (the run summary, the report): where a name leads, and the writing that
// never destroys what is there.
//
// - A plain file, or a name not there yet, is written under a temporary name in its folder and
//   renamed over the name at the end, so a reader sees the earlier file or the new one, never
//   half of one; the new file keeps the earlier one's mode. A symbolic link is followed: the file
//   it leads to is replaced and the link stays a link.
// - A named pipe, a character device or a socket is opened and written in place.
// - A name that leads to one of the descriptors the program was started with (/dev/stderr, the
//   shell's /dev/fd/N) is written through that descriptor, never reopened or replaced; standard
//   input and standard output (the listing) are refused.
//
// Every temporary file is on one list until it is renamed or removed, so that a run stopped by
// a signal can remove them all.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kinstrom {

// Two names lead to the same file when its device and inode agree, whatever their spelling.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> file_id(const std::string& name);  // following links; none when not there
std::optional<FileId> file_id(int fd);

struct Target {
    enum class Kind { replace, in_place, descriptor };
    std::string name;  // as given
    Kind kind = Kind::replace;
    std::string path;              // replace: the name at the end of its links; else `name`
    int descriptor = -1;           // descriptor: the program's own descriptor that `name` leads to
    std::optional<FileId> folder;  // replace: the folder of `path`, when it is there
    std::string base;              // replace: the last part of `path`
    std::optional<mode_t> mode;    // replace: the mode of the file there at the start

    // The file there now, if any.
    std::optional<FileId> id() const;
    // Whether two targets are one file: the same file there now, or the same last part in the
    // same folder.
    bool same_file(const Target& other) const;
};

// Where `name` leads, taken at the program's start (its own descriptors are those open then);
// nothing, with `error` a sentence saying why, when nothing may be written there: a folder,
// standard input or output, a loop of links.
std::optional<Target> find_target(const std::string& name, std::string& error);

// Removes the plain file a replace target leads to (a link stays), so that no earlier file is
// left to be taken for this run's; the mode is kept for the new file.
void remove_earlier(const Target& target);

// One file written whole, as it goes: open, write, commit. Destroyed before its commit, it
// leaves the earlier file as it was (a temporary is removed).
class WholeFile {
  public:
    // `wait_ms` bounds the waits on a pipe or socket in place (no reader yet, a full pipe);
    // negative: wait as long as it takes.
    explicit WholeFile(const Target& target, int wait_ms = -1);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    // Each false with error() set; a failed step makes the later ones fail.
    bool open();
    bool write(std::string_view bytes);
    bool commit();
    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& what, int err);
    void abandon();

    const Target& target_;
    int wait_ms_;
    int fd_ = -1;
    bool own_fd_ = false;
    std::string temporary_;
    std::string error_;
};

// Opens, writes `bytes` and commits; false with `error` set.
bool write_whole(const Target& target, std::string_view bytes, std::string& error,
                 int wait_ms = -1);

// Held, no temporary is made or renamed by another thread; the holder may go on writing.
std::unique_lock<std::recursive_mutex> hold_renames();
// Removes every temporary not yet renamed (call it holding hold_renames()).
void remove_temporaries();

}  // namespace kinstrom
