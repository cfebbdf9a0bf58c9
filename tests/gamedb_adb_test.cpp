// Animation databases (*.adb): unpack and pack byte for byte, readable and
// typeable cells, edits that touch one field, damaged files, check and diff.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "gamedb/adb.h"
#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "tests/support/adb_gen.h"

namespace gamedb::testing {
namespace {

using namespace adb88;

const std::string kTable = TableName(AnimKind(), 1);

struct Unpacked {
    MemoryFolder folder;
    std::vector<std::vector<std::string>> rows;   // header first, cells split at tabs

    std::string& Table() { return folder.Files()[kTable]; }
    std::string& Manifest() { return folder.Files()["manifest.txt"]; }
    std::size_t Column(const std::string& name) const {
        for (std::size_t i = 0; i < rows[0].size(); ++i)
            if (rows[0][i] == name) return i;
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    std::string& Cell(std::size_t clip, const std::string& column) { return rows[clip + 1][Column(column)]; }
    // Writes the rows back as the table.
    void Store() {
        std::string text = "\xEF\xBB\xBF";
        for (const auto& row : rows) {
            for (std::size_t i = 0; i < row.size(); ++i) text += (i ? "\t" : "") + row[i];
            text += "\r\n";
        }
        Table() = text;
    }
};

std::vector<std::string> SplitLine(const std::string& line, char sep) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == sep) out.emplace_back();
        else out.back() += c;
    }
    return out;
}

void UnpackInto(const AdbBytes& bytes, Unpacked& out) {
    MemorySource source(bytes, "test.adb");
    Unpack(source, AnimKind(), out.folder);
    std::string table = out.Table().substr(3);
    for (const std::string& line : SplitLine(table, '\n'))
        if (!line.empty()) out.rows.push_back(SplitLine(line.substr(0, line.size() - 1), '\t'));
}

AdbBytes PackFolder(MemoryFolder& folder) {
    MemorySink sink;
    Pack(folder, sink);
    return sink.Bytes();
}

struct Found {
    std::vector<CheckFinding> findings;
    CheckSummary summary;
};

Found CheckBytes(const AdbBytes& bytes) {
    Found found;
    MemorySource source(bytes, "test.adb");
    found.summary = Check(source, AnimKind(), [&](const CheckFinding& f) { found.findings.push_back(f); });
    return found;
}

// One 88-byte clip, hand-made.
AdbBytes OneClip(const char* name, std::uint32_t code, std::uint32_t forms) {
    AdbGen adb;
    adb.modelName = "Goblin";
    adb.heights[0] = std::bit_cast<std::uint32_t>(1.0f);
    adb.heights[1] = std::bit_cast<std::uint32_t>(1.01f);
    adb.heights[2] = std::bit_cast<std::uint32_t>(1.02f);
    AdbBytes clip(88, 0);
    std::copy(name, name + std::strlen(name), clip.begin());
    PutWord(clip, kCode, code);
    PutWord(clip, kForms, forms);
    PutWord(clip, kProbability, 100);
    PutWord(clip, kLastFrame, 30);
    adb.clips.push_back(clip);
    return SerializeAdb(adb);
}

TEST(GamedbAdb, EveryGeneratedFileComesBackByteForByte) {
    for (const int size : {88, 84, 36}) {
        for (std::uint64_t seed = 1; seed <= 60; ++seed) {
            for (const double rate : {0.0, 0.3}) {
                AdbGenOptions options;
                options.seed = seed;
                options.recordSize = size;
                options.irregularRate = rate;
                const AdbBytes bytes = SerializeAdb(GenerateAdb(options));
                Unpacked unpacked;
                UnpackInto(bytes, unpacked);
                ASSERT_EQ(PackFolder(unpacked.folder), bytes) << "layout " << size << ", seed " << seed << ", rate " << rate;
                if (rate == 0) {
                    // A file as the game writes it: nothing irregular to keep, nothing to report.
                    for (std::size_t r = 1; r < unpacked.rows.size(); ++r)
                        EXPECT_EQ(unpacked.rows[r].back(), "") << "seed " << seed << " clip " << r;
                    const Found found = CheckBytes(bytes);
                    EXPECT_EQ(found.summary.problems, 0) << "seed " << seed << ": " << FormatFinding(found.findings[0]);
                }
            }
        }
    }
}

TEST(GamedbAdb, BitFieldsAreNamedValuesReadBackAsTyped) {
    // sword|axe, attack, cast, modifier 10, cycle; hit event used; shapes; a death link.
    const std::uint32_t code = 0x3 | 2u << 15 | 3u << 18 | 10u << 22 | 2u << 30;
    AdbBytes bytes = OneClip("cattack", code, 0x30 | (2u << 15 | 7u << 18 | 26u << 22));
    PutWord(bytes, 44 + kHit, 12);
    PutWord(bytes, 44 + kForms, GetWord(bytes, 44 + kForms) | 4);
    Unpacked u;
    UnpackInto(bytes, u);
    EXPECT_EQ(u.Cell(0, "name"), "cattack");
    EXPECT_EQ(u.Cell(0, "weapons"), "sword|axe");
    EXPECT_EQ(u.Cell(0, "state"), "attack");
    EXPECT_EQ(u.Cell(0, "action"), "cast");
    EXPECT_EQ(u.Cell(0, "modifier"), "10");
    EXPECT_EQ(u.Cell(0, "stage"), "cycle");
    EXPECT_EQ(u.Cell(0, "shape_low"), "1");
    EXPECT_EQ(u.Cell(0, "link_action"), "death");
    EXPECT_EQ(u.Cell(0, "link_modifier"), "26");
    EXPECT_EQ(u.Cell(0, "~extra"), "");

    // What a person types: any case, blanks around the bars, "any", numbers for unnamed values.
    u.Cell(0, "weapons") = " Bow | CROSSBOW ";
    u.Cell(0, "state") = "Lie";
    u.Cell(0, "action") = "0";
    u.Cell(0, "link_state") = u.Cell(0, "link_action") = u.Cell(0, "link_modifier") = u.Cell(0, "link_stage") = "";
    u.Store();
    AdbBytes packed = PackFolder(u.folder);
    EXPECT_EQ(GetWord(packed, 44 + kCode), 0x60u | 6u << 15 | 0u << 18 | 10u << 22 | 2u << 30);
    EXPECT_EQ(GetWord(packed, 44 + kForms), 0x34u);
    u.Cell(0, "weapons") = "any";
    u.Store();
    EXPECT_EQ(GetWord(PackFolder(u.folder), 44 + kCode) & 0x7F, 0x7Fu);

    for (const auto& [column, cell] : std::vector<std::pair<std::string, std::string>>{
             {"weapons", "sword|pike"}, {"state", "sleep"}, {"state", "8"}, {"modifier", "256"}, {"hit_frame", "-1"},
             {"~extra", "events=kick"}, {"name", "a name far too long"}}) {
        Unpacked bad;
        UnpackInto(bytes, bad);
        bad.Cell(0, column) = cell;
        bad.Store();
        try {
            PackFolder(bad.folder);
            ADD_FAILURE() << column << " = " << cell << " was taken";
        } catch (const Error& error) {
            EXPECT_EQ(error.Where().column, column) << error.what();
            EXPECT_EQ(error.Where().row, 2) << error.what();
        }
    }
}

// Each edit changes the bytes of its field only (and the forms word's event
// bit where an event field goes from 0 to used or back).
TEST(GamedbAdb, AnEditChangesExactlyItsField) {
    struct Edit {
        const char* column;
        const char* cell;
        int offset88;
        std::uint32_t mask;      // the field's bits in its word
        std::uint32_t value;     // as they must read after the edit, shifted in place
        std::uint32_t event;     // the forms bit it must leave set, 0 none
    };
    const Edit edits[] = {
        {"hit_frame", "5", kHit, 0xFFFFFFFF, 5, 4},
        {"step_frames_1", "7", kStep, 0xFFFFFFFF, 7, 2},
        {"sfx_ids_1", "7", kSfxIds, 0xFFFFFFFF, 7, 8},
        {"hide_frames_2", "1", kHide + 4, 0xFFFFFFFF, 1, 1},
        {"last_frame", "913", kLastFrame, 0xFFFFFFFF, 913, 0},
        {"probability", "55", kProbability, 0xFFFFFFFF, 55, 0},
        {"move_distance", "2,5", kMove, 0xFFFFFFFF, 0x40200000, 0},
        {"weapons", "bow|crossbow", kCode, 0x7F, 0x60, 0},
        {"state", "warry", kCode, 0x7u << 15, 4u << 15, 0},
        {"action", "suffer", kCode, 0xFu << 18, 8u << 18, 0},
        {"modifier", "42", kCode, 0xFFu << 22, 42u << 22, 0},
        {"stage", "start", kCode, 0x3u << 30, 1u << 30, 0},
        {"shape_high", "1", kForms, 0x20, 0x20, 0},
    };
    for (const int size : {88, 84}) {
        for (std::uint64_t seed = 1; seed <= 20; ++seed) {
            AdbGenOptions options;
            options.seed = seed;
            options.recordSize = size;
            options.minClips = 1;
            const AdbBytes before = SerializeAdb(GenerateAdb(options));
            const std::size_t clip = seed % GetWord(before, 4);
            for (const Edit& edit : edits) {
                if (size == 84 && edit.offset88 == kProbability) continue;
                Unpacked u;
                UnpackInto(before, u);
                u.Cell(clip, edit.column) = edit.cell;
                u.Store();
                const AdbBytes after = PackFolder(u.folder);
                ASSERT_EQ(after.size(), before.size());
                const int base = 44 + static_cast<int>(clip) * size;
                const int field = base + AdbOffset(size, edit.offset88);
                const int forms = base + kForms;
                for (int i = 0; i < static_cast<int>(after.size()); ++i) {
                    const bool inField = i >= field && i < field + 4;
                    const bool inForms = edit.event != 0 && i >= forms && i < forms + 4;
                    if (!inField && !inForms) {
                        ASSERT_EQ(after[static_cast<std::size_t>(i)], before[static_cast<std::size_t>(i)]) << edit.column << " changed byte " << i;
                    }
                }
                EXPECT_EQ(GetWord(after, field) & edit.mask, edit.value) << edit.column;
                EXPECT_EQ(GetWord(after, field) & ~edit.mask, GetWord(before, field) & ~edit.mask) << edit.column;
                if (edit.event) {
                    EXPECT_EQ(GetWord(after, forms), GetWord(before, forms) | edit.event) << edit.column;
                }
            }
        }
    }
}

TEST(GamedbAdb, FormsThatDisagreeStayVisibleAndRoundTrip) {
    // Forms says hit and sfx are used; the fields are 0. Bits 7 of code and 6 of forms set too.
    AdbBytes bytes = OneClip("uattack", 2u << 15 | 2u << 18 | 1u << 7, 0xC | 0x40);
    bytes[44 + 9] = 'Z';   // a stray byte after the name's terminator
    PutWord(bytes, 44 + kIndex, 7);
    Unpacked u;
    UnpackInto(bytes, u);
    EXPECT_EQ(u.Cell(0, "~extra"), "index=7 events=hit|sfx name_tail=005A code_unk=0x00000080 forms_unk=0x00000040");
    EXPECT_EQ(PackFolder(u.folder), bytes);
    // Without the token, pack sets the bits the fields call for.
    u.Cell(0, "~extra") = "";
    u.Store();
    const AdbBytes consistent = PackFolder(u.folder);
    EXPECT_EQ(GetWord(consistent, 44 + kForms), 0u);
    EXPECT_EQ(GetWord(consistent, 44 + kIndex), 0u);
    EXPECT_EQ(bytes[44 + 9], 'Z');
    EXPECT_EQ(consistent[44 + 9], 0);
}

TEST(GamedbAdb, HeaderValuesLiveInTheManifest) {
    AdbGen adb;
    adb.recordSize = 36;
    adb.modelName = "MainColumn";
    adb.modelTail = {0, 0, 0, 0, 0, 0x80, 0x10, 0x08, 0x00, 0x0F};
    AdbBytes clip(36, 0);
    std::copy_n("umain01", 7, clip.begin());
    adb.clips.push_back(clip);
    const AdbBytes bytes = SerializeAdb(adb);
    Unpacked u;
    UnpackInto(bytes, u);
    EXPECT_EQ(u.Manifest(),
              "\xEF\xBB\xBF" "format\t1\r\nkind\tanims\r\nrecord_size\t36\r\nmodel_name\tMainColumn\r\n"
              "model_name_tail\t0000000000801008000F\r\nheight_min\t0\r\nheight_mid\t0\r\nheight_max\t0\r\ntable\t" + kTable + "\r\n");
    EXPECT_EQ(u.rows[0], (std::vector<std::string>{"name", "unk_1", "unk_2", "unk_3", "unk_4", "~extra"}));
    EXPECT_EQ(PackFolder(u.folder), bytes);

    // A Cyrillic model name and new heights, typed in the manifest.
    std::string& manifest = u.Manifest();
    manifest.replace(manifest.find("MainColumn"), 10, "Колонна");
    manifest.replace(manifest.find("height_max\t0"), 12, "height_max\t2,5");
    const AdbBytes edited = PackFolder(u.folder);
    EXPECT_EQ(std::string(edited.begin() + 8, edited.begin() + 15), "\xCA\xEE\xEB\xEE\xED\xED\xE0");
    EXPECT_EQ(GetWord(edited, 40), 0x40200000u);

    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"record_size\t36", "record_size\t40"}, {"height_min\t0", "height_min\tlow"},
             {"model_name_tail\t0000000000801008000F", "model_name_tail\t00000000000000000000000000000000000000"},
             {"table\t", "colour\t"}}) {
        Unpacked bad;
        UnpackInto(bytes, bad);
        bad.Manifest().replace(bad.Manifest().find(from), from.size(), to);
        EXPECT_THROW(PackFolder(bad.folder), Error) << to;
    }
}

TEST(GamedbAdb, DamagedFilesAreErrorsWithTheirOffset) {
    AdbGenOptions options;
    options.minClips = 3;
    options.recordSize = 88;
    const AdbBytes good = SerializeAdb(GenerateAdb(options));
    const auto failure = [](const AdbBytes& bytes) -> long long {
        MemorySource source(bytes, "bad.adb");
        MemoryFolder folder;
        try {
            Unpack(source, AnimKind(), folder);
        } catch (const Error& error) {
            EXPECT_TRUE(folder.Files().empty()) << "a failed unpack wrote files";
            const Found found = CheckBytes(bytes);
            EXPECT_EQ(found.summary.problems, 1);
            if (!found.findings.empty()) {
                EXPECT_EQ(static_cast<long long>(found.findings[0].offset), error.Where().offset);
            }
            return error.Where().offset;
        }
        return -1;
    };
    EXPECT_EQ(failure(AdbBytes(good.begin(), good.begin() + 30)), 30);   // cut in the header
    AdbBytes magic = good;
    magic[0] = 'X';
    EXPECT_EQ(failure(magic), 0);
    AdbBytes count = good;
    PutWord(count, 4, 1000);
    EXPECT_EQ(failure(count), 4);
    AdbBytes empty(good.begin(), good.begin() + 50);
    PutWord(empty, 4, 0);
    EXPECT_EQ(failure(empty), 44);
    // Every cut after the header: an error at the count, unless what is left
    // happens to be whole records of another layout.
    const std::uint32_t clips = GetWord(good, 4);
    for (std::size_t size = 44; size < good.size(); ++size) {
        const std::size_t rest = size - 44;
        const bool fits = rest % clips == 0 && (rest / clips == 84 || rest / clips == 36);
        EXPECT_EQ(failure(AdbBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))), fits ? -1 : 4) << size;
    }
}

TEST(GamedbAdb, CheckReportsWhatTheGamesFilesNeverBreak) {
    AdbGen adb;
    adb.modelName = "Goblin";
    adb.heights[2] = std::bit_cast<std::uint32_t>(1.0f);
    AdbBytes clip(88, 0);
    std::copy_n("sattack", 7, clip.begin());       // stage unique: should start with u
    PutWord(clip, kIndex, 0);
    PutWord(clip, kCode, 2u << 18);
    PutWord(clip, kLastFrame, 10);
    PutWord(clip, kHit, 11);
    PutWord(clip, kForms, 4);
    adb.clips.push_back(clip);
    clip.assign(88, 0);
    std::copy_n("uidle", 5, clip.begin());
    PutWord(clip, kIndex, 5);
    PutWord(clip, kCode, 6u << 18);
    PutWord(clip, kLastFrame, 10);
    adb.clips.push_back(clip);
    const Found found = CheckBytes(SerializeAdb(adb));
    std::vector<std::string> lines;
    for (const CheckFinding& f : found.findings) lines.push_back(FormatFinding(f));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "0x40 (64): clips, record 1 \"sattack\", stage: stage unique does not match the name's first letter (u unique, s start, c cycle)",
                         "0x6C (108): clips, record 1 \"sattack\", hit_frame: frame 11 is after last_frame 10",
                         "0x94 (148): clips, record 2 \"uidle\", index: index 5, expected its position 1",
                     }));
    EXPECT_EQ(found.summary.records, 2);

    AdbBytes ragged = SerializeAdb(adb);
    ragged.push_back(0);
    const Found bad = CheckBytes(ragged);
    ASSERT_EQ(bad.findings.size(), 1u);
    EXPECT_EQ(bad.findings[0].offset, 4u);
    EXPECT_NE(bad.findings[0].text.find("does not fit"), std::string::npos);
}

TEST(GamedbAdb, DiffPairsClipsByName) {
    AdbGenOptions options;
    options.seed = 5;
    options.minClips = 4;
    options.maxClips = 4;
    AdbGen old = GenerateAdb(options);
    AdbGen mod = old;
    std::swap(mod.clips[0], mod.clips[1]);               // moved: not a change of its values
    PutWord(mod.clips[0], kIndex, 0);
    PutWord(mod.clips[1], kIndex, 1);
    const std::uint32_t hit = GetWord(old.clips[2], kHit) == 1 ? 2 : 1;
    PutWord(mod.clips[2], kHit, hit);                    // the hit comes earlier
    PutWord(mod.clips[2], kForms, GetWord(mod.clips[2], kForms) | 4);
    mod.clips.pop_back();                                // removed
    mod.modelName = "Goblin2";
    const AdbBytes a = SerializeAdb(old), b = SerializeAdb(mod);
    MemorySource sa(a, "old"), sb(b, "new");
    const DiffResult diff = Diff(sa, sb, AnimKind());
    ASSERT_EQ(diff.blocks.size(), 1u);
    const BlockDiff& clips = diff.blocks[0];
    EXPECT_TRUE(clips.reordered);
    ASSERT_EQ(clips.records.size(), 2u);
    EXPECT_EQ(clips.records[0].kind, RecordChange::Kind::Removed);
    EXPECT_EQ(clips.records[0].oldNumber, 4);
    EXPECT_EQ(clips.records[1].kind, RecordChange::Kind::Changed);
    EXPECT_EQ(clips.records[1].newNumber, 3);
    ASSERT_EQ(clips.records[1].fields.size(), 1u);
    EXPECT_EQ(clips.records[1].fields[0].field, "hit_frame");
    EXPECT_EQ(clips.records[1].fields[0].newCell, std::to_string(hit));
    EXPECT_NE(FormatDiff(diff).find("model_name: " + old.modelName + " -> Goblin2"), std::string::npos) << FormatDiff(diff);

    MemorySource again1(a, "old"), again2(a, "old");
    EXPECT_TRUE(Diff(again1, again2, AnimKind()).Equal());
}

TEST(GamedbAdb, ABadTableIsAnErrorNamingItsPlace) {
    const AdbBytes bytes = OneClip("uidle", 6u << 18, 0);
    const struct {
        std::string from, to, column;
        long long row;
    } cases[] = {
        {"name\t", "\"na\"me\t", "", 1},            // broken quoting in the header
        {"\tweapons", "\tarms", "arms", 1},          // unknown column
        {"\tmodifier", "", "modifier", 1},            // missing column
        {"", "\tx", "", 2},                        // a value beyond the header's columns
    };
    for (const auto& c : cases) {
        Unpacked u;
        UnpackInto(bytes, u);
        std::string& table = u.Table();
        if (c.from.empty()) table.insert(table.size() - 2, c.to);
        else table.replace(table.find(c.from), c.from.size(), c.to);
        table += "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\r\n";   // a row of blanks too
        try {
            PackFolder(u.folder);
            ADD_FAILURE() << c.to << " was taken";
        } catch (const Error& error) {
            EXPECT_EQ(error.Where().column, c.column) << error.what();
            EXPECT_EQ(error.Where().row, c.row) << error.what();
        }
    }
}

TEST(GamedbAdb, TheKindComesFromTheName) {
    EXPECT_EQ(KindForFileName("UNMOGO.ADB"), &AnimKind());
    EXPECT_EQ(KindForFileName("data\\unhufe.adb"), &AnimKind());
    EXPECT_EQ(FindKind("anims"), &AnimKind());
    EXPECT_EQ(KindForFileName("unhufe.adb.bak"), nullptr);
}

}  // namespace
}  // namespace gamedb::testing
