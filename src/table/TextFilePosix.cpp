// Reading and replacing text files on POSIX systems. Every step works relative to an opened
// folder, and nothing is created or opened through a name another user could have planted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "TextFile.h"

TTemporaryFiles TemporaryFiles;

namespace {

class TFd {
  public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    void Reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int fd_;
};

template <typename F>
auto RetryOnEintr(F call) {
    decltype(call()) rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

TFileResult Fault(TFileFault fault, int error = 0) { return TFileResult{fault, error, -1}; }

TFileResult FromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return Fault(TFileFault::NoAccess, error);
        case EROFS:
            return Fault(TFileFault::ReadOnlyDisk, error);
        case ENOSPC:
        case EDQUOT:
            return Fault(TFileFault::DiskFull, error);
        case ETXTBSY:
            return Fault(TFileFault::InUse, error);
        case EISDIR:
            return Fault(TFileFault::NotAFile, error);
        default:
            return Fault(TFileFault::Failed, error);
    }
}

// "dir/name" as ("dir", "name"); a bare name lies in ".".
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Unpredictable, so that nobody can plant anything at the name beforehand.
std::string TemporaryName(const std::string& name) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    std::string suffix;
    for (int i = 0; i < 3; ++i) {
        std::uint32_t bits = random();
        for (int k = 0; k < 4; ++k, bits /= 36) suffix += kDigits[bits % 36];
    }
    return name + ".tmp-" + suffix;
}

std::string NextTemporaryName(const std::string& name) {
    return TemporaryFiles.NameFor ? TemporaryFiles.NameFor(name) : TemporaryName(name);
}

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = RetryOnEintr([&] {
            return pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        });
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Sync(int fd) {
    return RetryOnEintr([fd] { return fsync(fd); }) == 0;
}

// The file a save replaces: its folder, its name there, and what stood there when it was found.
struct TTarget {
    TFd Dir;
    std::string Name;
    bool Exists = false;
    struct stat St {};
};

// Follows links at the name to the file they lead to. Running as root, a link, or a folder it
// leads into, that belongs to another user is refused: that user could aim it at any file of
// the system. Anyone else is refused a stranger's link in a shared folder.
TFileResult FindTarget(TFd dir, std::string name, TTarget& target) {
    const uid_t self = geteuid();
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return FromErrno(errno);
            target = TTarget{std::move(dir), std::move(name), false, {}};
            return {};
        }
        if (!S_ISLNK(st.st_mode)) {
            target = TTarget{std::move(dir), std::move(name), true, st};
            return {};
        }
        if (self == 0 && st.st_uid != self) return Fault(TFileFault::LinkRefused);
        // The kernel's rule for opening through links in shared folders (sticky and writable by
        // all, as /tmp): only a link of this user or of the folder's owner is followed.
        struct stat dirSt {};
        if (fstat(dir.Get(), &dirSt) != 0) return FromErrno(errno);
        if ((dirSt.st_mode & S_ISVTX) != 0 && (dirSt.st_mode & S_IWOTH) != 0 && st.st_uid != self &&
            st.st_uid != dirSt.st_uid) {
            return Fault(TFileFault::LinkRefused);
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlinkat(dir.Get(), name.c_str(), link.data(), link.size());
        if (n < 0) return FromErrno(errno);
        if (n == 0 || static_cast<std::size_t>(n) >= link.size()) {
            return Fault(TFileFault::Failed, ENAMETOOLONG);
        }
        link.resize(static_cast<std::size_t>(n));
        // Named copies: lambdas may not capture structured bindings before clang 16.
        std::string folder;
        std::string last;
        std::tie(folder, last) = SplitPath(link);
        if (last.empty() || last == "." || last == "..") return Fault(TFileFault::NotAFile);
        TFd next(RetryOnEintr(
            [&] { return openat(dir.Get(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
        if (!next.Valid()) return FromErrno(errno);
        if (self == 0) {
            struct stat folderSt {};
            if (fstat(next.Get(), &folderSt) != 0) return FromErrno(errno);
            if (folderSt.st_uid != self) return Fault(TFileFault::LinkRefused);
        }
        dir = std::move(next);
        name = std::move(last);
    }
    return Fault(TFileFault::Failed, ELOOP);
}

// Opens the folder of path (relative to base) and follows the links at its name there, as
// FindTarget does.
TFileResult LocateTarget(int base, const std::string& path, TTarget& target) {
    std::string folder;
    std::string name;
    std::tie(folder, name) = SplitPath(path);
    if (name.empty()) return Fault(TFileFault::NotAFile);
    TFd dir(RetryOnEintr(
        [&] { return openat(base, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!dir.Valid()) return FromErrno(errno);
    return FindTarget(std::move(dir), std::move(name), target);
}

// The user's own permission decides; root may write anything, so for root the owner's write
// bit stands for the read-only attribute.
TFileResult CheckWritable(const TTarget& target) {
    if (geteuid() == 0) {
        return (target.St.st_mode & S_IWUSR) != 0 ? TFileResult{} : Fault(TFileFault::ReadOnly);
    }
    if (faccessat(target.Dir.Get(), target.Name.c_str(), W_OK, AT_EACCESS) == 0) return {};
    if (errno == EACCES) return Fault(TFileFault::ReadOnly);
    return FromErrno(errno);
}

// Without a folder that takes new files, or an owner this user can give a new file, the file
// is rewritten where it stands. Room for the whole text is taken first, so that a full disk
// stops the save before a byte is overwritten; the text is written over the old one and then
// cut to its length. A crash meanwhile can leave a mix: only a rename is all or nothing.
TFileResult RewriteInPlace(const TTarget& target, const std::string& text) {
    TFd fd(RetryOnEintr([&] {
        return openat(target.Dir.Get(), target.Name.c_str(),
                      O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    }));
    if (!fd.Valid()) return FromErrno(errno);
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) return FromErrno(errno);
    if (!S_ISREG(st.st_mode) || st.st_ino != target.St.st_ino || st.st_dev != target.St.st_dev) {
        return Fault(TFileFault::NotAFile);
    }
    const auto size = static_cast<off_t>(text.size());
    if (size > st.st_size) {
        const int rc = posix_fallocate(fd.Get(), 0, size);
        if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
            // Whatever the failed reservation added goes again; the text is untouched.
            const int cut = ftruncate(fd.Get(), st.st_size);
            (void)cut;
            return FromErrno(rc);
        }
    }
    if (!WriteAll(fd.Get(), text)) return FromErrno(errno);
    if (RetryOnEintr([&] { return ftruncate(fd.Get(), size); }) != 0) return FromErrno(errno);
    if (!Sync(fd.Get())) return FromErrno(errno);
    return {};
}

// A new file of its own in the target's folder, readable by this user only. Where the file
// system can, it has no name at all until it is complete, so that a save killed half-way
// leaves nothing behind.
struct TTemporary {
    TFd Fd;
    std::string Name;  // empty while unnamed
};

int OpenUnnamed(int dir) {
#ifdef O_TMPFILE
    if (TemporaryFiles.Unnamed) {
        return RetryOnEintr(
            [&] { return openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600); });
    }
#endif
    errno = EOPNOTSUPP;
    return -1;
}

int CreateTemporary(const TTarget& target, TTemporary& temp) {
    int fd = OpenUnnamed(target.Dir.Get());
    if (fd >= 0) {
        temp.Fd = TFd(fd);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = NextTemporaryName(target.Name);
        int named = RetryOnEintr([&] {
            return openat(target.Dir.Get(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        });
        if (named >= 0) {
            temp.Fd = TFd(named);
            temp.Name = std::move(name);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// The old file's owner, group and permission bits, without set-ID and sticky bits; a new file
// gets the mode a plain creation would give it. False when the owner or group cannot be kept.
// A file system without modes of its own (FAT) refuses fchmod; the file then stays at 0600
// where modes exist, which shows it to fewer users, never to more.
bool TakeOwnerAndMode(int fd, const TTarget& target) {
    mode_t mode = 0666 & ~CurrentUmask();
    if (target.Exists) {
        if (fchown(fd, target.St.st_uid, target.St.st_gid) != 0 && geteuid() != 0) return false;
        mode = target.St.st_mode & 0777;
    }
    const int changed = fchmod(fd, mode);
    (void)changed;
    return true;
}

// Gives an unnamed temporary file a name beside the target.
TFileResult Name(const TTarget& target, TTemporary& temp) {
    const std::string self = "/proc/self/fd/" + std::to_string(temp.Fd.Get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = NextTemporaryName(target.Name);
        int rc = linkat(AT_FDCWD, self.c_str(), target.Dir.Get(), name.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno == ENOENT) {
            rc = linkat(temp.Fd.Get(), "", target.Dir.Get(), name.c_str(), AT_EMPTY_PATH);
        }
        if (rc == 0) {
            temp.Name = std::move(name);
            return {};
        }
        if (errno != EEXIST) return FromErrno(errno);
    }
    return Fault(TFileFault::Failed, EEXIST);
}

TFileResult Replace(const TTarget& target, const std::string& text) {
    TTemporary temp;
    if (int error = CreateTemporary(target, temp); error != 0) {
        if ((error == EACCES || error == EPERM) && target.Exists) {
            return RewriteInPlace(target, text);
        }
        return FromErrno(error);
    }
    if (!TakeOwnerAndMode(temp.Fd.Get(), target)) {
        if (!temp.Name.empty()) unlinkat(target.Dir.Get(), temp.Name.c_str(), 0);
        return RewriteInPlace(target, text);
    }
    TFileResult result;
    if (!WriteAll(temp.Fd.Get(), text)) result = FromErrno(errno);
    if (result && !Sync(temp.Fd.Get())) result = FromErrno(errno);
    if (result && temp.Name.empty()) result = Name(target, temp);
    if (result &&
        renameat(target.Dir.Get(), temp.Name.c_str(), target.Dir.Get(), target.Name.c_str()) != 0) {
        result = FromErrno(errno);
    }
    if (!result) {
        if (!temp.Name.empty()) unlinkat(target.Dir.Get(), temp.Name.c_str(), 0);
        return result;
    }
    // The rename itself reaches the disk with the folder.
    (void)Sync(target.Dir.Get());
    return {};
}

}  // namespace

TReadStatus ReadTextLines(const std::string& path, const TLineCheck& countLine,
                          const TLineVisitor& onLine, int folder) {
    TTarget target;
    if (TFileResult found = LocateTarget(folder, path, target); !found) {
        return found.Error == ENOENT ? TReadStatus::Missing : TReadStatus::Failed;
    }
    if (!target.Exists) return TReadStatus::Missing;
    if (!S_ISREG(target.St.st_mode)) return TReadStatus::Failed;
    // The name is opened where it was found, without following a link swapped in since, and
    // fstat checks what was opened: a pipe or a device swapped in meanwhile is never read
    // (O_NONBLOCK keeps the open of a pipe from waiting for a writer).
    TFd fd(RetryOnEintr([&] {
        return openat(target.Dir.Get(), target.Name.c_str(),
                      O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    }));
    if (!fd.Valid()) return errno == ENOENT ? TReadStatus::Missing : TReadStatus::Failed;
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxTextFileSize) {
        return TReadStatus::Failed;
    }
    const auto read = [&fd](char* buffer, std::size_t size) -> std::int64_t {
        return RetryOnEintr([&] { return ::read(fd.Get(), buffer, size); });
    };
    const auto rewind = [&fd] { return lseek(fd.Get(), 0, SEEK_SET) == 0; };
    return CutLinesTwice(read, rewind, countLine, onLine);
}

TFileResult WriteTextLines(const std::string& path, const std::vector<std::string>& lines,
                           int folder) {
    const std::string text = JoinLines(lines);
    TTarget target;
    if (TFileResult found = LocateTarget(folder, path, target); !found) return found;
    if (target.Exists) {
        if (!S_ISREG(target.St.st_mode)) return Fault(TFileFault::NotAFile);
        if (TFileResult writable = CheckWritable(target); !writable) return writable;
    }
    return Replace(target, text);
}

static_assert(kWorkingFolder == AT_FDCWD);

TFolder::~TFolder() {
    if (fd_ >= 0) close(fd_);
}

TFolder::TFolder(TFolder&& other) noexcept : fd_(std::exchange(other.fd_, kWorkingFolder)) {}

TFolder& TFolder::operator=(TFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, kWorkingFolder);
    }
    return *this;
}

TFileResult OpenFolder(const std::string& path, TFolder& folder) {
    if (path.empty()) return Fault(TFileFault::Failed, ENOENT);
    const char* start = path[0] == '/' ? "/" : ".";
    TFd dir(RetryOnEintr([&] { return open(start, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!dir.Valid()) return FromErrno(errno);
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t end = std::min(path.find('/', at), path.size());
        std::string step = path.substr(at, end - at);
        at = end + 1;
        if (step.empty() || step == ".") continue;
        struct stat st {};
        const bool link =
            fstatat(dir.Get(), step.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        TTarget target;
        if (TFileResult found = FindTarget(std::move(dir), std::move(step), target); !found)
            return found;
        if (!target.Exists) return Fault(TFileFault::Failed, ENOENT);
        dir = TFd(RetryOnEintr([&] {
            return openat(target.Dir.Get(), target.Name.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }));
        if (!dir.Valid()) return FromErrno(errno);
        // Running as root, a link may lead only into root's own folders, as for a file.
        if (link && geteuid() == 0 && (fstat(dir.Get(), &st) != 0 || st.st_uid != 0))
            return Fault(TFileFault::LinkRefused);
    }
    folder = TFolder(dir.Release());
    return {};
}

std::string SystemErrorText(int error) { return std::strerror(error); }
