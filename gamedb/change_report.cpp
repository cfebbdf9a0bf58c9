#include "gamedb/change_report.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "gamedb/cells.h"
#include "gamedb/checksum.h"
#include "gamedb/database.h"
#include "gamedb/error.h"
#include "gamedb/provenance.h"
#include "gamedb/value_diff.h"

namespace gamedb {
namespace {

constexpr std::size_t kListed = 10;   // records per block, kept values, warnings

struct FieldRef {
    std::uint8_t tag = 0;
    std::size_t offset = 0, length = 0;   // within the side's bytes
};

struct Rec {
    NodeHeader header;
    std::size_t offset = 0, length = 0;   // the payload within the block's bytes
};

// The records of a block's payload.
std::vector<Rec> Records(std::span<const std::uint8_t> block) {
    std::vector<Rec> records;
    NodeCursor cursor(block);
    for (NodeView node; cursor.Next(node);)
        records.push_back({node.header, node.start + node.header.HeaderSize(), node.payload.size()});
    return records;
}

// A record's fields, framed only for the records that differ; false when
// they do not frame cleanly.
bool Fields(std::span<const std::uint8_t> block, const Rec& rec, std::vector<FieldRef>& fields) {
    fields.clear();
    NodeCursor cursor(block.subspan(rec.offset, rec.length));
    for (NodeView node; cursor.Next(node);)
        fields.push_back({node.header.tag, rec.offset + node.start + node.header.HeaderSize(), node.payload.size()});
    return cursor.Failure().empty();
}

std::uint32_t Le32(std::span<const std::uint8_t> b) {
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}
bool Finite(std::uint32_t bits) { return (bits & 0x7F800000u) != 0x7F800000u; }
bool Nan(std::uint32_t bits) { return !Finite(bits) && (bits & 0x007FFFFFu) != 0; }
bool Subnormal(std::uint32_t bits) { return (bits & 0x7F800000u) == 0 && (bits & 0x007FFFFFu) != 0; }

// Whether `now` is `stored` rounded to the significant digits `now` shows,
// written with a decimal point or an exponent: what a spreadsheet saves for
// a value it displays shorter. Integers are left out: no spreadsheet drops
// integer digits without an exponent, and a person types them.
bool Redisplayed(std::uint32_t stored, std::uint32_t now) {
    if (stored == now || !Finite(stored) || !Finite(now)) return false;
    std::string text;
    AppendFloat(text, now);
    if (text.starts_with("\\e")) text.erase(0, 2);  // the mark that keeps a long form text
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = std::string_view(text).substr(0, e);
    if (e == std::string::npos && mantissa.find('.') == std::string_view::npos) return false;
    int digits = 0;
    bool leading = true;
    for (const char c : mantissa) {
        if (c < '0' || c > '9' || (leading && c == '0')) continue;
        leading = false;
        ++digits;
    }
    if (digits == 0 || digits > 9) return false;
    char buffer[64];
    const auto printed = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(std::bit_cast<float>(stored)),
                                       std::chars_format::scientific, digits - 1);
    float rounded = 0;
    const auto read = std::from_chars(buffer, printed.ptr, rounded);
    return read.ec == std::errc() && std::bit_cast<std::uint32_t>(rounded) == now;
}

// A cell a spreadsheet would take for a number, date, time or percent.
bool LooksNumeric(std::string_view cell) {
    bool digit = false;
    for (const char c : cell) {
        if (c >= '0' && c <= '9') digit = true;
        else if (std::string_view(".,+-eE/:% ").find(c) == std::string_view::npos) return false;
    }
    return digit;
}

// "" when the change looks like an edit, else what it looks like.
std::string SpreadsheetDamage(const ValueLeaf& leaf, const std::string& oldShown, const std::string& newShown) {
    if (leaf.spec == nullptr) return {};
    const ValueType type = leaf.spec->type;
    if (type == ValueType::Float32 && leaf.oldBytes.size() == 4 && leaf.newBytes.size() == 4) {
        const std::uint32_t o = Le32(leaf.oldBytes), n = Le32(leaf.newBytes);
        if (o == 0x80000000u && n == 0) return "-0 became 0";
        if (Nan(o) && Nan(n)) return "the NaN lost its payload";
        if (Subnormal(o) && (n & 0x7FFFFFFFu) == 0) return "a subnormal became 0";
        if (Redisplayed(o, n)) return "the stored value re-displayed with fewer digits";
        return {};
    }
    if (type != ValueType::Text && type != ValueType::Code4) return {};
    // The cells as a spreadsheet saw them: without the mark that keeps them text.
    const auto unmarked = [](const std::string& cell) { return cell.starts_with("\\e") ? cell.substr(2) : cell; };
    const std::string oldCell = unmarked(oldShown), newCell = unmarked(newShown);
    const std::size_t first = oldCell.find_first_not_of('0');
    const bool digitsOnly = !oldCell.empty() && oldCell.find_first_not_of("0123456789") == std::string::npos;
    if (digitsOnly && oldCell.size() > 1 && oldCell[0] == '0' &&
        newCell == (first == std::string::npos ? std::string("0") : oldCell.substr(first)))
        return "leading zeros lost";
    if (LooksNumeric(oldCell) && LooksNumeric(newCell)) return "a text that looks like a number or date, re-written";
    return {};
}

std::string FieldLabel(const RecordSpec* spec, std::uint8_t tag, std::size_t occurrence) {
    const FieldSpec* field = spec != nullptr ? FindField(*spec, tag) : nullptr;
    std::string name = field != nullptr ? std::string(field->name) : "tag " + std::to_string(tag);
    if (occurrence > 0) name += " (occurrence " + std::to_string(occurrence + 1) + ")";
    return name;
}

}  // namespace

// A base block whose header is read; its payload is read only when the
// packed block differs from it (or has no counterpart), as an unchanged
// block needs no more than a comparison in passing.
struct BaseComparison::Side {
    std::uint8_t tag = 0;
    std::uint64_t length = 0;          // of the payload
    std::uint64_t offset = 0;          // of the payload in the base
    std::vector<std::uint8_t> bytes;   // once loaded: the payload, its record nodes as stored
    long long records = 0;             // once loaded
};

namespace {

// Base blocks are compared and copied in pieces of this size.
constexpr std::size_t kPiece = 64 * 1024;

long long CountRecords(NodeCursor& cursor) {
    long long n = 0;
    for (NodeView record; cursor.Next(record);) ++n;
    return n;
}

}  // namespace

BaseComparison::BaseComparison(std::unique_ptr<ByteSource> base, const KindSpec& kind, bool asTyped,
                               std::vector<WrittenFile> written)
    : base_(std::move(base)),
      reader_(std::make_unique<FrameReader>(*base_)),
      kind_(kind),
      asTyped_(asTyped),
      written_(std::move(written)) {}

BaseComparison::~BaseComparison() = default;

bool BaseComparison::ReadBaseBlock() {
    BlockInfo info;
    if (!reader_->NextBlock(info)) return false;
    ++baseBlocks_;
    pending_ = std::make_unique<Side>();
    pending_->tag = info.header.tag;
    pending_->length = info.header.length;
    pending_->offset = base_->Position();
    // The room of the block before: fresh room for every block costs the
    // system a page fault per page.
    pending_->bytes = std::move(spare_);
    pending_->bytes.clear();
    const BlockSpec* spec = FindBlock(kind_, info.header.tag);
    reader_->SetBlockName(spec != nullptr ? std::string(spec->name) : "block " + std::to_string(info.header.tag));
    return true;
}

// Reads the rest of the pending block's payload after the bytes already
// held (those compared in passing) and counts its records.
void BaseComparison::LoadBaseBlock() {
    Side& side = *pending_;
    const std::size_t held = side.bytes.size();
    side.bytes.resize(static_cast<std::size_t>(side.length));
    base_->Read(std::span(side.bytes).subspan(held), "a block");
    NodeCursor cursor(side.bytes);
    side.records = CountRecords(cursor);
    if (!cursor.Failure().empty())
        reader_->Fail(side.offset + cursor.Position(), "bad record framing: " + cursor.Failure());
}

// Whether the pending block's payload is `records`, read from the base in
// pieces: holding the base block as well would cost a page fault per page
// of it. At the first piece that differs, the bytes read so far are held
// for LoadBaseBlock.
bool BaseComparison::SameAsBase(std::span<const std::uint8_t> records) {
    Side& side = *pending_;
    if (side.length != records.size()) return false;
    piece_.resize(kPiece);
    for (std::size_t done = 0; done < records.size();) {
        const std::size_t n = std::min(records.size() - done, piece_.size());
        base_->Read(std::span(piece_.data(), n), "a block");
        if (std::memcmp(piece_.data(), records.data() + done, n) != 0) {
            side.bytes.assign(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(done));
            side.bytes.insert(side.bytes.end(), piece_.begin(), piece_.begin() + static_cast<std::ptrdiff_t>(n));
            return false;
        }
        done += n;
    }
    return true;
}

namespace {

BlockDiff OneSidedBlock(const KindSpec& kind, std::uint8_t tag, long long records, bool inOld) {
    const BlockSpec* spec = FindBlock(kind, tag);
    BlockDiff diff;
    diff.tag = tag;
    diff.name = spec != nullptr ? std::string(spec->name) : "block " + std::to_string(tag);
    diff.inOld = inOld;
    diff.inNew = !inOld;
    (inOld ? diff.oldRecords : diff.newRecords) = records;
    return diff;
}

// A block in the base and in the packed database.
BlockDiff TwoSidedBlock(const KindSpec& kind, std::uint8_t tag, long long oldRecords, long long newRecords) {
    BlockDiff diff = OneSidedBlock(kind, tag, oldRecords, true);
    diff.inNew = true;
    diff.newRecords = newRecords;
    return diff;
}

}  // namespace

// A base that cannot be read ends the comparison, never the pack.
void BaseComparison::Stop(const std::exception& e) {
    failure_ = e.what();
    reader_.reset();
    base_.reset();
    pending_.reset();
}

void BaseComparison::Block(std::uint8_t tag, const std::string&, std::vector<std::uint8_t>& records) {
    if (!reader_) return;
    try {
        Step(tag, records);
    } catch (const std::exception& e) {
        Stop(e);
    }
}

std::optional<HeldBlock> BaseComparison::Held(std::uint8_t tag, const std::string& table, InputFolder& in) {
    // Only while every block so far paired with the base's block of the
    // same place, so that the next base block is the one `table` came from.
    const auto index = static_cast<std::size_t>(packedBlocks_);
    if (!reader_ || pending_ || packedBlocks_ != baseBlocks_ || index >= written_.size() ||
        written_[index].name != table || !in.CheapToRead())
        return std::nullopt;
    // Its checksum, and its rows: unpack writes a header and a line per record.
    Crc32 crc;
    long long lines = 0;
    try {
        std::unique_ptr<ByteSource> source = in.Open(table);
        piece_.resize(kPiece);
        while (const std::size_t n = source->ReadSome(piece_)) {
            const std::span<const std::uint8_t> bytes(piece_.data(), n);
            crc.Add(bytes);
            lines += std::count(bytes.begin(), bytes.end(), std::uint8_t{'\n'});
        }
    } catch (const Error&) {
        return std::nullopt;  // pack reads it again and says what is wrong
    }
    if (crc.Value() != written_[index].checksum) return std::nullopt;
    try {
        if (!ReadBaseBlock()) return std::nullopt;
    } catch (const std::exception& e) {
        Stop(e);
        return std::nullopt;
    }
    if (pending_->tag != tag) return std::nullopt;
    heldRows_ = lines - 1;
    return HeldBlock{pending_->length, heldRows_};
}

// Errors propagate: part of the block may be written already.
void BaseComparison::CopyHeld(const std::function<void(std::span<const std::uint8_t>)>& write) {
    ++packedBlocks_;
    piece_.resize(kPiece);
    for (std::uint64_t left = pending_->length; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece_.size()));
        base_->Read(std::span(piece_.data(), n), "a block");
        write(std::span(piece_.data(), n));
        left -= n;
    }
    changes_.blocks.push_back(TwoSidedBlock(kind_, pending_->tag, heldRows_, heldRows_));
    spare_ = std::move(pending_->bytes);
    pending_.reset();
}

void BaseComparison::Step(std::uint8_t tag, std::vector<std::uint8_t>& records) {
    ++packedBlocks_;
    const auto count = [&records] {
        NodeCursor cursor(records);
        return CountRecords(cursor);
    };
    for (;;) {
        if (!pending_ && !ReadBaseBlock()) {
            changes_.blocks.push_back(OneSidedBlock(kind_, tag, count(), false));
            return;
        }
        if (pending_->tag == tag) break;
        LoadBaseBlock();
        changes_.blocks.push_back(OneSidedBlock(kind_, pending_->tag, pending_->records, true));
        spare_ = std::move(pending_->bytes);
        pending_.reset();
    }
    if (SameAsBase(records)) {
        const long long same = count();
        changes_.blocks.push_back(TwoSidedBlock(kind_, tag, same, same));
    } else {
        LoadBaseBlock();
        Compare(records);
    }
    spare_ = std::move(pending_->bytes);
    pending_.reset();
}

void BaseComparison::Finish() {
    try {
        while (reader_ && (pending_ || ReadBaseBlock())) {
            LoadBaseBlock();
            changes_.blocks.push_back(OneSidedBlock(kind_, pending_->tag, pending_->records, true));
            pending_.reset();
        }
    } catch (const std::exception& e) {
        Stop(e);
    }
    // The base may be the file pack is about to replace.
    reader_.reset();
    base_.reset();
}

void BaseComparison::Compare(std::vector<std::uint8_t>& records) {
    const Side& base = *pending_;
    struct {
        std::span<const std::uint8_t> bytes;
        std::vector<Rec> records;
    } old{base.bytes, Records(base.bytes)}, now{records, Records(records)};
    const BlockSpec* spec = FindBlock(kind_, base.tag);
    const RecordSpec* layout = spec != nullptr ? &spec->record : nullptr;
    const FieldSpec* keyField = spec != nullptr && spec->keyTag >= 0 ? FindField(spec->record, static_cast<std::uint8_t>(spec->keyTag)) : nullptr;
    const auto key = [&](std::span<const std::uint8_t> all, const Rec& rec) -> std::optional<std::span<const std::uint8_t>> {
        if (keyField == nullptr) return std::nullopt;
        NodeCursor cursor(all.subspan(rec.offset, rec.length));
        for (NodeView node; cursor.Next(node);)
            if (node.header.tag == keyField->tag) return node.payload;
        return std::nullopt;
    };
    const auto keyText = [&](std::span<const std::uint8_t> all, const Rec& rec) {
        const auto k = key(all, rec);
        return k ? std::string(k->begin(), k->end()) : std::string();
    };

    BlockDiff diff = TwoSidedBlock(kind_, base.tag, base.records, static_cast<long long>(now.records.size()));

    // Pairing: by position while the block keeps its length and mostly its
    // keys (a renamed record stays one record); by key after a sort, an
    // insertion or a deletion.
    const std::size_t n = now.records.size();
    std::vector<std::optional<std::size_t>> partner(n);
    std::vector<bool> paired(old.records.size(), false);
    bool byPosition = old.records.size() == n;
    if (byPosition && keyField != nullptr) {
        std::size_t moved = 0;
        for (std::size_t i = 0; i < n; ++i) moved += keyText(old.bytes, old.records[i]) != keyText(records, now.records[i]);
        byPosition = moved * 2 <= n;
    }
    if (!byPosition && keyField != nullptr) {
        std::vector<std::string> oldKeys, newKeys;
        for (const Rec& r : old.records) oldKeys.push_back(keyText(old.bytes, r));
        for (const Rec& r : now.records) newKeys.push_back(keyText(records, r));
        partner = PairByKey(oldKeys, newKeys);
    } else {
        for (std::size_t j = 0; j < std::min(n, old.records.size()); ++j) partner[j] = j;
    }
    for (const auto& p : partner)
        if (p) paired[*p] = true;

    const auto keyCell = [&](std::span<const std::uint8_t> all, const Rec& rec) {
        const auto k = key(all, rec);
        return k ? ValueCell(keyField, *k) : std::string();
    };
    for (std::size_t i = 0; i < old.records.size(); ++i) {
        if (paired[i]) continue;
        RecordChange removed;
        removed.kind = RecordChange::Kind::Removed;
        removed.oldNumber = static_cast<long long>(i + 1);
        removed.key = keyCell(old.bytes, old.records[i]);
        diff.records.push_back(std::move(removed));
    }
    std::optional<std::size_t> lastOld;
    std::vector<FieldRef> aFields, bFields;
    for (std::size_t j = 0; j < n; ++j) {
        const Rec& b = now.records[j];
        if (partner[j]) {
            if (lastOld && *partner[j] < *lastOld) diff.reordered = true;
            lastOld = partner[j];
        }
        RecordChange change;
        change.newNumber = static_cast<long long>(j + 1);
        change.key = keyCell(records, b);
        if (!partner[j]) {
            change.kind = RecordChange::Kind::Added;
            diff.records.push_back(std::move(change));
            continue;
        }
        const Rec& a = old.records[*partner[j]];
        change.oldNumber = static_cast<long long>(*partner[j] + 1);
        const auto oldPayload = old.bytes.subspan(a.offset, a.length);
        const auto newPayload = std::span<const std::uint8_t>(records).subspan(b.offset, b.length);
        if (a.header.tag == b.header.tag && a.header.longForm == b.header.longForm && std::ranges::equal(oldPayload, newPayload))
            continue;
        const bool aFramed = Fields(old.bytes, a, aFields), bFramed = Fields(records, b, bFields);
        if (!aFramed || !bFramed) {
            FieldChange whole;
            whole.field = "(record bytes)";
            whole.inOld = whole.inNew = true;
            whole.oldCell = ValueCell(nullptr, oldPayload);
            whole.newCell = ValueCell(nullptr, newPayload);
            change.fields.push_back(std::move(whole));
            diff.records.push_back(std::move(change));
            continue;
        }
        const std::string where = diff.name + " record " + std::to_string(j + 1) + (change.key.empty() ? "" : " \"" + change.key + "\"") + " ";
        const LeafFilter filter = [&](const ValueLeaf& leaf) {
            const std::string oldCell = ValueCell(leaf.spec, leaf.oldBytes), newCell = ValueCell(leaf.spec, leaf.newBytes);
            const std::string damage = SpreadsheetDamage(leaf, oldCell, newCell);
            if (damage.empty()) return true;
            const bool keep = !asTyped_ && leaf.spec->type == ValueType::Float32 && Redisplayed(Le32(leaf.oldBytes), Le32(leaf.newBytes));
            if (keep) {
                // Same length, so the record's framing stays as it is.
                const auto at = static_cast<std::size_t>(leaf.newBytes.data() - records.data());
                std::memcpy(records.data() + at, leaf.oldBytes.data(), 4);
                kept_.push_back({where + leaf.name, oldCell, newCell, {}});
                return false;
            }
            warnings_.push_back({where + leaf.name, oldCell, newCell, damage});
            return true;
        };
        std::vector<std::uint8_t> tags;
        if (layout != nullptr)
            for (const FieldSpec& f : layout->fields) tags.push_back(f.tag);
        for (const auto* fields : {&aFields, &bFields})
            for (const FieldRef& f : *fields)
                if (std::find(tags.begin(), tags.end(), f.tag) == tags.end()) tags.push_back(f.tag);
        for (const std::uint8_t tag : tags) {
            std::vector<const FieldRef*> xs, ys;
            for (const FieldRef& f : aFields)
                if (f.tag == tag) xs.push_back(&f);
            for (const FieldRef& f : bFields)
                if (f.tag == tag) ys.push_back(&f);
            const FieldSpec* field = layout != nullptr ? FindField(*layout, tag) : nullptr;
            for (std::size_t k = 0; k < std::max(xs.size(), ys.size()); ++k) {
                const std::string name = FieldLabel(layout, tag, k);
                const auto x = k < xs.size() ? old.bytes.subspan(xs[k]->offset, xs[k]->length) : std::span<const std::uint8_t>();
                const auto y = k < ys.size() ? std::span<const std::uint8_t>(records).subspan(ys[k]->offset, ys[k]->length) : std::span<const std::uint8_t>();
                if (k < xs.size() && k < ys.size()) {
                    CompareValues(change.fields, name, field, x, y, &filter);
                    continue;
                }
                FieldChange one;
                one.field = name;
                one.inOld = k < xs.size();
                one.inNew = !one.inOld;
                (one.inOld ? one.oldCell : one.newCell) = ValueCell(field, one.inOld ? x : y);
                change.fields.push_back(std::move(one));
            }
        }
        if (change.fields.empty()) {
            // Only kept values differed: nothing changes after all.
            if (a.header.tag == b.header.tag && a.header.longForm == b.header.longForm && std::ranges::equal(oldPayload, newPayload))
                continue;
            change.layoutOnly = true;
        }
        diff.records.push_back(std::move(change));
    }
    changes_.blocks.push_back(std::move(diff));
}

SourceComparison CompareWithSource(InputFolder& in, const KindSpec& kind, bool asTyped) {
    SourceComparison result;
    const Provenance provenance = ReadProvenance(in);
    if (provenance.source.empty()) return result;
    result.source = provenance.source;
    try {
        OpenedDatabase first = OpenDatabase(provenance.source, kind.name);
        if (first.source->Size() != provenance.sourceSize) {
            result.why = "is not the database the tables were unpacked from any more (its size changed)";
            return result;
        }
        if (ChecksumRest(*first.source) != provenance.sourceChecksum) {
            result.why = "is not the database the tables were unpacked from any more (its content changed)";
            return result;
        }
        first.source.reset();
        OpenedDatabase base = OpenDatabase(provenance.source, kind.name);
        result.comparison = std::make_unique<BaseComparison>(std::move(base.source), kind, asTyped, provenance.files);
    } catch (const std::exception& e) {
        result.comparison.reset();
        result.why = std::string("cannot be read: ") + e.what();
    }
    return result;
}

namespace {

void ListValues(std::string& out, const std::vector<ReportedValue>& values, bool kept) {
    for (std::size_t i = 0; i < values.size() && i < kListed; ++i) {
        const ReportedValue& v = values[i];
        out += "  " + v.where + ": " + (kept ? v.newCell + " kept as " + v.oldCell : v.oldCell + " -> " + v.newCell + " (" + v.reason + ")") + "\n";
    }
    if (values.size() > kListed) out += "  ... and " + std::to_string(values.size() - kListed) + " more\n";
}

}  // namespace

std::string FormatChangeReport(const SourceComparison& report) {
    const std::string source = "\"" + report.source + "\"";
    if (!report.comparison) return report.why.empty() ? std::string() : "no change report: the source " + source + " " + report.why + "\n";
    const BaseComparison& base = *report.comparison;
    std::string out;
    if (!base.Failure().empty()) out += "the comparison stopped: the source " + source + " cannot be read: " + base.Failure() + "\n";
    const std::string changes = FormatDiff(base.Changes(), kListed);
    out += changes.empty() ? "no changes from " + source + "\n" : "changes from " + source + ":\n" + changes;
    if (!base.Kept().empty()) {
        out += "kept " + std::to_string(base.Kept().size()) +
               " values equal to the stored ones at the cell's precision (the stored value re-displayed with fewer digits; "
               "--as-typed writes them as typed):\n";
        ListValues(out, base.Kept(), true);
    }
    if (!base.Warnings().empty()) {
        out += "warning: " + std::to_string(base.Warnings().size()) + " changes look like a spreadsheet's, not an edit:\n";
        ListValues(out, base.Warnings(), false);
    }
    return out;
}

}  // namespace gamedb
