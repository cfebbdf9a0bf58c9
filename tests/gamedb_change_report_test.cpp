// Pack's comparison with the database the tables came from: what it
// reports, the stored values it keeps, the warnings; and the item-level
// comparison of values that diff shares.
#include "gamedb/change_report.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <bit>
#include <cmath>
#include <random>

#include "gamedb/cells.h"
#include "gamedb/checksum.h"
#include "gamedb/error.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"
#include "gamedb/value_diff.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb {
namespace {

using testing::Bytes;
using testing::GenDatabase;
using testing::GenOptions;

const KindSpec& Items() { return *FindKind("items"); }

// Weapons named as given, each with price 100, in an items database.
GenDatabase Weapons(std::vector<std::string> names) {
    GenOptions options;
    options.seed = 3;
    options.minRecords = 1;
    options.maxRecords = 1;
    options.oddFloatRate = 0;
    GenDatabase db = testing::Generate(Items(), options);
    db.blocks[1].records.clear();
    std::uint64_t seed = 50;
    for (const std::string& name : names) {
        testing::GenRecord record = testing::RandomRecord(Items().blocks[1].record, seed++, options);
        record.Find(0)->payload = testing::TextPayload(name);
        record.Find(7)->payload = testing::FloatPayload(100);
        db.blocks[1].records.push_back(std::move(record));
    }
    return db;
}

struct Packed {
    Bytes bytes;
    std::string report;
    std::size_t kept = 0, warnings = 0;
};

// The tables hold `edited` (as if a person or a spreadsheet had written its
// values); pack compares them with `base`.
Packed PackAgainst(const GenDatabase& base, const GenDatabase& edited, bool asTyped = false) {
    const Bytes baseBytes = testing::Serialize(base), editedBytes = testing::Serialize(edited);
    MemorySource editedSource(editedBytes, "edited");
    MemoryFolder folder;
    Unpack(editedSource, *edited.kind, folder);
    SourceComparison comparison;
    comparison.source = "base";
    comparison.comparison = std::make_unique<BaseComparison>(std::make_unique<MemorySource>(baseBytes, "base"), *base.kind, asTyped);
    MemorySink sink;
    Pack(folder, sink, Kinds(), comparison.comparison.get());
    return {sink.Bytes(), FormatChangeReport(comparison), comparison.comparison->Kept().size(),
            comparison.comparison->Warnings().size()};
}

bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(GamedbChangeReport, UnchangedTablesReportNothingForEveryKind) {
    for (const KindSpec& kind : Kinds()) {
        const GenDatabase db = testing::Generate(kind, GenOptions::Irregular(11));
        const Packed packed = PackAgainst(db, db);
        EXPECT_EQ(packed.bytes, testing::Serialize(db)) << kind.name;
        EXPECT_EQ(packed.report, "no changes from \"base\"\n") << kind.name;
    }
}

// Any one field changed to other random bytes is named, and lands.
TEST(GamedbChangeReport, RandomSingleEditIsReportedAndLands) {
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        const KindSpec& kind = Kinds()[seed % Kinds().size()];
        GenOptions options;
        options.seed = seed;
        options.minRecords = 2;
        const GenDatabase base = testing::Generate(kind, options);
        GenDatabase edited = base;
        testing::GenBlock& block = edited.blocks[seed % edited.blocks.size()];
        testing::GenRecord& record = block.records[seed % block.records.size()];
        testing::GenField& field = record.fields[seed % record.fields.size()];
        const testing::GenRecord fresh = testing::RandomRecord(FindBlock(kind, block.tag)->record, seed * 77, options);
        if (fresh.Find(field.tag)->payload == field.payload) continue;
        field.payload = fresh.Find(field.tag)->payload;
        const Packed packed = PackAgainst(base, edited, true);
        EXPECT_EQ(packed.bytes, testing::Serialize(edited)) << kind.name << " seed " << seed;
        const std::string name(FindField(FindBlock(kind, block.tag)->record, field.tag)->name);
        EXPECT_TRUE(Has(packed.report, "1 changed, 0 added, 0 removed")) << packed.report;
        EXPECT_TRUE(Has(packed.report, "\n    " + name)) << name << "\n" << packed.report;
    }
}

// Blocks many times the piece the base is compared in: an edit early,
// midway or in the last record is found, lands, and a re-displayed float
// there keeps the stored bits, whichever piece it falls in.
TEST(GamedbChangeReport, EditsAnywhereInLargeBlocks) {
    const GenDatabase base = testing::GenerateOfSize(Items(), 600 * 1024, GenOptions::RealLike());
    const std::size_t weapons = 1;
    const std::size_t count = base.blocks[weapons].records.size();
    ASSERT_GT(testing::Serialize(base).size(), 4u * 64 * 1024);
    for (const std::size_t at : {std::size_t{0}, count / 3, count / 2 + 1, count - 1}) {
        GenDatabase edited = base;
        edited.blocks[weapons].records[at].Find(7)->payload = testing::FloatPayload(123456);
        const Packed packed = PackAgainst(base, edited);
        EXPECT_EQ(packed.bytes, testing::Serialize(edited)) << at;
        EXPECT_TRUE(Has(packed.report, "weapons: 1 changed, 0 added, 0 removed")) << packed.report;
        EXPECT_TRUE(Has(packed.report, "changed record " + std::to_string(at + 1) + " ")) << at << "\n" << packed.report;

        GenDatabase stored = base, shown = base;
        stored.blocks[weapons].records[at].Find(7)->payload = testing::FloatPayload(3.1415927f);
        shown.blocks[weapons].records[at].Find(7)->payload = testing::FloatPayload(3.14159f);
        const Packed kept = PackAgainst(stored, shown);
        EXPECT_EQ(kept.bytes, testing::Serialize(stored)) << at;
        EXPECT_EQ(kept.kept, 1u) << at;
    }
    EXPECT_EQ(PackAgainst(base, base).report, "no changes from \"base\"\n");
}

TEST(GamedbChangeReport, RecordsPairByPositionOrByKey) {
    const GenDatabase base = Weapons({"axe", "sword", "bow"});
    GenDatabase renamed = base;
    renamed.blocks[1].records[1].Find(0)->payload = testing::TextPayload("sabre");
    EXPECT_TRUE(Has(PackAgainst(base, renamed).report, "changed record 2 \"sabre\"\n    name: sword -> sabre\n"));

    GenDatabase sorted = base;
    std::swap(sorted.blocks[1].records[0], sorted.blocks[1].records[2]);
    const std::string report = PackAgainst(base, sorted).report;
    EXPECT_TRUE(Has(report, "weapons: 0 changed, 0 added, 0 removed (3 -> 3 records)\n  the records come in another order\n")) << report;

    GenDatabase fewer = base;
    fewer.blocks[1].records.erase(fewer.blocks[1].records.begin());
    fewer.blocks[1].records[1].Find(7)->payload = testing::FloatPayload(150);
    EXPECT_TRUE(Has(PackAgainst(base, fewer).report,
                    "weapons: 1 changed, 0 added, 1 removed (3 -> 2 records)\n  removed record 1 \"axe\"\n"
                    "  changed record 2 \"bow\" (record 3 in the old)\n    price: 100 -> 150\n"));
}

// Every shorter rounding of a stored float keeps the stored value; a value
// that is not one lands; --as-typed writes the rounding and warns.
TEST(GamedbChangeReport, RedisplayedFloatsKeepTheStoredValue) {
    std::uint64_t state = 12345;
    for (int i = 0; i < 200; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const float stored = std::ldexp(1.0f + static_cast<float>(state >> 41) / 8388608.0f, static_cast<int>(state % 40) - 20);
        std::string shortest;
        AppendFloat(shortest, std::bit_cast<std::uint32_t>(stored));
        for (int digits = 1; digits < 9; ++digits) {
            char text[64];
            std::snprintf(text, sizeof text, "%.*e", digits - 1, static_cast<double>(stored));
            const float shown = std::strtof(text, nullptr);
            std::string cell;
            AppendFloat(cell, std::bit_cast<std::uint32_t>(shown));
            if (shown == stored || cell.find_first_of(".e") == std::string::npos) continue;
            GenDatabase base = Weapons({"axe"}), edited = base;
            base.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(stored);
            edited.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(shown);
            const Packed kept = PackAgainst(base, edited);
            ASSERT_EQ(kept.bytes, testing::Serialize(base)) << shortest << " shown as " << cell;
            ASSERT_EQ(kept.kept, 1u);
            EXPECT_TRUE(Has(kept.report, "no changes from")) << kept.report;
            EXPECT_TRUE(Has(kept.report, "price: " + cell + " kept as " + shortest)) << kept.report;
            const Packed typed = PackAgainst(base, edited, true);
            ASSERT_EQ(typed.bytes, testing::Serialize(edited));
            EXPECT_EQ(typed.warnings, 1u) << typed.report;
            // Not a rounding of the stored value: an edit.
            edited.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(shown * 2);
            ASSERT_EQ(PackAgainst(base, edited).bytes, testing::Serialize(edited)) << cell;
        }
    }
    // A whole number is typed, never a re-display: 123.4 -> 123 lands.
    GenDatabase base = Weapons({"axe"}), edited = base;
    base.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(123.4f);
    edited.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(123);
    EXPECT_EQ(PackAgainst(base, edited).bytes, testing::Serialize(edited));
}

TEST(GamedbChangeReport, SpreadsheetDamageIsWarned) {
    const struct {
        Bytes before, after;
        std::uint8_t tag;
        const char* line;
    } cases[] = {
        {testing::FloatBitsPayload(0x80000000u), testing::FloatPayload(0), 8, "weight: \\e-0 -> 0 (-0 became 0)"},
        {testing::FloatBitsPayload(0x7FC01234u), testing::FloatBitsPayload(0x7FC00000u), 8,
         "weight: nan:0x7FC01234 -> nan:0x7FC00000 (the NaN lost its payload)"},
        {testing::FloatBitsPayload(1), testing::FloatPayload(0), 8, "weight: \\e1e-45 -> 0 (a subnormal became 0)"},
        {testing::TextPayload("007"), testing::TextPayload("7"), 3, "material: \\e007 -> \\e7 (leading zeros lost)"},
        {testing::TextPayload("1/2"), testing::TextPayload("02.01.2026"), 3,
         "material: \\e1/2 -> \\e02.01.2026 (a text that looks like a number or date, re-written)"},
    };
    for (const auto& c : cases) {
        GenDatabase base = Weapons({"axe"}), edited = base;
        base.blocks[1].records[0].Find(c.tag)->payload = c.before;
        edited.blocks[1].records[0].Find(c.tag)->payload = c.after;
        const Packed packed = PackAgainst(base, edited);
        EXPECT_EQ(packed.warnings, 1u) << c.line;
        EXPECT_TRUE(Has(packed.report, "warning: 1 changes look like a spreadsheet's, not an edit:\n  weapons record 1 \"axe\" " +
                                           std::string(c.line) + "\n"))
            << packed.report;
        EXPECT_EQ(packed.bytes, testing::Serialize(edited)) << c.line;
    }
    // A text edited into another text is an edit.
    GenDatabase base = Weapons({"axe"}), edited = base;
    edited.blocks[1].records[0].Find(3)->payload = testing::TextPayload("iron");
    EXPECT_EQ(PackAgainst(base, edited).warnings, 0u);
}

TEST(GamedbValueDiff, ListsShowTheItemsThatChanged) {
    const FieldSpec& bored = *FindField(FindKind("acks")->blocks[0].record, 32);
    const auto item = [](const char* sound, std::int32_t volume) {
        Bytes fields;
        testing::AppendNode(fields, 1, testing::TextPayload(sound));
        testing::AppendNode(fields, 2, testing::Int32Payload(volume));
        testing::AppendNode(fields, 3, testing::TextPayload("hm"));
        testing::AppendNode(fields, 4, testing::TextPayload("c"));
        testing::AppendNode(fields, 10, testing::Int32Payload(0));
        Bytes node;
        testing::AppendNode(node, 1, fields);
        return node;
    };
    const auto list = [&](std::initializer_list<std::int32_t> volumes) {
        Bytes out;
        for (const std::int32_t v : volumes) {
            const Bytes one = item("a.wav", v);
            out.insert(out.end(), one.begin(), one.end());
        }
        return out;
    };
    std::vector<FieldChange> changes;
    CompareValues(changes, "bored", &bored, list({10, 20, 30}), list({10, 20, 40, 50}));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].field + ": " + changes[0].oldCell + " -> " + changes[0].newCell, "bored[3].unk2: 30 -> 40");
    EXPECT_EQ(changes[1].field, "bored[4]");
    EXPECT_FALSE(changes[1].inOld);

    const FieldSpec& split = *FindField(Items().blocks[1].record, 26);
    Bytes a, b;
    for (int i = 0; i < 7; ++i) {
        const Bytes x = testing::FloatPayload(static_cast<float>(i)), y = testing::FloatPayload(i == 4 ? 0.5f : static_cast<float>(i));
        a.insert(a.end(), x.begin(), x.end());
        b.insert(b.end(), y.begin(), y.end());
    }
    changes.clear();
    CompareValues(changes, "damage_split", &split, a, b);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].field + ": " + changes[0].oldCell + " -> " + changes[0].newCell, "damage_split[5]: 4 -> 0.5");
    // Bytes that do not frame are compared whole.
    changes.clear();
    CompareValues(changes, "bored", &bored, Bytes{1, 9}, list({10}));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].oldCell, "#0109");
}

// The manifest's lines, split and joined again.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// Pack against the source gives what pack alone gives, whatever was done to
// the folder: it copies a block from the source only for a table that is
// as unpack wrote it, in its place among the blocks. Checked for an
// untouched folder (every block copied), a table with two rows swapped,
// block lines swapped, two blocks' tables swapped, a block line removed,
// and another tag on a block line.
TEST(GamedbChangeReport, CopiesOnlyBlocksOfUnchangedTablesInTheirPlace) {
    for (std::uint64_t seed = 1; seed <= 48; ++seed) {
        const KindSpec& kind = Kinds()[seed % Kinds().size()];
        const Bytes bytes = testing::Serialize(testing::Generate(kind, GenOptions::Irregular(seed)));
        MemorySource source(bytes);
        ChecksummingSource read(source);
        MemoryFolder folder;
        ProvenanceFolder recorded(folder, "base", &read);
        Unpack(read, kind, recorded);

        std::vector<std::string> manifest = Lines(folder.Files().at(std::string(kManifestName)));
        std::vector<std::size_t> blockLines;
        for (std::size_t i = 0; i < manifest.size(); ++i)
            if (manifest[i].starts_with("block\t")) blockLines.push_back(i);
        const int change = static_cast<int>(seed % 6);
        if (blockLines.size() < 2 && change >= 2) continue;
        const std::size_t a = blockLines[seed % blockLines.size()], b = blockLines[(seed + 1) % blockLines.size()];
        const auto fields = [&](std::size_t line) {
            std::vector<std::string> parts;
            std::string rest = manifest[line];
            for (std::size_t tab; (tab = rest.find('\t')) != std::string::npos; rest = rest.substr(tab + 1))
                parts.push_back(rest.substr(0, tab));
            parts.push_back(rest);
            return parts;
        };
        std::string changed;
        if (change == 1) {
            // Two rows of a table swapped: another table, not a broken one.
            std::string& table = folder.Files().at(fields(a)[2]);
            std::vector<std::string> rows = Lines(table);
            if (rows.size() < 3 || rows[1] == rows[2]) continue;
            std::swap(rows[1], rows[2]);
            table.clear();
            for (const std::string& row : rows) table += row;
        } else if (change == 2) {
            std::swap(manifest[a], manifest[b]);
        } else if (change == 3) {
            std::vector<std::string> x = fields(a), y = fields(b);
            std::swap(x[2], y[2]);
            manifest[a] = x[0] + "\t" + x[1] + "\t" + x[2] + "\t" + x[3];
            manifest[b] = y[0] + "\t" + y[1] + "\t" + y[2] + "\t" + y[3];
        } else if (change == 4) {
            manifest.erase(manifest.begin() + static_cast<std::ptrdiff_t>(a));
        } else if (change == 5) {
            std::vector<std::string> x = fields(a);
            const std::string other = fields(b)[1];
            if (other == x[1]) continue;
            manifest[a] = x[0] + "\t" + other + "\t" + x[2] + "\t" + x[3];
        }
        std::string text;
        for (const std::string& line : manifest) text += line;
        folder.Files()[std::string(kManifestName)] = text;

        MemorySink alone;
        try {
            Pack(folder, alone);
        } catch (const Error&) {
            continue;  // a table under a tag whose columns it lacks
        }
        BaseComparison comparison(std::make_unique<MemorySource>(bytes, "base"), kind, true, ReadProvenance(folder).files);
        MemorySink against;
        const PackSummary summary = Pack(folder, against, Kinds(), &comparison);
        EXPECT_EQ(against.Bytes(), alone.Bytes()) << kind.name << " seed " << seed << " change " << change;
        if (change == 0) {
            EXPECT_EQ(against.Bytes(), bytes) << kind.name;
            MemorySink plain;
            const PackSummary parsed = Pack(folder, plain);
            ASSERT_EQ(summary.tables.size(), parsed.tables.size());
            for (std::size_t i = 0; i < parsed.tables.size(); ++i) EXPECT_EQ(summary.tables[i].rows, parsed.tables[i].rows);
            EXPECT_TRUE(FormatDiff(comparison.Changes(), 10).empty()) << FormatDiff(comparison.Changes(), 10);
        }
    }
}

// A block whose table is unchanged is the source's, not the table read
// again: with another base in its place the copy shows it.
TEST(GamedbChangeReport, UnchangedTablesAreCopiedFromTheSource) {
    const GenDatabase db = Weapons({"axe", "sword"});
    GenDatabase other = db;
    other.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(999);
    const Bytes bytes = testing::Serialize(db);
    MemorySource source(bytes);
    ChecksummingSource read(source);
    MemoryFolder folder;
    ProvenanceFolder recorded(folder, "base", &read);
    Unpack(read, Items(), recorded);
    const Bytes otherBytes = testing::Serialize(other);
    BaseComparison comparison(std::make_unique<MemorySource>(otherBytes, "base"), Items(), true, ReadProvenance(folder).files);
    MemorySink sink;
    Pack(folder, sink, Kinds(), &comparison);
    EXPECT_EQ(sink.Bytes(), otherBytes);
}

std::uint32_t ZlibCrc32(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

// Manifests hold zlib's CRC-32 values: whatever computes them, and however
// the bytes come in pieces, the value is zlib's of the whole.
TEST(GamedbChecksum, IsZlibsCrc32OfTheWholeWhateverThePieces) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Bytes bytes(random() % 5000);
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
        Crc32 crc;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + random() % 300);
            crc.Add(std::span(bytes).subspan(at, n));
            at += n;
        }
        ASSERT_EQ(crc.Value(), ZlibCrc32(bytes)) << bytes.size();
    }
    Crc32 check;
    check.Add(std::string_view("123456789"));
    EXPECT_EQ(check.Value(), 0xCBF43926u);
}

// The source's checksum is taken over pieces read ahead: reads of any size,
// small or larger than a piece, still get the bytes in order, the position
// counts what was handed out, and the checksum covers exactly that.
TEST(GamedbChecksum, SourceReadInAnySizesChecksumsWhatWasRead) {
    std::mt19937 random(11);
    Bytes bytes(300000);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    for (int round = 0; round < 20; ++round) {
        MemorySource inner(bytes);
        ChecksummingSource source(inner);
        Bytes got;
        Bytes piece;
        while (source.Position() < source.Size()) {
            const std::size_t want = random() % 4 == 0 ? 70000 + random() % 10000 : random() % 600;
            piece.resize(want);
            const std::size_t n = source.ReadSome(piece);
            ASSERT_TRUE(n > 0 || want == 0);
            got.insert(got.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
            ASSERT_EQ(source.Position(), got.size());
            if (random() % 16 == 0) {
                ASSERT_EQ(source.Value(), ZlibCrc32(got));
            }
        }
        EXPECT_EQ(got, bytes);
        EXPECT_TRUE(source.Whole());
        EXPECT_EQ(source.Value(), ZlibCrc32(bytes));
    }
}

// The manifest records the source and each file's checksum, and pack reads
// such a manifest back to the same bytes.
TEST(GamedbProvenance, ManifestRecordsTheSourceAndEveryFile) {
    for (const KindSpec& kind : Kinds()) {
        const Bytes bytes = testing::Serialize(testing::Generate(kind, GenOptions::Irregular(5)));
        MemorySource source(bytes);
        ChecksummingSource read(source);
        MemoryFolder folder;
        ProvenanceFolder recorded(folder, "/games/db", &read);
        Unpack(read, kind, recorded);
        const Provenance provenance = ReadProvenance(folder);
        EXPECT_EQ(provenance.source, "/games/db");
        EXPECT_EQ(provenance.sourceSize, bytes.size());
        Crc32 whole;
        whole.Add(bytes);
        EXPECT_EQ(provenance.sourceChecksum, whole.Value());
        ASSERT_EQ(provenance.files.size(), folder.Files().size() - 1) << kind.name;
        for (const WrittenFile& file : provenance.files) {
            Crc32 crc;
            crc.Add(folder.Files().at(file.name));
            EXPECT_EQ(crc.Value(), file.checksum) << file.name;
        }
        MemorySink sink;
        Pack(folder, sink);
        EXPECT_EQ(sink.Bytes(), bytes) << kind.name;
    }
}

}  // namespace
}  // namespace gamedb
