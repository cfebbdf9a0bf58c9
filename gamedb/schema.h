// The layouts of the game's eight database kinds, as data: one table per
// kind (block -> record -> field tag, type and name), read by one generic
// reader and writer. Learning what a field means is a one-line change in
// schema.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace gamedb {

// How a field's payload is encoded. Every multi-byte number is little-endian.
enum class ValueType : std::uint8_t {
    Text,          // Windows-1251 bytes followed by exactly one 00
    Int32,         // 4 bytes, two's complement
    UInt32,        // 4 bytes, unsigned
    Float32,       // 4 bytes, IEEE single; the bits are what counts (NaN payloads, subnormals)
    Float32Array,  // `count` singles back to back
    Byte,          // 1 byte
    ByteArray,     // `count` bytes
    Bits5,         // 4-byte word used as shop flags, bit k = shop k+1
    Code4,         // a short text padded with 00 to exactly 4 bytes
    TextList,      // nodes tagged 1, each payload one Text
    Code4List,     // nodes tagged 1, each payload one Code4
    Nested,        // the fields of `record`, each a node with its own tag
    RecordList,    // nodes tagged 1, each payload the fields of `record`
    Raw,           // `count` bytes of unknown meaning, copied as they are
};

struct RecordSpec;

struct FieldSpec {
    std::uint8_t tag;
    ValueType type;
    std::string_view name;                // column name: lower case, digits and '_'
    std::uint16_t count = 0;              // N of Float32Array, ByteArray and Raw
    const RecordSpec* record = nullptr;   // the layout of Nested and RecordList
    const std::string_view* parts = nullptr;  // `count` names of an array's values; nullptr: 0, 1, ...
};

// The fields of a record (or of a nested record / list item) in the order
// the game writes them.
struct RecordSpec {
    std::string_view name;
    std::span<const FieldSpec> fields;
};

struct BlockSpec {
    std::uint8_t tag;                     // block number, 1..n
    std::string_view name;                // table name, e.g. "weapons"
    RecordSpec record;
    int keyTag = -1;                      // the Text field that names a record (for diff), -1 none
};

struct KindSpec {
    std::string_view name;                // "items", "levers", ...
    std::string_view filePattern;         // "*.idb", "prints.db", ...: how a file name tells the kind
    std::span<const BlockSpec> blocks;    // in file order
};

// The eight kinds: items, levers, perks, prints, spells, units, quests, acks.
std::span<const KindSpec> Kinds();
// By name ("items"); nullptr when unknown.
const KindSpec* FindKind(std::string_view name);
// By file name, case-insensitively (a path's last component); nullptr when
// the name fits no kind.
const KindSpec* KindForFileName(std::string_view fileName);
const BlockSpec* FindBlock(const KindSpec& kind, std::uint8_t tag);
const FieldSpec* FindField(const RecordSpec& record, std::uint8_t tag);
// Fixed payload length of a type, or -1 when it varies (texts, lists, nested).
int FixedLength(const FieldSpec& field);

// A fixed-size array or a nested record takes one table column per value.
bool IsSplit(const FieldSpec& field);
// How many columns the field takes: its parts when split, else 1.
std::size_t ColumnCount(const FieldSpec& field);
// The name of a split field's part: "absorption.piercing", "unk22.0", "head.weight".
std::string PartName(const FieldSpec& field, std::size_t part);

}  // namespace gamedb
