#include "gamedb/diff.h"

#include <algorithm>
#include <map>
#include <optional>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/framing.h"
#include "gamedb/value_diff.h"

namespace gamedb {

namespace {

struct FieldRef {
    std::uint8_t tag = 0;
    bool longForm = false;
    std::size_t offset = 0;   // of the payload within the record's bytes
    std::size_t length = 0;
};

struct Record {
    std::uint8_t tag = 1;
    bool longForm = false;
    std::vector<std::uint8_t> bytes;
    std::vector<FieldRef> fields;

    std::span<const std::uint8_t> Payload(const FieldRef& f) const { return std::span(bytes).subspan(f.offset, f.length); }
};

struct Block {
    std::uint8_t tag = 0;
    bool longForm = false;
    std::size_t index = 0;    // position in its file
    std::vector<Record> records;
};

bool ReadBlock(FrameReader& reader, const KindSpec& kind, Block& block) {
    BlockInfo info;
    if (!reader.NextBlock(info)) return false;
    block.tag = info.header.tag;
    block.longForm = info.header.longForm;
    block.index = info.index;
    const BlockSpec* spec = FindBlock(kind, block.tag);
    reader.SetBlockName(spec != nullptr ? std::string(spec->name) : "block " + std::to_string(block.tag));
    RecordInfo info2;
    while (reader.NextRecord(info2)) {
        Record record;
        record.tag = info2.header.tag;
        record.longForm = info2.header.longForm;
        record.bytes.assign(info2.payload.begin(), info2.payload.end());
        NodeCursor cursor(record.bytes);
        NodeView node;
        while (cursor.Next(node))
            record.fields.push_back({node.header.tag, node.header.longForm, node.start + node.header.HeaderSize(),
                                     node.payload.size()});
        // Unpack refuses such a record, so it is damage, not a difference.
        if (!cursor.Failure().empty())
            reader.Fail(info2.payloadOffset + cursor.Position(), "bad field framing: " + cursor.Failure());
        block.records.push_back(std::move(record));
    }
    return true;
}

std::string Cell(const RecordSpec* spec, std::uint8_t tag, std::span<const std::uint8_t> payload) {
    return ValueCell(spec != nullptr ? FindField(*spec, tag) : nullptr, payload);
}

std::string FieldName(const RecordSpec* spec, std::uint8_t tag, std::size_t occurrence) {
    const FieldSpec* field = spec != nullptr ? FindField(*spec, tag) : nullptr;
    std::string name = field != nullptr ? std::string(field->name) : "tag " + std::to_string(tag);
    if (occurrence > 0) name += " (occurrence " + std::to_string(occurrence + 1) + ")";
    return name;
}

// The key that pairs records: the key field's payload, or a marker for a
// record without one (such records pair among themselves, in order).
std::string PairingKey(const Record& record, const BlockSpec* spec) {
    if (spec == nullptr || spec->keyTag < 0) return {};
    for (const FieldRef& f : record.fields)
        if (f.tag == spec->keyTag) {
            std::string key = "+";
            key.append(record.bytes.begin() + static_cast<std::ptrdiff_t>(f.offset),
                       record.bytes.begin() + static_cast<std::ptrdiff_t>(f.offset + f.length));
            return key;
        }
    return {};
}

std::string KeyCell(const Record& record, const BlockSpec* spec) {
    if (spec == nullptr || spec->keyTag < 0) return {};
    for (const FieldRef& f : record.fields)
        if (f.tag == spec->keyTag) return Cell(&spec->record, f.tag, record.Payload(f));
    return {};
}

// Tags in the order to report them: the schema's, then unknown ones as met.
std::vector<std::uint8_t> TagOrder(const Record& a, const Record& b, const RecordSpec* spec) {
    std::vector<std::uint8_t> tags;
    if (spec != nullptr)
        for (const FieldSpec& f : spec->fields) tags.push_back(f.tag);
    for (const Record* r : {&a, &b})
        for (const FieldRef& f : r->fields)
            if (std::find(tags.begin(), tags.end(), f.tag) == tags.end()) tags.push_back(f.tag);
    return tags;
}

std::optional<RecordChange> CompareRecords(const Record& a, const Record& b, const RecordSpec* spec) {
    if (a.tag == b.tag && a.longForm == b.longForm && a.bytes == b.bytes) return std::nullopt;
    RecordChange change;
    change.kind = RecordChange::Kind::Changed;
    if (a.tag != b.tag)
        change.fields.push_back({"(record tag)", true, true, std::to_string(a.tag), std::to_string(b.tag)});
    for (std::uint8_t tag : TagOrder(a, b, spec)) {
        std::vector<const FieldRef*> olds, news;
        for (const FieldRef& f : a.fields)
            if (f.tag == tag) olds.push_back(&f);
        for (const FieldRef& f : b.fields)
            if (f.tag == tag) news.push_back(&f);
        for (std::size_t k = 0; k < std::max(olds.size(), news.size()); ++k) {
            FieldChange field;
            field.inOld = k < olds.size();
            field.inNew = k < news.size();
            if (field.inOld && field.inNew) {
                // Lists, nested records and arrays show the parts that changed.
                CompareValues(change.fields, FieldName(spec, tag, k), spec != nullptr ? FindField(*spec, tag) : nullptr,
                              a.Payload(*olds[k]), b.Payload(*news[k]));
                continue;
            }
            field.field = FieldName(spec, tag, k);
            if (field.inOld) field.oldCell = Cell(spec, tag, a.Payload(*olds[k]));
            if (field.inNew) field.newCell = Cell(spec, tag, b.Payload(*news[k]));
            change.fields.push_back(std::move(field));
        }
    }
    change.layoutOnly = change.fields.empty();
    return change;
}

BlockDiff CompareBlocks(const Block& a, const Block& b, const KindSpec& kind) {
    const BlockSpec* spec = FindBlock(kind, b.tag);
    const RecordSpec* record = spec != nullptr ? &spec->record : nullptr;
    BlockDiff diff;
    diff.tag = b.tag;
    diff.name = spec != nullptr ? std::string(spec->name) : "block " + std::to_string(b.tag);
    diff.oldRecords = static_cast<long long>(a.records.size());
    diff.newRecords = static_cast<long long>(b.records.size());

    // Pair: k-th occurrence of a key with k-th occurrence; by position without a key.
    std::vector<std::optional<std::size_t>> partner(b.records.size());
    std::vector<bool> paired(a.records.size(), false);
    if (spec != nullptr && spec->keyTag >= 0) {
        std::vector<std::string> oldKeys, newKeys;
        for (const Record& r : a.records) oldKeys.push_back(PairingKey(r, spec));
        for (const Record& r : b.records) newKeys.push_back(PairingKey(r, spec));
        partner = PairByKey(oldKeys, newKeys);
        for (const auto& p : partner)
            if (p) paired[*p] = true;
    } else {
        for (std::size_t j = 0; j < std::min(a.records.size(), b.records.size()); ++j) {
            partner[j] = j;
            paired[j] = true;
        }
    }

    for (std::size_t i = 0; i < a.records.size(); ++i) {
        if (paired[i]) continue;
        RecordChange removed;
        removed.kind = RecordChange::Kind::Removed;
        removed.oldNumber = static_cast<long long>(i + 1);
        removed.key = KeyCell(a.records[i], spec);
        diff.records.push_back(std::move(removed));
    }
    std::size_t lastOld = 0;
    bool first = true;
    for (std::size_t j = 0; j < b.records.size(); ++j) {
        const Record& mine = b.records[j];
        if (!partner[j]) {
            RecordChange added;
            added.kind = RecordChange::Kind::Added;
            added.newNumber = static_cast<long long>(j + 1);
            added.key = KeyCell(mine, spec);
            for (const FieldRef& f : mine.fields) {
                FieldChange field;
                field.field = FieldName(record, f.tag, 0);
                field.inNew = true;
                field.newCell = Cell(record, f.tag, mine.Payload(f));
                added.fields.push_back(std::move(field));
            }
            diff.records.push_back(std::move(added));
            continue;
        }
        const std::size_t i = *partner[j];
        if (!first && i < lastOld) diff.reordered = true;
        lastOld = i;
        first = false;
        if (auto change = CompareRecords(a.records[i], mine, record)) {
            change->oldNumber = static_cast<long long>(i + 1);
            change->newNumber = static_cast<long long>(j + 1);
            change->key = KeyCell(mine, spec);
            diff.records.push_back(std::move(*change));
        }
    }
    return diff;
}

BlockDiff OneSided(const Block& block, const KindSpec& kind, bool inOld) {
    const BlockSpec* spec = FindBlock(kind, block.tag);
    BlockDiff diff;
    diff.tag = block.tag;
    diff.name = spec != nullptr ? std::string(spec->name) : "block " + std::to_string(block.tag);
    diff.inOld = inOld;
    diff.inNew = !inOld;
    (inOld ? diff.oldRecords : diff.newRecords) = static_cast<long long>(block.records.size());
    return diff;
}

// The first bytes of `total` as hex.
std::string HexPreview(std::span<const std::uint8_t> head, std::uint64_t total) {
    std::string text;
    if (total == 0) return "nothing";
    AppendHex(text, head.first(std::min<std::size_t>(head.size(), 64)));
    if (total > 64) text += "... (" + std::to_string(total) + " bytes)";
    return text;
}

}  // namespace

bool DiffResult::Equal() const {
    return notes.empty() && std::all_of(blocks.begin(), blocks.end(), [](const BlockDiff& b) { return b.Equal(); });
}

DiffResult Diff(ByteSource& oldDb, ByteSource& newDb, const KindSpec& kind) {
    if (IsAnimKind(kind)) return DiffAnims(oldDb, newDb);
    FrameReader oldReader(oldDb);
    FrameReader newReader(newDb);
    DiffResult result;
    if (oldReader.FileNode().tag != newReader.FileNode().tag)
        result.notes.push_back("the file node's tag differs: " + std::to_string(oldReader.FileNode().tag) + " -> " +
                               std::to_string(newReader.FileNode().tag));
    if (oldReader.FileNode().longForm != newReader.FileNode().longForm)
        result.notes.push_back("the file node's size form differs");

    // Blocks are read in step; one that the other file has not reached yet
    // waits, so files with blocks in the same order hold one block each.
    std::vector<Block> waitingOld, waitingNew;
    std::vector<std::pair<std::size_t, BlockDiff>> diffs;  // by the new file's block position
    bool moreOld = true, moreNew = true;
    bool orderDiffers = false, formsDiffer = false;
    auto settle = [&](Block& arrived, std::vector<Block>& otherWaiting, std::vector<Block>& ownWaiting, bool arrivedNew) {
        const auto match = std::find_if(otherWaiting.begin(), otherWaiting.end(),
                                        [&](const Block& b) { return b.tag == arrived.tag; });
        if (match == otherWaiting.end()) {
            ownWaiting.push_back(std::move(arrived));
            return;
        }
        const Block& a = arrivedNew ? *match : arrived;
        const Block& b = arrivedNew ? arrived : *match;
        if (a.index != b.index) orderDiffers = true;
        if (a.longForm != b.longForm) formsDiffer = true;
        diffs.emplace_back(b.index, CompareBlocks(a, b, kind));
        otherWaiting.erase(match);
    };
    while (moreOld || moreNew) {
        if (moreOld) {
            Block block;
            if ((moreOld = ReadBlock(oldReader, kind, block))) settle(block, waitingNew, waitingOld, false);
        }
        if (moreNew) {
            Block block;
            if ((moreNew = ReadBlock(newReader, kind, block))) settle(block, waitingOld, waitingNew, true);
        }
    }
    for (const Block& block : waitingNew) diffs.emplace_back(block.index, OneSided(block, kind, false));
    std::sort(diffs.begin(), diffs.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (auto& [index, diff] : diffs) result.blocks.push_back(std::move(diff));
    for (const Block& block : waitingOld) result.blocks.push_back(OneSided(block, kind, true));
    if (orderDiffers) result.notes.push_back("the blocks come in another order");
    if (formsDiffer) result.notes.push_back("a block's size form differs");

    // Compared a piece at a time: whatever follows the file node may be large.
    const std::uint64_t oldLength = oldDb.Remaining(), newLength = newDb.Remaining();
    bool same = oldLength == newLength;
    std::vector<std::uint8_t> oldHead, newHead, oldPiece, newPiece;
    constexpr std::size_t kPiece = 64 * 1024;
    while (oldDb.Remaining() > 0 || newDb.Remaining() > 0) {
        oldDb.ReadInto(oldPiece, static_cast<std::size_t>(std::min<std::uint64_t>(oldDb.Remaining(), kPiece)), "the trailer");
        newDb.ReadInto(newPiece, static_cast<std::size_t>(std::min<std::uint64_t>(newDb.Remaining(), kPiece)), "the trailer");
        if (oldHead.empty() && newHead.empty()) {
            oldHead = oldPiece;
            newHead = newPiece;
        }
        same = same && oldPiece == newPiece;
    }
    if (!same)
        result.notes.push_back("the bytes after the file node differ: " + HexPreview(oldHead, oldLength) + " -> " +
                               HexPreview(newHead, newLength));
    return result;
}

namespace {

std::string Identity(const RecordChange& change, bool useOld) {
    std::string text = "record " + std::to_string(useOld ? change.oldNumber : change.newNumber);
    if (!change.key.empty()) text += " \"" + change.key + "\"";
    return text;
}

std::string Counted(std::size_t n, const char* what) { return std::to_string(n) + " " + what; }

}  // namespace

std::vector<std::optional<std::size_t>> PairByKey(const std::vector<std::string>& oldKeys,
                                                  const std::vector<std::string>& newKeys) {
    std::map<std::string, std::vector<std::size_t>> byKey;
    for (std::size_t i = 0; i < oldKeys.size(); ++i) byKey[oldKeys[i]].push_back(i);
    std::map<std::string, std::size_t> used;
    std::vector<std::optional<std::size_t>> partner(newKeys.size());
    for (std::size_t j = 0; j < newKeys.size(); ++j) {
        const auto it = byKey.find(newKeys[j]);
        std::size_t& next = used[newKeys[j]];
        if (it != byKey.end() && next < it->second.size()) partner[j] = it->second[next++];
    }
    return partner;
}

std::string FormatDiff(const DiffResult& diff, std::size_t maxRecords) {
    std::string out;
    for (const BlockDiff& block : diff.blocks) {
        if (block.Equal()) continue;
        if (!block.inNew) {
            out += block.name + ": only in the old database (" + Counted(static_cast<std::size_t>(block.oldRecords), "records") + ")\n";
            continue;
        }
        if (!block.inOld) {
            out += block.name + ": only in the new database (" + Counted(static_cast<std::size_t>(block.newRecords), "records") + ")\n";
            continue;
        }
        std::size_t added = 0, removed = 0, changed = 0;
        for (const RecordChange& r : block.records) {
            added += r.kind == RecordChange::Kind::Added;
            removed += r.kind == RecordChange::Kind::Removed;
            changed += r.kind == RecordChange::Kind::Changed;
        }
        out += block.name + ": " + Counted(changed, "changed") + ", " + Counted(added, "added") + ", " +
               Counted(removed, "removed") + " (" + std::to_string(block.oldRecords) + " -> " +
               std::to_string(block.newRecords) + " records)\n";
        std::size_t listed = 0;
        for (const RecordChange& r : block.records) {
            if (listed++ == maxRecords) {
                out += "  ... and " + Counted(block.records.size() - maxRecords, "more records") + "\n";
                break;
            }
            switch (r.kind) {
                case RecordChange::Kind::Removed: out += "  removed " + Identity(r, true) + "\n"; break;
                case RecordChange::Kind::Added:
                    out += "  added " + Identity(r, false) + "\n";
                    for (const FieldChange& f : r.fields) out += "    " + f.field + ": " + f.newCell + "\n";
                    break;
                case RecordChange::Kind::Changed:
                    out += "  changed " + Identity(r, false);
                    if (r.oldNumber != r.newNumber) out += " (record " + std::to_string(r.oldNumber) + " in the old)";
                    out += "\n";
                    for (const FieldChange& f : r.fields)
                        out += "    " + f.field + ": " + (f.inOld ? f.oldCell : "(absent)") + " -> " +
                               (f.inNew ? f.newCell : "(absent)") + "\n";
                    if (r.layoutOnly) out += "    same values; the fields' order or size forms differ\n";
                    break;
            }
        }
        if (block.reordered) out += "  the records come in another order\n";
    }
    for (const std::string& note : diff.notes) out += note + "\n";
    return out;
}

}  // namespace gamedb
