#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "export/file_io.h"
#include "export/file_io_system.h"

namespace idb {

namespace {

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

// Opened for no access at all, sharing everything: a table or database that
// another program holds open can still be identified.
bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!known) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

}  // namespace

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept {
    FileIdentity first;
    FileIdentity second;
    if (!IdentityOf(a, first) || !IdentityOf(b, second)) return false;
    return first.volume == second.volume && first.indexHigh == second.indexHigh &&
           first.indexLow == second.indexLow;
}

std::string NotReplaceable(const std::filesystem::path& target) {
    // The link itself is looked at, not what it leads to; a device name
    // (NUL, CON, COM1...) opens the device.
    HANDLE file = CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (type != FILE_TYPE_DISK) return "is a device or a pipe, not a regular file; it is never replaced";
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {};
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "is a folder, not a file";
    return {};
}

bool IsLink(const std::filesystem::path& path) noexcept {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

namespace system {

unsigned long CurrentProcess() { return GetCurrentProcessId(); }

bool ProcessRunning(unsigned long process) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
    if (!handle) return GetLastError() != ERROR_INVALID_PARAMETER;   // denied: it exists
    DWORD code = 0;
    const bool running = GetExitCodeProcess(handle, &code) && code == STILL_ACTIVE;
    CloseHandle(handle);
    return running;
}

// Windows keeps no owner that a program may compare this simply; the name
// pattern and the dead process carry the check.
bool OwnedRegularFile(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// CREATE_NEW never opens what is at the name already, a link included.
ScopedFile CreateNew(const std::filesystem::path& path, std::error_code& error) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) error = std::make_error_code(std::errc::file_exists);
        else error = std::error_code(static_cast<int>(code), std::system_category());
        return ScopedFile();
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (!file) {
        if (fd >= 0) _close(fd);
        else CloseHandle(handle);
        DeleteFileW(path.c_str());
        error = std::make_error_code(std::errc::too_many_files_open);
        return ScopedFile();
    }
    error.clear();
    return ScopedFile(file);
}

// _wrename fails when the target exists; MoveFileExW replaces it, and
// returns only once the move is on the disk.
std::error_code Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

}  // namespace system
}  // namespace idb
