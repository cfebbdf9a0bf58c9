#include "archive/file_util.h"

#include <atomic>
#include <cerrno>
#include <random>
#include <system_error>

#include "archive/archive.h"

namespace resarc {

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string LastErrorText() {
    return std::generic_category().message(errno ? errno : EIO);
}

TempOutput::TempOutput(std::filesystem::path target) : target_(std::move(target)) {
    // A random part keeps two runs on the same target apart; drawn once,
    // since the system's random source costs a file read per call.
    static const unsigned runPart = std::random_device()();
    static std::atomic<unsigned> counter{0};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x-%u.tmp", runPart, counter++);
    temp_ = target_;
    temp_ += suffix;
    std::error_code error;
    file_ = idb::OpenForWrite(temp_, error);
    if (!file_) {
        throw ArchiveError("cannot create \"" + PathToUtf8(temp_) + "\": " + error.message());
    }
}

TempOutput::~TempOutput() {
    if (committed_) return;
    file_.Close();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

void TempOutput::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.Get()) != bytes.size()) {
        throw ArchiveError("cannot write \"" + PathToUtf8(temp_) + "\": " + LastErrorText());
    }
}

void TempOutput::Commit() {
    errno = 0;
    // A full disk may show only when the buffers are flushed.
    if (!file_.Close()) {
        throw ArchiveError("cannot write \"" + PathToUtf8(temp_) + "\": " + LastErrorText());
    }
    std::error_code error;
    std::filesystem::rename(temp_, target_, error);
    if (error) {
        throw ArchiveError("cannot replace \"" + PathToUtf8(target_) + "\" by \"" + PathToUtf8(temp_) +
                           "\": " + error.message());
    }
    committed_ = true;
}

}  // namespace resarc
