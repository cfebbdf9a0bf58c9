// Checks a set of the game's databases together: every reference from one
// database into another (or inside one) resolves, and every rule the game's
// own data keeps still holds. The references and rules themselves are data,
// in references.cpp; this is the model they are run over and the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/schema.h"

namespace gamedb {

// One field of one record, decoded by its type. A value whose length does
// not fit its type is left out: the per-file check reports it.
struct SetValue {
    std::vector<std::string> texts;       // Text, Code4 (one); TextList, Code4List (the items); Windows-1251
    std::vector<std::int64_t> numbers;    // Int32, UInt32, Bits5, Byte (one); ByteArray; RecordList: item count
    std::vector<std::uint32_t> floats;    // Float32, Float32Array: the bits
};

struct SetRecord {
    long long number = 0;                 // from 1 within its block
    std::string key;                      // the key field's text (Windows-1251), empty when none
    // By field name; a nested record's fields as "head.part".
    std::map<std::string, SetValue, std::less<>> fields;

    const SetValue* Find(std::string_view field) const;
    // The first text of the field, empty when absent.
    std::string_view Text(std::string_view field) const;
    // The first number of the field.
    std::optional<std::int64_t> Number(std::string_view field) const;
};

struct SetDatabase {
    const KindSpec* kind = nullptr;
    std::string label;                    // as messages name it
    std::map<std::string, std::vector<SetRecord>, std::less<>> blocks;

    const std::vector<SetRecord>* Block(std::string_view name) const;
};

struct DatabaseSet {
    std::map<std::string, SetDatabase, std::less<>> byKind;   // kind name -> database
    // Names of the animation databases (`unhuma` for `unhuma.adb`, lower case)
    // when the set came with them; without them masks are not checked.
    std::optional<std::set<std::string>> animations;

    const SetDatabase* Find(std::string_view kind) const;
};

// Reads a database's records into the model. A damaged database gives what
// could be read before the damage (the per-file check reports the damage).
SetDatabase LoadSetDatabase(ByteSource& source, const KindSpec& kind, std::string label);

struct SetFinding {
    // Error: a reference that does not resolve or a rule broken (exit 1).
    // Warning: the same, but the game's own shipped data has it too (exit 0
    // unless strict). Note: a Guessed rule missed; only informs.
    enum class Severity { Error, Warning, Note };
    Severity severity = Severity::Error;
    std::string rule;       // "R07", "C16"
    std::string database;   // label of the database the record is in
    std::string block;
    long long record = 0;   // from 1; 0 for a finding about a whole block or set
    std::string key;        // UTF-8
    std::string field;
    std::string value;      // UTF-8
    std::string text;       // why, UTF-8
    // The kinds the rule involves, so that pack can show what touches the
    // database it packs.
    std::vector<std::string> kinds;
};

// "error: "units.udb" monsters "Wolf" (record 3), race "Wulf": no race named ... [R06]"
std::string FormatSetFinding(const SetFinding& finding);

struct SetCheckSummary {
    long long references = 0;   // values resolved or not
    long long errors = 0;
    long long warnings = 0;
    long long notes = 0;
};

// Runs every reference and rule over the set; references whose other end is
// not in the set are skipped. Findings come in the order of the tables.
SetCheckSummary CheckSet(const DatabaseSet& set, const std::function<void(const SetFinding&)>& report);

// One reference as data: the values of `from` (kind.block.field) name records
// of `to` (one or more kind.block.field separated by '|'); `part` says which
// part of the value is the name. Names compare without case.
struct ReferenceRule {
    enum class Part {
        Whole,           // the text itself (each item of a list)
        ItemSpec,        // `name[.arg][ ][[n]|[spell{mods}]]`: the item name, its material/rune/prototype, the enchantment
        SpellPrototype,  // `code[ ]{mod;mod}`: the code
        SpellModifiers,  // ... each modifier
        QuestOfGrant,    // `q.zone.name[.n]`: the quest name
        Animation,       // the name of a `.adb` member
    };
    std::string_view id;
    std::string_view from;
    Part part;
    std::string_view to;          // "" when only `also` names are allowed
    std::string_view also;        // further names that resolve, '|'-separated ("none")
    bool emptyIsNone = false;     // an empty value refers to nothing and is fine
    enum class Mark { Verified, Observed, Guessed } mark = Mark::Verified;
    std::string_view what;        // "a material kind", for messages
    // A record whose only non-empty speech list is this one is skipped: the
    // unit is placed by a map, which the databases cannot show.
    std::string_view unlessOnlySpeech = {};
};

std::span<const ReferenceRule> References();

// A rule inside the data, as data where it is a common shape, else a function.
struct SetRule {
    enum class Shape {
        Unique,      // `fields` (kind.block.field, '|'-separated) never repeat a value; `param` a value exempted
        UniqueAcross,// a value never in two of the blocks of `fields`
        Position,    // the field equals the record's position, counted from `param`
        OneToOne,    // `fields` = "kind.block.a|b": a and b determine each other
        Function,    // "kind.block.a|b": a determines b
        Custom,      // `check` does it
    };
    std::string_view id;
    Shape shape;
    std::string_view fields;
    std::string_view param;
    ReferenceRule::Mark mark = ReferenceRule::Mark::Verified;
    std::string_view what;        // one line, for documentation and messages
    void (*check)(const DatabaseSet&, const std::function<void(SetFinding)>&) = nullptr;
};

std::span<const SetRule> Rules();

// A finding that the game's shipped data itself has (REFERENCES §4): reported
// as a warning. Empty parts match anything; names compare without case.
struct KnownShippedFinding {
    std::string_view rule, block, key, value;
};
std::span<const KnownShippedFinding> KnownShippedFindings();

// The databases of a set, from an archive (its members whose names tell a
// kind, and the names of its `.adb` members), from files (kind from the name;
// ARCHIVE:MEMBER too) or from a folder (database files and unpacked table
// folders anywhere below it; table folders are packed in memory). Throws
// UsageError when two databases of one kind are given.
struct SetSource {
    std::string label;
    std::vector<std::uint8_t> bytes;            // the database
    const KindSpec* kind = nullptr;
    bool packedFromTables = false;
    std::filesystem::path file;                 // a whole file on disk, for idb2txt's reading; else empty
};
struct LoadedSet {
    std::vector<SetSource> sources;             // in the order found
    std::optional<std::set<std::string>> animations;
};
LoadedSet LoadSetFromArchive(const std::filesystem::path& archive);
LoadedSet LoadSetFromFolder(const std::filesystem::path& dir);
LoadedSet LoadSetFromArguments(const std::vector<std::string>& args);
DatabaseSet BuildSet(const LoadedSet& loaded);

// The set a database packed from `tables` belongs to: the databases of the
// unpacked archive folder that holds `tables` (found by its `~archive.txt`),
// with `packed` in place of `tables`. Empty when `tables` is not in one.
std::optional<LoadedSet> SetAroundTables(const std::filesystem::path& tables, const SetSource& packed);

}  // namespace gamedb
