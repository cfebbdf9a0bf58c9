// How far idb2txt gets in an items database. Its reader takes the two bytes
// after a record's tag as a size word, so every record counts one byte more
// than the file holds, and a category can end before its last records. The
// reads below are exactly those of idb2txt's six exporters, in their order;
// driving idb2txt's own reader with them gives its behaviour byte for byte.
#include "gamedb/check.h"

#include <array>
#include <span>

#include "export/conversion_error.h"
#include "export/idb_reader.h"

namespace gamedb {

namespace {

// How many bytes an exporter's read of one field takes.
enum class Take : std::uint8_t {
    One,     // ReadByte
    Four,    // ReadLong, ReadSingle, ReadFlags, Skip(4)
    Eight,   // eight ReadByte (armor stats)
    Length,  // a text, or a skip of the field's length
    Quads,   // an array of singles: FieldLength \ 4 of them
};

using T = Take;
// Tags 1-15 of every category after materials.
constexpr std::array kCommon = {T::Length, T::Four, T::Length, T::Four, T::Four, T::Four, T::Four, T::Four,
                                T::Four,   T::Four, T::Four,   T::Four, T::Four, T::Four, T::One};
constexpr std::array kWeapons = {T::Four, T::Length, T::Four, T::Four,   T::Four,
                                 T::Quads, T::Length, T::Length, T::Four, T::Four};
constexpr std::array kArmors = {T::Quads, T::Quads, T::One, T::Four, T::Length, T::Eight};
constexpr std::array kQuickItems = {T::Four, T::Four, T::Four, T::Four, T::Length, T::Length, T::Length};
constexpr std::array kQuestItems = {T::Four, T::Length};
constexpr std::array kLootItems = {T::Four, T::Four, T::Four};

int Amount(Take take, int fieldLength) {
    switch (take) {
        case Take::One: return 1;
        case Take::Four: return 4;
        case Take::Eight: return 8;
        case Take::Length: return fieldLength;
        case Take::Quads: return fieldLength / 4 * 4;
    }
    return 0;
}

void ReadFields(idb::IdbReader& in, std::span<const Take> takes) {
    for (Take take : takes) {
        in.ReadFieldHeader();
        in.Skip(Amount(take, in.FieldLength()));
    }
}

// Materials are the one category read field by field until the counters say
// the record is done; an unknown tag takes no bytes at all.
void ReadMaterialFields(idb::IdbReader& in) {
    while (in.HasMoreFields()) {
        in.ReadFieldHeader();
        switch (in.FieldTag()) {
            case 1:
            case 2: in.Skip(in.FieldLength()); break;
            case 11: in.Skip(in.FieldLength() / 4 * 4); break;
            case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 12: case 13: in.Skip(4); break;
            default: break;
        }
    }
}

void ReadRecordFields(idb::IdbReader& in, int category) {
    if (category == 0) {
        ReadMaterialFields(in);
        return;
    }
    ReadFields(in, kCommon);
    switch (category) {
        case 1: ReadFields(in, kWeapons); break;
        case 2: ReadFields(in, kArmors); break;
        case 3: ReadFields(in, kQuickItems); break;
        case 4: ReadFields(in, kQuestItems); break;
        default: ReadFields(in, kLootItems); break;
    }
}

std::string Hex(std::uint64_t offset) { return idb::Hex(static_cast<long long>(offset)); }

std::string Quoted(const std::string& name) { return name.empty() ? std::string() : " \"" + name + "\""; }

constexpr std::array<std::string_view, 6> kCategories = {"materials",   "weapons",     "armors",
                                                         "quick_items", "quest_items", "loot_items"};

}  // namespace

std::vector<CategoryReach> SimulateIdb2txt(const std::filesystem::path& file, const std::vector<BlockExtent>& blocks) {
    std::vector<CategoryReach> reaches;
    idb::IdbReader in;
    bool lost = false;      // idb2txt no longer reads where the file's nodes are
    std::string lostWhy;
    try {
        in.Open(file);
        in.ReadFileHeader();
    } catch (const idb::ConversionError& error) {
        lost = true;
        lostWhy = std::string("idb2txt cannot start: ") + error.what();
    }
    for (std::size_t c = 0; c < kCategories.size(); ++c) {
        CategoryReach reach;
        reach.category = kCategories[c];
        const BlockExtent* block = nullptr;
        for (const BlockExtent& candidate : blocks)
            if (candidate.tag == c + 1 && block == nullptr) block = &candidate;
        const std::vector<RecordExtent> none;
        const std::vector<RecordExtent>& records = block != nullptr ? block->records : none;
        reach.records = static_cast<long long>(records.size());
        if (!lost && (block == nullptr || static_cast<std::uint64_t>(in.Offset()) != block->offset)) {
            lost = true;
            lostWhy = "idb2txt reads the header of " + reach.category + " at " + Hex(static_cast<std::uint64_t>(in.Offset())) +
                      (block != nullptr ? ", where the file has it at " + Hex(block->offset) : ", but the file has no such block");
        }
        if (lost) {
            reach.outcome = CategoryReach::Outcome::NotReached;
            reach.offset = block != nullptr ? block->offset : 0;
            reach.text = reach.category + ": not read as stored (" + lostWhy + ")";
            reaches.push_back(std::move(reach));
            lostWhy = "an earlier category lost idb2txt's place";
            continue;
        }
        std::size_t i = 0;
        try {
            in.ReadCategoryHeader();
            while (in.HasMoreRecords()) {
                const auto at = static_cast<std::uint64_t>(in.Offset());
                if (i >= records.size()) {
                    reach.outcome = CategoryReach::Outcome::Misreads;
                    reach.offset = at;
                    reach.text = reach.category + ": idb2txt reads past its last record, taking the bytes at " +
                                 Hex(at) + " for a record";
                    break;
                }
                in.ReadRecordHeader();
                in.ReadItemName();
                ReadRecordFields(in, static_cast<int>(c));
                const auto end = static_cast<std::uint64_t>(in.Offset());
                if (end != records[i].end) {
                    reach.outcome = CategoryReach::Outcome::Misreads;
                    reach.offset = records[i].offset;
                    reach.recordName = records[i].name;
                    reach.text = reach.category + ": idb2txt misreads record " + std::to_string(i + 1) +
                                 Quoted(records[i].name) + " at " + Hex(records[i].offset) + ": its reading ends at " +
                                 Hex(end) + ", the record at " + Hex(records[i].end);
                    break;
                }
                ++i;
            }
            if (reach.outcome == CategoryReach::Outcome::All && i < records.size()) {
                reach.outcome = CategoryReach::Outcome::Skips;
                reach.offset = records[i].offset;
                reach.recordName = records[i].name;
                const std::size_t skipped = records.size() - i;
                reach.text = reach.category + ": idb2txt reads " + std::to_string(i) + " of " +
                             std::to_string(records.size()) + " records and skips record " + std::to_string(i + 1) +
                             Quoted(records[i].name) + " at " + Hex(records[i].offset) +
                             (skipped > 1 ? " and the " + std::to_string(skipped - 1) + " after it" : std::string()) +
                             ": its counters take one byte more per record than the file holds";
            }
        } catch (const idb::ConversionError& error) {
            reach.outcome = CategoryReach::Outcome::Fails;
            reach.offset = i < records.size() ? records[i].offset : 0;
            if (i < records.size()) reach.recordName = records[i].name;
            reach.text = reach.category + ": idb2txt stops with an error: " + error.what();
        }
        reach.read = static_cast<long long>(i);
        if (reach.outcome == CategoryReach::Outcome::All)
            reach.text = reach.category + ": idb2txt reads all " + std::to_string(records.size()) + " records";
        else {
            lost = true;
            lostWhy = "idb2txt lost its place in " + reach.category;
        }
        reaches.push_back(std::move(reach));
    }
    return reaches;
}

}  // namespace gamedb
