#include "archive/file_util.h"

#include <cerrno>
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
    std::error_code error;
    file_ = idb::CreateTemporaryBeside(target_, temp_, error);
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
    const std::error_code error = idb::ReplaceByTemporary(temp_, target_);
    if (error) {
        throw ArchiveError("cannot replace \"" + PathToUtf8(target_) + "\" by \"" + PathToUtf8(temp_) +
                           "\": " + error.message());
    }
    committed_ = true;
}

}  // namespace resarc
