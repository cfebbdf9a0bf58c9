// Where a folder of tables came from, kept in its manifest: the database's
// path, size and checksum, and the checksum of every file unpack wrote.
// Pack uses the first to find the database it can compare with; unpack uses
// the second to see whether a folder it would replace holds edits.
//
//   source        /home/me/Items.idb     (absolute, UTF-8; ARCHIVE:MEMBER for a member)
//   source-size   76470
//   source-crc32  1A2B3C4D
//   crc32         weapons.txt	89ABCDEF  (one per file written, the manifest aside)
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/checksum.h"
#include "gamedb/folder.h"

namespace gamedb {

struct WrittenFile {
    std::string name;
    std::uint32_t checksum = 0;
};

struct Provenance {
    std::string source;                // empty when the manifest names none
    std::uint64_t sourceSize = 0;
    std::uint32_t sourceChecksum = 0;
    bool hasFiles = false;             // the manifest has crc32 lines
    std::vector<WrittenFile> files;
};

// Whether a manifest key is one of the lines above (pack reads them here).
bool IsProvenanceKey(std::string_view key);

// The provenance lines of the manifest in `in`. Throws Error for a
// malformed one; keys it does not know are left to the manifest's reader.
Provenance ReadProvenance(InputFolder& in);

// Passes every file to `inner` and notes its checksum. When the manifest
// (written last, by unpack's rule) is closed, the provenance lines are
// added to it: `source` and the checksum of `database` when it was read
// whole through a ChecksummingSource, the files' checksums always.
class ProvenanceFolder final : public OutputFolder {
public:
    ProvenanceFolder(OutputFolder& inner, std::string source, const ChecksummingSource* database)
        : inner_(inner), source_(std::move(source)), database_(database) {}
    std::unique_ptr<TextOutput> Create(const std::string& name) override;
    void Commit() override { inner_.Commit(); }

private:
    class Output;
    std::string Lines() const;

    OutputFolder& inner_;
    std::string source_;
    const ChecksummingSource* database_;
    std::vector<WrittenFile> written_;
};

// The files of an unpacked folder that differ from what unpack wrote (or
// are gone for the reason that they cannot be read). Empty when `dir` holds
// no manifest. A manifest that cannot be read or that records no checksums
// gives one entry naming the manifest: edits there cannot be told apart.
// Empty as well when `input` (the database to unpack) is one of the folder's
// files: the folder refuses to replace it, with that reason.
std::vector<std::string> EditedTables(const std::filesystem::path& dir, const std::filesystem::path& input = {});

// Throws Error naming the edited tables when EditedTables is not empty.
void RefuseEditedTables(const std::filesystem::path& dir, const std::filesystem::path& input = {});

// After pack wrote `target` (a path or ARCHIVE:MEMBER): when that is the
// recorded source, its new size and checksum replace the recorded ones, so
// that later packs of the folder still compare with it (and keep the
// stored values of re-displayed floats). Throws Error when the manifest
// cannot be replaced.
void RecordPackedSource(const std::filesystem::path& dir, std::string_view target);

// The source as it is recorded for a database given as `arg` (a path, or
// ARCHIVE:MEMBER): the archive or the file made absolute.
std::string SourceName(std::string_view arg);

}  // namespace gamedb
