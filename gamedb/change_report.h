// What pack is about to change in the database its tables came from, and
// the changes that look like a spreadsheet's rather than an edit.
//
// The comparison works at the record level against a base: the base's
// records and the packed ones are paired (by position when the block keeps
// its record count and mostly its keys, else by key as diff pairs them),
// and their fields, as tag and bytes, are compared down to the list item.
// One block of each side is held at a time.
//
// A float whose new value is only the stored one re-displayed with fewer
// digits (the stored value rounded to as many significant digits as the new
// one has, written with a decimal point or an exponent: 3.141593 for
// 3.1415927) keeps the stored value, since a spreadsheet that merely saved
// the table writes exactly that; a person typing such a value cannot be told
// apart, so every value kept so is listed, and `asTyped` writes them as
// typed instead.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gamedb/diff.h"
#include "gamedb/folder.h"
#include "gamedb/framing.h"
#include "gamedb/pack.h"
#include "gamedb/provenance.h"
#include "gamedb/schema.h"

namespace gamedb {

// One value named in the report: where it is and why it is there.
struct ReportedValue {
    std::string where;       // `races record 3 "human" model_shift`
    std::string oldCell, newCell;
    std::string reason;      // warnings: what the change looks like
};

// Compares packed blocks with the blocks of a base database read from
// `base` (block by block, in step with pack) and keeps the stored value of
// re-displayed floats in the packed records unless `asTyped`.
class BaseComparison final : public PackObserver {
public:
    // `written`: the files unpack wrote from the base, the blocks' tables
    // first in the blocks' order, as the manifest records them.
    BaseComparison(std::unique_ptr<ByteSource> base, const KindSpec& kind, bool asTyped,
                   std::vector<WrittenFile> written = {});
    ~BaseComparison() override;

    // The base's next block, when `table` is the very file unpack wrote
    // from it (its recorded checksum and its place among the blocks).
    std::optional<HeldBlock> Held(std::uint8_t tag, const std::string& table, InputFolder& in) override;
    void CopyHeld(const std::function<void(std::span<const std::uint8_t>)>& write) override;

    void Block(std::uint8_t tag, const std::string& table, std::vector<std::uint8_t>& records) override;
    // Reads the base's remaining blocks and closes it.
    void Finish() override;

    const DiffResult& Changes() const { return changes_; }
    const std::vector<ReportedValue>& Kept() const { return kept_; }
    const std::vector<ReportedValue>& Warnings() const { return warnings_; }
    // Why the comparison stopped early (the base could not be read); the
    // blocks after that are packed as they are.
    const std::string& Failure() const { return failure_; }

private:
    struct Side;
    bool ReadBaseBlock();
    void LoadBaseBlock();
    bool SameAsBase(std::span<const std::uint8_t> records);
    void Step(std::uint8_t tag, std::vector<std::uint8_t>& records);
    void Compare(std::vector<std::uint8_t>& records);
    void Stop(const std::exception& e);

    std::unique_ptr<ByteSource> base_;
    std::unique_ptr<FrameReader> reader_;
    const KindSpec& kind_;
    bool asTyped_;
    std::vector<WrittenFile> written_;
    long long packedBlocks_ = 0, baseBlocks_ = 0;  // while equal, block N of each is block N of the other
    long long heldRows_ = 0;
    std::unique_ptr<Side> pending_;    // a base block read but not yet matched
    std::vector<std::uint8_t> spare_;  // the room of a block compared, for the next
    std::vector<std::uint8_t> piece_;  // a piece of a base block compared in passing
    DiffResult changes_;
    std::vector<ReportedValue> kept_, warnings_;
    std::string failure_;
};

// The comparison pack makes against the database a folder was unpacked
// from: present when the manifest names a source that is still there with
// its recorded size and checksum; otherwise `why` says why there is none
// (empty when the manifest names no source).
struct SourceComparison {
    std::unique_ptr<BaseComparison> comparison;
    std::string source;
    std::string why;
};
SourceComparison CompareWithSource(InputFolder& in, const KindSpec& kind, bool asTyped);

// The report: the changes per block (at most a few records each), the
// values kept, then the warnings.
std::string FormatChangeReport(const SourceComparison& report);

}  // namespace gamedb
