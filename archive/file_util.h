// Files for the archive library: 64-bit positions, UTF-8 paths, and output
// written beside its target and renamed over it only on success.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "export/file_io.h"

namespace resarc {

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// The system's reason for the last failed C library call.
std::string LastErrorText();

// A new file beside `target`; Commit() closes it and renames it over the
// target. Dropped without Commit(), the partial file is removed and the
// target stays as it was.
class TempOutput {
public:
    explicit TempOutput(std::filesystem::path target);
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;
    ~TempOutput();

    std::FILE* Get() const { return file_.Get(); }
    // Throws ArchiveError naming the target when a write failed.
    void Write(std::string_view bytes);
    void Commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    idb::ScopedFile file_;
    bool committed_ = false;
};

}  // namespace resarc
