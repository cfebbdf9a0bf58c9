#include "export/file_io.h"

#include <atomic>
#include <cerrno>
#include <random>

namespace idb {

ScopedFile& ScopedFile::operator=(ScopedFile&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = other.file_;
        other.file_ = nullptr;
    }
    return *this;
}

ScopedFile::~ScopedFile() { Close(); }

bool ScopedFile::Close() noexcept {
    if (!file_) return true;
    const int rc = std::fclose(file_);
    file_ = nullptr;
    return rc == 0;
}

namespace {

ScopedFile Open(const std::filesystem::path& path, bool write, std::error_code& error) {
    errno = 0;
#ifdef _WIN32
    // The narrow fopen would squeeze the name through the ANSI code page.
    std::FILE* file = _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
    if (!file) error = std::error_code(errno ? errno : EIO, std::generic_category());
    else error.clear();
    return ScopedFile(file);
}

}  // namespace

ScopedFile OpenForRead(const std::filesystem::path& path, std::error_code& error) {
    return Open(path, false, error);
}

ScopedFile OpenForWrite(const std::filesystem::path& path, std::error_code& error) {
    return Open(path, true, error);
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    // Drawn once: the system's random source costs a file read per call.
    static const unsigned runPart = std::random_device()();
    static std::atomic<unsigned> counter{0};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x-%u.tmp", runPart, counter++);
    std::filesystem::path temporary = target;
    temporary += suffix;
    return temporary;
}

// The C runtime's fseek takes a long, 32 bits on Windows even in 64-bit builds.
bool SeekFile(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SeekFileEnd(std::FILE* file) {
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END) == 0;
#else
    return fseeko(file, 0, SEEK_END) == 0;
#endif
}

}  // namespace idb
