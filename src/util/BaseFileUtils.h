#pragma once
// Path and file helpers. Stored paths use "\" and drive letters (e:\Photos\);
// paths on this machine use "/". The name-splitting helpers accept both
// separators, so a catalogue path and a local path split the same way.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The desktop and documents folders are the shell's part of the file helpers.
#include "util/BaseShell.h"

// Ends the path with a separator: "/" for a local path (one that holds "/"
// and no "\"), "\" otherwise; a path already ending in one is unchanged.
std::string PathAddSeparator(std::string_view path);

// The folder part of a file name (before the last separator or ":"), with a
// trailing separator.
std::string PathExtractFileDirWithDelimiter(std::string_view fileName);

// The file name without folder and without extension.
std::string PathExtractFileNameWithoutExtension(std::string_view path);

// The name without its extension. Only a "." after the last separator or ":"
// starts an extension; a name ending in "." loses just that dot.
std::string PathRemoveExtension(std::string_view name);

// The "." and at most three more characters (".html" gives ".htm"); a name
// without an extension is returned whole, not as an empty text.
std::string PathExtractExtension(std::string_view name);

bool IsDirectory(const std::string &path);

// The permission bits a new file gets: 0666 less the umask.
unsigned NewFileMode();
// The permission bits `mode` (0777 at most) less the umask.
unsigned ModeUnderUmask(unsigned mode);

// Replaces the file at `path` with `bytes` so that a reader sees either the
// whole old file or the whole new one: the bytes go to a temporary file in the
// same folder, are flushed to the disk, and the temporary file is renamed over
// `path`. An existing file keeps its permission bits; a new one gets the
// usual ones (0666 less the umask). On failure the old file is untouched, no
// temporary file is left, and `error` receives the system's reason.
bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error);

// The program's temporary files are named `path` + ".orbalist-tmp-" + six letters
// or digits, created with O_EXCL (an existing file is never opened) and locked
// (flock) while they are open. No other name is ever taken for one.

// The first half of WriteFileAtomically: `bytes` go to a new temporary file
// beside `path` (named as above), flushed to the
// disk and closed, with the permission bits of `path` when it exists. The
// caller renames `tmpName` into place or removes it. On failure nothing is
// left behind and `error` holds the system's reason.
bool WriteTempFileBeside(const std::string &path, std::string_view bytes, std::string &tmpName, std::string &error);

// Makes a new temporary name beside `path` (as above) that refers to the same
// file as `path` (a hard link), or, where the file system has no links, to a
// flushed copy of it. The file at `path` is not changed.
bool LinkOrCopyToTempBeside(const std::string &path, std::string &tmpName, std::string &error);

// Flushes the folder holding `path`, so that renames in it survive a crash.
void SyncFolderOf(const std::string &path);

// The folder holding `path` ("." for a bare name, "/" for a name at the root),
// and the last part of `path` (the whole of a bare name).
std::string FolderOfPath(const std::string &path);
std::string FileNameOfPath(const std::string &path);

// The name (without folder) of the file that the temporary file `name` (also
// without folder) was made for, or empty when `name` is not one of the
// program's temporary file names.
std::string_view TempFileTarget(std::string_view name);

// Removes the temporary files that an interrupted WriteTempFileBeside or
// WriteFileAtomically of `path` left behind: regular files with the temporary
// name of `path` (above), last changed before this process started, on which
// no process holds a lock (flock or fcntl), and which no commit journal of the
// folder names (see FileCommit.h). Answers how many were removed.
int RemoveStaleTempFiles(const std::string &path);
// RemoveStaleTempFiles, in one look at the folder `dir`, for every file of it
// whose name `wanted` accepts.
int RemoveStaleTempFilesIn(const std::string &dir, const std::function<bool(std::string_view target)> &wanted);

// Removes the temporary file `tmpName`. Empty when it is gone; otherwise a
// sentence that says it is still there and why, for the message of the failure.
std::string DiscardTempFile(const std::string &tmpName);

// rename(2) of `from` over `to`: 0, or the errno value of the failure.
int RenameFile(const std::string &from, const std::string &to);

// Tests only: when set, RenameFile asks the hook first; a non-zero answer is
// an errno value with which that rename fails.
void SetRenameFaultHook(int (*hook)(const std::string &from, const std::string &to));

// Tests only: the moment taken as the process's start by RemoveStaleTempFiles.
void SetProcessStartForTests(std::chrono::system_clock::time_point start);

// Tests only: when set, every temporary file made by the routines above asks
// the hook with the final path; a non-zero answer is an errno value with which
// the write fails half way through (as a full disk would), or the link or copy
// fails.
void SetFileWriteFaultHook(int (*hook)(const std::string &finalPath));

// The size of the first entry matching `path` (which may hold the wildcards
// "*" and "?" in its last component; folders match too, with size 0), or -1
// when nothing matches. Sizes are 64-bit: no real size is ever -1.
int64_t GetSizeOfFile(const std::string &path);

// True when GetSizeOfFile finds an entry: folders and matching patterns count.
bool FileExists(const std::string &path);

// Opens the file at `path` for reading in a way that can never wait: a named
// pipe, socket or device that carries the name of a file the program reads
// (an archive, a program, a picture) would hold an ordinary open until
// something wrote to it. Only a regular file is opened (the type is checked
// before the open and again on the opened descriptor, so a swap in between
// is caught). Answers the descriptor (close-on-exec, reads blocking as usual),
// which the caller closes, or -1 with errno set: the system's reason, or
// EINVAL for an entry that is not a regular file.
int OpenRegularFile(const std::string &path);

// Reads the whole regular file `path` (opened as above) into `bytes`; a file
// over `maxBytes` is refused. Empty on success, else why not, in English:
// "not a regular file", "cannot be opened", "file too large" or
// "cannot be read". `systemError`, when given, gets the system's reason of a
// file that could not be opened or read (EIO for one that shrank while read),
// 0 otherwise: callers tell a passing failure from a bad file by it, not by
// the text.
std::string ReadRegularFile(const std::string &path, std::string &bytes, uint64_t maxBytes,
                            int *systemError = nullptr);

// The running program's full file name (the module handle 0 is the program;
// other handles are not known here and give an empty text).
std::string GetModulePath(uintptr_t module = 0);

// The 52-byte fixed version record of a Windows program file, as 13 double
// words (signature 0xFEEF04BD first). False for a file without one, or one
// that is not a Windows program file.
using FixedFileVersionInfo = std::array<uint32_t, 13>;
bool GetFileVersionFixedInfo(const std::string &fileName, FixedFileVersionInfo &info);

// WriteTempFileBeside for bytes produced in pieces: each piece handed to Append starts
// on its way to the disk at once, so producing the next one overlaps the writing.
// Patch rewrites bytes already appended (a header filled in at the end). Finish flushes
// and closes the file and hands over its name; a writer dropped unfinished removes it.
class TTempFileWriter {
public:
    TTempFileWriter() = default;
    ~TTempFileWriter();
    TTempFileWriter(const TTempFileWriter &) = delete;
    TTempFileWriter &operator=(const TTempFileWriter &) = delete;

    bool Begin(const std::string &path, std::string &error);
    bool Append(const void *data, size_t size, std::string &error);
    bool Patch(uint64_t offset, const void *data, size_t size, std::string &error);
    bool Finish(std::string &tmpName, std::string &error);

private:
    bool Fail(int err, std::string &error);
    int fd_ = -1;
    int injected_ = 0;
    uint64_t written_ = 0, startedUpTo_ = 0;
    std::string tmp_;
};
