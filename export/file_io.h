// Owned C stdio streams opened by std::filesystem::path, so that file names
// outside the ANSI code page work on Windows too, and the other file
// operations the libraries share. The per-system halves live in
// file_io_posix.cpp and file_io_win.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace idb {

// Closes the stream on destruction; non-copyable, movable.
class ScopedFile {
public:
    ScopedFile() = default;
    explicit ScopedFile(std::FILE* file) noexcept : file_(file) {}
    ScopedFile(ScopedFile&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
    ScopedFile& operator=(ScopedFile&& other) noexcept;
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    ~ScopedFile();

    std::FILE* Get() const noexcept { return file_; }
    explicit operator bool() const noexcept { return file_ != nullptr; }
    // Closes now and reports whether everything buffered reached the file.
    bool Close() noexcept;

private:
    std::FILE* file_ = nullptr;
};

// Opens for reading raw bytes; on failure an empty holder and `error` set.
ScopedFile OpenForRead(const std::filesystem::path& path, std::error_code& error);
// Creates or replaces a file for writing raw bytes.
ScopedFile OpenForWrite(const std::filesystem::path& path, std::error_code& error);
// Creates a new file for writing; fails (std::errc::file_exists) when the
// name is taken, by a link too, so nothing is ever written through one.
ScopedFile OpenNewForWrite(const std::filesystem::path& path, std::error_code& error);

// Moves to `offset` from the start, past 2 GiB too on every C runtime;
// false on failure.
bool SeekFile(std::FILE* file, std::uint64_t offset);
// Moves to the end; false on failure.
bool SeekFileEnd(std::FILE* file);

// A name for a temporary file beside `target`, in its folder so that the
// replacement below is one rename: the target's name (cut to 225 bytes, so
// that a name of up to 255 still gets one) followed by
// `.~gdb<process id>-<n>.tmp`. It differs between calls of one process and
// between processes that run at the same time.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target);
// Creates a new temporary beside `target` (TemporaryBeside) and opens it for
// writing. It is made anew, never opened through a link or file planted at its
// name; `temporary` gets its name. On failure an empty holder and `error` set.
ScopedFile CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary,
                                 std::error_code& error);
// Removes the temporaries of our pattern beside `target` that a run which no
// longer exists left behind (killed, or the machine stopped): regular files of
// the current user whose process id names no running process. Returns how
// many went; failures are ignored (the next run tries again).
int RemoveStaleTemporaries(const std::filesystem::path& target) noexcept;

// Why an output file cannot take the place of `target`: it exists and is a
// folder, a device, a pipe or a socket. Empty when `target` is absent, a
// regular file, or a link (a link is replaced itself, never followed).
std::string NotReplaceable(const std::filesystem::path& target);
// Whether `path` is a symbolic link (on Windows any reparse point: links and
// junctions). False when it does not exist.
bool IsLink(const std::filesystem::path& path) noexcept;

// Replaces `target` (if any) by `temporary` in one step: readers see the old
// file or the new one. A target that NotReplaceable refuses is left alone and
// an error returned. Returns the system's error, empty on success.
std::error_code ReplaceByTemporary(const std::filesystem::path& temporary, const std::filesystem::path& target);
// The category of that refusal (its message is meant for every system).
const std::error_category& NotRegularFileCategory();

// Whether two paths name one file, judged by the file system's identity of
// the file (device and inode, or volume serial and file index), not by name:
// hard links, symbolic links and other spellings of a path are caught too.
// False when either path does not name an existing file or cannot be examined.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

}  // namespace idb
