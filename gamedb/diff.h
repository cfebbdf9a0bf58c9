// What changed between two databases of one kind: per block, the records
// added, removed and changed, and for a changed record its fields with old
// and new values in the cell syntax of the tables.
//
// Records are paired by their key text where the block has a key field (the
// k-th record named N in the old file with the k-th named N in the new one,
// so duplicate names pair in file order), by position otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/schema.h"

namespace gamedb {

struct FieldChange {
    std::string field;              // "price", "tag 99" for a tag the schema lacks
    bool inOld = false, inNew = false;
    std::string oldCell, newCell;   // cell syntax of the tables
};

struct RecordChange {
    enum class Kind { Added, Removed, Changed };
    Kind kind = Kind::Changed;
    long long oldNumber = 0;        // position from 1 in the old block, 0 when added
    long long newNumber = 0;        // position from 1 in the new block, 0 when removed
    std::string key;                // the key as a cell, empty when the block has none
    // Changed: the fields that differ. Added: every field of the new record.
    std::vector<FieldChange> fields;
    // Same values, but the fields' order or size forms differ.
    bool layoutOnly = false;
};

struct BlockDiff {
    std::uint8_t tag = 0;
    std::string name;
    bool inOld = true, inNew = true;
    long long oldRecords = 0, newRecords = 0;
    bool reordered = false;         // the paired records follow each other in another order
    std::vector<RecordChange> records;

    bool Equal() const { return inOld && inNew && !reordered && records.empty(); }
};

struct DiffResult {
    std::vector<BlockDiff> blocks;  // in the new file's order, then blocks only the old file has
    std::vector<std::string> notes; // differences outside the blocks (trailer, size forms, block order)

    bool Equal() const;
};

// Pairs records by key: the k-th new record with key K takes the k-th old
// record with K (so duplicate keys pair in file order); nullopt: no partner.
std::vector<std::optional<std::size_t>> PairByKey(const std::vector<std::string>& oldKeys,
                                                  const std::vector<std::string>& newKeys);

// Reads both databases once; holds one block of each at a time when their
// blocks come in the same order. Throws Error when either cannot be read.
DiffResult Diff(ByteSource& oldDb, ByteSource& newDb, const KindSpec& kind);

// The report as lines of UTF-8 text, each ending in '\n'; at most
// `maxRecords` records listed per block.
std::string FormatDiff(const DiffResult& diff, std::size_t maxRecords = SIZE_MAX);

}  // namespace gamedb
