#include "wholefile/wholefile.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kinstrom {

namespace {

constexpr int MAX_LINKS = 40;                // as the system follows them
constexpr std::size_t NAME_MAX_BYTES = 255;  // the longest last part of a name

std::optional<FileId> id_of(const struct stat& st) {
    return FileId{st.st_dev, st.st_ino};
}

// The descriptors open now, by number.
std::vector<int> open_descriptors() {
    std::vector<int> fds;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(dir);
        while (const dirent* e = ::readdir(dir)) {
            char* end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0' && fd != own) fds.push_back(static_cast<int>(fd));
        }
        ::closedir(dir);
    } else {
        for (int fd = 0; fd < 1024; ++fd)
            if (::fcntl(fd, F_GETFD) != -1) fds.push_back(fd);
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The name at the end of `name`'s symbolic links (the last part, a link itself, is followed;
// the folders on the way are left to the system).
std::optional<std::string> end_of_links(std::string path) {
    for (int hop = 0; hop <= MAX_LINKS; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n < 0) return path;
        to.resize(static_cast<std::size_t>(n));
        path = !to.empty() && to[0] == '/' ? to : folder_of(path) + "/" + to;
    }
    return std::nullopt;
}

// A temporary name beside `path` that fits however long its last part is.
std::string temporary_pattern(const Target& t) {
    const std::string suffix = ".XXXXXX";
    const std::string base = t.base.substr(0, NAME_MAX_BYTES - suffix.size());
    const std::string folder = folder_of(t.path);
    return (t.path.find('/') == std::string::npos ? "" : folder + "/") + base + suffix;
}

struct Temporaries {
    std::recursive_mutex mutex;
    std::vector<std::string> names;
};
Temporaries& temporaries() {
    static Temporaries t;
    return t;
}

void forget_temporary(const std::string& name) {
    auto& t = temporaries();
    std::lock_guard lock(t.mutex);
    t.names.erase(std::remove(t.names.begin(), t.names.end(), name), t.names.end());
}

}  // namespace

std::optional<FileId> file_id(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return std::nullopt;
    return id_of(st);
}

std::optional<FileId> file_id(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return id_of(st);
}

std::optional<FileId> Target::id() const {
    return file_id(path);
}

bool Target::same_file(const Target& other) const {
    const auto mine = id(), theirs = other.id();
    if (mine || theirs) return mine == theirs;
    return kind == Kind::replace && other.kind == Kind::replace && folder &&
           folder == other.folder && base == other.base;
}

std::optional<Target> find_target(const std::string& name, std::string& error) {
    Target t;
    t.name = t.path = name;
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "this is a folder: name a file";
            return std::nullopt;
        }
        const bool device = S_ISCHR(st.st_mode);
        for (const int fd : open_descriptors()) {
            if (file_id(fd) != id_of(st)) continue;
            // A device is opened again as well (/dev/null, a terminal), but not the terminal
            // that shows the listing.
            if (device && !(fd == STDOUT_FILENO && ::isatty(fd) == 1)) break;
            if (fd == STDIN_FILENO) {
                error =
                    "this is standard input, the directive file: give the file a name of its own";
                return std::nullopt;
            }
            if (fd == STDOUT_FILENO) {
                error =
                    "this is standard output, which holds the listing: give the file a name "
                    "of its own";
                return std::nullopt;
            }
            t.kind = Target::Kind::descriptor;
            t.descriptor = fd;
            return t;
        }
        if (!S_ISREG(st.st_mode)) {
            t.kind = Target::Kind::in_place;
            return t;
        }
        t.mode = st.st_mode & 07777;
    }
    const auto end = end_of_links(name);
    if (!end) {
        error = std::strerror(ELOOP);
        return std::nullopt;
    }
    t.path = *end;
    const std::size_t slash = t.path.find_last_of('/');
    t.base = slash == std::string::npos ? t.path : t.path.substr(slash + 1);
    t.folder = file_id(folder_of(t.path));
    return t;
}

void remove_earlier(const Target& target) {
    struct stat st {};
    if (target.kind == Target::Kind::replace && ::lstat(target.path.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
        ::unlink(target.path.c_str());
}

WholeFile::WholeFile(const Target& target, int wait_ms) : target_(target), wait_ms_(wait_ms) {}

WholeFile::~WholeFile() {
    abandon();
}

bool WholeFile::fail(const std::string& what, int err) {
    if (error_.empty()) error_ = what + std::strerror(err != 0 ? err : EIO);
    abandon();
    return false;
}

void WholeFile::abandon() {
    if (own_fd_ && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        forget_temporary(temporary_);
        temporary_.clear();
    }
}

bool WholeFile::open() {
    switch (target_.kind) {
        case Target::Kind::descriptor:
            fd_ = target_.descriptor;
            return true;
        case Target::Kind::in_place: {
            struct stat st {};
            own_fd_ = true;
            const int nonblocking = wait_ms_ >= 0 ? O_NONBLOCK : 0;
            if (::stat(target_.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                if (target_.path.size() >= sizeof address.sun_path)
                    return fail("cannot connect to the socket: ", ENAMETOOLONG);
                std::memcpy(address.sun_path, target_.path.c_str(), target_.path.size());
                for (const int type : {SOCK_STREAM, SOCK_SEQPACKET, SOCK_DGRAM}) {
                    fd_ = ::socket(AF_UNIX, type | SOCK_CLOEXEC | nonblocking, 0);
                    if (fd_ < 0) return fail("cannot connect to the socket: ", errno);
                    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address),
                                  sizeof address) == 0)
                        return true;
                    const int err = errno;
                    ::close(fd_);
                    fd_ = -1;
                    if (err != EPROTOTYPE) return fail("cannot connect to the socket: ", err);
                }
                return fail("cannot connect to the socket: ", EPROTOTYPE);
            }
            fd_ = ::open(target_.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | nonblocking);
            return fd_ >= 0 || fail("cannot open it: ", errno);
        }
        case Target::Kind::replace:
            break;
    }
    std::string name = temporary_pattern(target_);
    {
        auto& t = temporaries();
        std::lock_guard lock(t.mutex);
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) return fail("cannot create a new file in its folder: ", errno);
        own_fd_ = true;
        temporary_ = name;
        t.names.push_back(name);
    }
    // The mode of the file replaced, else the usual one.
    struct stat st {};
    mode_t mode = 0;
    if (::stat(target_.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    } else if (target_.mode) {
        mode = *target_.mode;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    return ::fchmod(fd_, mode) == 0 || fail("cannot create a new file in its folder: ", errno);
}

bool WholeFile::write(std::string_view bytes) {
    if (fd_ < 0) return fail("cannot write it: ", EBADF);
    const auto start = std::chrono::steady_clock::now();
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && wait_ms_ >= 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            pollfd p{fd_, POLLOUT, 0};
            if (spent < wait_ms_ && ::poll(&p, 1, static_cast<int>(wait_ms_ - spent)) >= 0)
                continue;
            return fail("cannot write it: ", ETIMEDOUT);
        }
        return fail("cannot write it: ", n < 0 ? errno : EIO);
    }
    return true;
}

bool WholeFile::commit() {
    if (fd_ < 0) return fail("cannot write it: ", EBADF);
    if (!own_fd_) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail("cannot write it: ", errno);
    if (temporary_.empty()) return true;
    auto& t = temporaries();
    std::lock_guard lock(t.mutex);
    // A run stopped by a signal has removed the temporary already.
    if (std::find(t.names.begin(), t.names.end(), temporary_) == t.names.end())
        return fail("cannot write it: ", ECANCELED);
    if (std::rename(temporary_.c_str(), target_.path.c_str()) != 0)
        return fail("cannot write it: ", errno);
    forget_temporary(temporary_);
    temporary_.clear();
    return true;
}

bool write_whole(const Target& target, std::string_view bytes, std::string& error, int wait_ms) {
    WholeFile file(target, wait_ms);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok) error = file.error();
    return ok;
}

std::unique_lock<std::recursive_mutex> hold_renames() {
    return std::unique_lock(temporaries().mutex);
}

void remove_temporaries() {
    auto& t = temporaries();
    std::lock_guard lock(t.mutex);
    for (const std::string& name : t.names) ::unlink(name.c_str());
    t.names.clear();
}

}  // namespace kinstrom
