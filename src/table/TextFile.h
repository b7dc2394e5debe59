// Plain single-byte text files: lines ended by CR LF, no byte-order mark, written whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// HiddenText: lines stood after a NUL; those before it were handed on, but a save would drop
// the rest.
enum class TReadStatus { Ok, Missing, Failed, HiddenText };

// Why a file was not written.
enum class TFileFault {
    None,
    ReadOnly,      // the file is read-only for this user
    NoAccess,      // the folder or the file refuses this user
    ReadOnlyDisk,  // the file system is mounted read-only
    DiskFull,
    InUse,          // another program holds the file
    NotAFile,       // a folder, device or pipe stands at the name
    LinkRefused,    // a link another user could have aimed at any file (running as root)
    Failed,         // any other system error, in Error
    ListWithheld,   // the list could not be read at start, so nothing is written over it
    UnreadableRow,  // a row's address or MAC cannot go into a script, in Row (from 0)
};

struct TFileResult {
    TFileFault Fault = TFileFault::None;
    int Error = 0;  // the system's error code, where there was one
    int Row = -1;
    explicit operator bool() const { return Fault == TFileFault::None; }
};

// A list file larger than this is not read (no hand-kept list comes near it).
constexpr std::uint64_t kMaxTextFileSize = std::uint64_t{256} << 20;

using TLineVisitor = std::function<void(std::string_view line)>;

// Cuts text fed in pieces into lines at CR LF, a lone CR or a lone LF; a last line without an
// ending is kept; a NUL byte ends the text.
class TLineCutter {
  public:
    void Feed(std::string_view bytes, const TLineVisitor& onLine);
    void Finish(const TLineVisitor& onLine);
    // Whether anything but NULs and blanks (codes up to 32) followed a NUL: lines that the
    // NUL hid, which no save may drop.
    bool TextAfterNul() const { return textAfterNul_; }

  private:
    void CheckTail(std::string_view bytes);

    std::string partial_;
    bool afterCR_ = false;
    bool ended_ = false;
    bool textAfterNul_ = false;
};

std::vector<std::string> SplitLines(std::string_view text);
// Every line, the last one included, followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// A first pass over a file's lines, before anything is handed on: false for a line refuses
// the whole file.
using TLineCheck = std::function<bool(std::string_view line)>;
// Reads from an opened file: bytes read, 0 at the end, negative on error.
using TFileReader = std::function<std::int64_t(char*, std::size_t)>;

// Cuts what read gives into lines, through a buffer of its own: Failed on a read error or more
// than kMaxTextFileSize bytes, HiddenText when anything but padding followed a NUL.
TReadStatus CutLines(const TFileReader& read, const TLineVisitor& onLine);
// The two passes of ReadTextLines over an opened file; rewind goes back to its start.
TReadStatus CutLinesTwice(const TFileReader& read, const std::function<bool()>& rewind,
                          const TLineCheck& countLine, const TLineVisitor& onLine);

// The folder a relative path is taken in: the working folder, or (POSIX) a folder opened once
// with OpenFolder, whatever is done to its name afterwards.
constexpr int kWorkingFolder = -100;  // AT_FDCWD

// Reads a regular file of at most kMaxTextFileSize bytes in one open, in two passes. The first
// hands every line to countLine, which may refuse the file; only when the whole file has been
// read without error and not refused does onLine get each line before any NUL, in order
// (HiddenText when text followed the NUL). Failed for a refused file and for anything else (a
// folder, a pipe, a device, a read error, a link another user could have aimed anywhere; see
// WriteTextLines).
TReadStatus ReadTextLines(const std::string& path, const TLineCheck& countLine,
                          const TLineVisitor& onLine, int folder = kWorkingFolder);

// Replaces path with the lines: the new text goes to a temporary file of its own in the same
// folder, which takes the old file's owner and permissions and is renamed over it once
// complete, so that the previous file stays whole until then. Where the folder takes no new
// file (or the owner cannot be kept) an existing file this user may write is rewritten in
// place. A link is followed and its target replaced, unless another user could have aimed it
// anywhere: running as root, a link or a folder it leads into that belongs to someone else;
// for anyone, a stranger's link in a shared sticky folder (LinkRefused). A read-only file is
// left alone. On Windows, path is UTF-8, and a file another program holds is tried again for
// about 2 s before it counts as InUse or NoAccess.
TFileResult WriteTextLines(const std::string& path, const std::vector<std::string>& lines,
                           int folder = kWorkingFolder);

#ifndef _WIN32
// A folder opened once and kept open, for the folder argument above.
class TFolder {
  public:
    TFolder() = default;
    explicit TFolder(int fd) : fd_(fd) {}
    ~TFolder();
    TFolder(TFolder&& other) noexcept;
    TFolder& operator=(TFolder&& other) noexcept;
    int Fd() const { return fd_; }

  private:
    int fd_ = kWorkingFolder;
};

// Opens the folder at path, following links at every step by WriteTextLines' rules: running
// as root, a link of another user, or a folder such a link leads into that is another user's,
// is refused (LinkRefused), as is, for anyone, a stranger's link in a shared sticky folder.
TFileResult OpenFolder(const std::string& path, TFolder& folder);
#else
class TFolder {
  public:
    int Fd() const { return kWorkingFolder; }
};
#endif

// Seams of the POSIX writer for tests: whether unnamed temporary files (O_TMPFILE) are offered,
// as on most Linux file systems, and where the names of named ones come from (empty: names no
// one can guess).
struct TTemporaryFiles {
    bool Unnamed = true;
    std::function<std::string(const std::string& name)> NameFor;
};
extern TTemporaryFiles TemporaryFiles;

// The system's text for an error code of TFileResult::Error, in UTF-8 on Windows.
std::string SystemErrorText(int error);
