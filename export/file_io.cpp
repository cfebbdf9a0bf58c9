#include "export/file_io.h"

#include <string>
#include <string_view>

#include "export/file_io_system.h"

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

namespace {

// Temporaries are `<target name, cut>.~gdb<pid>-<n>.tmp`.
constexpr std::string_view kMarker = ".~gdb";
constexpr std::string_view kEnding = ".tmp";
// 255 bytes (or UTF-16 units) is the usual limit of a name; the suffix takes at most 30.
constexpr std::size_t kMaxPrefix = 225;

std::filesystem::path::string_type CutName(const std::filesystem::path& target) {
    std::filesystem::path::string_type name = target.filename().native();
    if (name.size() <= kMaxPrefix) return name;
    std::size_t cut = kMaxPrefix;
#ifdef _WIN32
    if (name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) --cut;   // not half a surrogate pair
#else
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;   // not half a character
#endif
    name.resize(cut);
    return name;
}

// The process id in a name of our pattern that starts with `prefix`, or 0.
unsigned long PatternProcess(const std::filesystem::path::string_type& name,
                             const std::filesystem::path::string_type& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string rest;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < 0x20 || name[i] > 0x7E) return 0;
        rest += static_cast<char>(name[i]);
    }
    if (!rest.starts_with(kMarker) || !rest.ends_with(kEnding)) return 0;
    rest = rest.substr(kMarker.size(), rest.size() - kMarker.size() - kEnding.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size() || dash > 10) return 0;
    for (std::size_t i = 0; i < rest.size(); ++i)
        if (i != dash && (rest[i] < '0' || rest[i] > '9')) return 0;
    return std::stoul(rest.substr(0, dash));
}

}  // namespace

ScopedFile OpenNewForWrite(const std::filesystem::path& path, std::error_code& error) {
    return system::CreateNew(path, error);
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%s%lu-%u%s", kMarker.data(), system::CurrentProcess(), counter++,
                  kEnding.data());
    std::filesystem::path temporary = target.parent_path() / std::filesystem::path(CutName(target));
    temporary += suffix;
    return temporary;
}

ScopedFile CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary,
                                 std::error_code& error) {
    // A name taken already is one a dead run of the same process id left.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryBeside(target);
        ScopedFile file = OpenNewForWrite(temporary, error);
        if (file || error != std::errc::file_exists) return file;
    }
    return ScopedFile();
}

int RemoveStaleTemporaries(const std::filesystem::path& target) noexcept {
    try {
        std::filesystem::path::string_type prefix = CutName(target);
        if (prefix.empty()) return 0;
        std::filesystem::path folder = target.parent_path();
        if (folder.empty()) folder = ".";
        int removed = 0;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            const unsigned long process = PatternProcess(it->path().filename().native(), prefix);
            if (process == 0 || process == system::CurrentProcess() || system::ProcessRunning(process)) continue;
            if (!system::OwnedRegularFile(it->path())) continue;
            std::error_code ignored;
            if (std::filesystem::remove(it->path(), ignored)) ++removed;
        }
        return removed;
    } catch (...) {
        return 0;
    }
}

namespace {

class NotRegularCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "output"; }
    std::string message(int) const override {
        return "it is not a regular file (a folder, a device, a pipe or a socket); refusing to replace it";
    }
};

}  // namespace

const std::error_category& NotRegularFileCategory() {
    static const NotRegularCategory category;
    return category;
}

std::error_code ReplaceByTemporary(const std::filesystem::path& temporary, const std::filesystem::path& target) {
    if (!NotReplaceable(target).empty()) return std::error_code(1, NotRegularFileCategory());
    return system::Rename(temporary, target);
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
