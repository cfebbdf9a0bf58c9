#include "export/file_io.h"

#include <windows.h>

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

// _wrename fails when the target exists; MoveFileExW replaces it, and
// returns only once the move is on the disk.
std::error_code ReplaceByTemporary(const std::filesystem::path& temporary, const std::filesystem::path& target) {
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

}  // namespace idb
