#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>

#include "export/file_io.h"
#include "export/file_io_system.h"

namespace idb {

// The standard library compares device and inode here.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return same && !error;
}

std::string NotReplaceable(const std::filesystem::path& target) {
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) return {};   // absent, or the rename will say why
    if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) return {};
    if (S_ISDIR(info.st_mode)) return "is a folder, not a file";
    return "is not a regular file (a device, a pipe or a socket); it is never replaced";
}

bool IsLink(const std::filesystem::path& path) noexcept {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

namespace system {

unsigned long CurrentProcess() { return static_cast<unsigned long>(getpid()); }

bool ProcessRunning(unsigned long process) {
    if (process == 0 || process > static_cast<unsigned long>(INT_MAX)) return false;
    return kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM;
}

bool OwnedRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

// O_EXCL with O_NOFOLLOW: a link someone put at the name is never written through.
ScopedFile CreateNew(const std::filesystem::path& path, std::error_code& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category());
        return ScopedFile();
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        error = std::error_code(errno ? errno : EIO, std::generic_category());
        close(fd);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return ScopedFile();
    }
    error.clear();
    return ScopedFile(file);
}

// rename() replaces an existing target atomically.
std::error_code Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return error;
}

}  // namespace system
}  // namespace idb
