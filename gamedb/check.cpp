#include "gamedb/check.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <span>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"

namespace gamedb {

namespace {

constexpr std::array<std::uint8_t, 10> kTrailer = {0x00, 0x00, 0x02, 0x0C, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00};

std::string HexOffset(std::uint64_t value) {
    char digits[24] = "0x";
    const auto result = std::to_chars(digits + 2, digits + sizeof digits, value, 16);
    std::string text(digits, result.ptr);
    std::transform(text.begin() + 2, text.end(), text.begin() + 2,
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::string FieldLabel(std::string_view name, std::uint8_t tag) {
    std::string label(name);
    label += " (tag " + std::to_string(tag) + ")";
    return label;
}

std::string Bytes(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// A node header read from a span; nothing is read outside it.
struct Node {
    std::uint8_t tag = 0;
    bool longForm = false;
    std::uint64_t length = 0;
    std::size_t start = 0;   // of the tag, within the span
    std::size_t header = 0;  // 2 or 5
    std::span<const std::uint8_t> payload;
};

enum class Split { Ok, End, ShortHeader, Overrun };

Split NextNode(std::span<const std::uint8_t> bytes, std::size_t& pos, Node& node, std::uint64_t& overrun) {
    if (pos == bytes.size()) return Split::End;
    node.start = pos;
    const std::size_t left = bytes.size() - pos;
    if (left < 2) return Split::ShortHeader;
    node.tag = bytes[pos];
    node.longForm = (bytes[pos + 1] & 1) != 0;
    if (node.longForm) {
        if (left < 5) return Split::ShortHeader;
        std::uint32_t size = 0;
        for (std::size_t i = 0; i < 4; ++i) size |= std::uint32_t{bytes[pos + 1 + i]} << (8 * i);
        node.length = size >> 1;
        node.header = 5;
    } else {
        node.length = bytes[pos + 1] >> 1;
        node.header = 2;
    }
    if (node.length > left - node.header) {
        overrun = node.length - (left - node.header);
        return Split::Overrun;
    }
    node.payload = bytes.subspan(pos + node.header, static_cast<std::size_t>(node.length));
    pos += node.header + static_cast<std::size_t>(node.length);
    return Split::Ok;
}

bool Canonical(bool longForm, std::uint64_t length) { return longForm == (length > 127); }

class Checker {
public:
    Checker(ByteSource& source, const KindSpec& kind, const std::function<void(const CheckFinding&)>& report,
            bool collectExtents)
        : source_(source), kind_(kind), report_(report), collect_(collectExtents) {}

    CheckSummary Run();
    std::vector<BlockExtent>& Extents() { return extents_; }

private:
    // Context of what is being checked, for the findings.
    struct Where {
        std::string block;
        long long record = -1;
        std::string recordName;
    };

    void Report(std::uint64_t offset, const std::string& field, std::string text) {
        CheckFinding finding;
        finding.offset = offset;
        finding.block = where_.block;
        finding.record = where_.record;
        finding.recordName = where_.recordName;
        finding.field = field;
        finding.text = std::move(text);
        ++summary_.problems;
        report_(finding);
    }

    void SizeForm(std::uint64_t offset, const std::string& field, const char* what, bool longForm, std::uint64_t length) {
        if (!Canonical(longForm, length))
            Report(offset, field,
                   std::string(what) + " has a 4-byte size for a payload of " + Bytes(length) +
                       "; the game writes the 1-byte size up to 127 bytes");
    }

    enum class Read { Ok, Incomplete, Overrun };
    // Reads a node header from the source within [position, limit); on
    // Overrun the header has been read and `node` filled.
    Read ReadHeader(std::uint64_t limit, Node& node, std::uint64_t& offset, const char* what);
    void CheckBlock(const Node& header, std::uint64_t offset, std::uint64_t end);
    void CheckRecord(std::span<const std::uint8_t> payload, std::uint64_t base, const BlockSpec* block);
    void CheckFields(std::span<const std::uint8_t> bytes, std::uint64_t base, const RecordSpec& spec,
                     const std::string& prefix);
    void CheckValue(std::span<const std::uint8_t> payload, std::uint64_t base, const FieldSpec& field,
                    const std::string& label);
    void CheckItems(std::span<const std::uint8_t> payload, std::uint64_t base, const FieldSpec& field,
                    const std::string& label);
    void CheckText(std::span<const std::uint8_t> payload, std::uint64_t base, const std::string& label);
    void CheckCode(std::span<const std::uint8_t> payload, std::uint64_t base, const std::string& label);
    void CheckTrailer(std::uint64_t fileEnd);
    std::string KeyText(std::span<const std::uint8_t> payload, const BlockSpec* block) const;

    ByteSource& source_;
    const KindSpec& kind_;
    const std::function<void(const CheckFinding&)>& report_;
    bool collect_;
    CheckSummary summary_;
    Where where_;
    std::vector<std::uint8_t> buffer_;
    std::vector<BlockExtent> extents_;
};

Checker::Read Checker::ReadHeader(std::uint64_t limit, Node& node, std::uint64_t& offset, const char* what) {
    offset = source_.Position();
    const std::uint64_t left = limit - offset;
    std::array<std::uint8_t, 5> bytes{};
    if (left >= 2) source_.Read(std::span(bytes).first(2), what);
    node.tag = bytes[0];
    node.longForm = (bytes[1] & 1) != 0;
    node.header = node.longForm ? 5 : 2;
    if (left < node.header) {
        Report(offset, {}, std::string("incomplete ") + what + " header: " + Bytes(left) + " left");
        return Read::Incomplete;
    }
    node.length = bytes[1] >> 1;
    if (node.longForm) {
        source_.Read(std::span(bytes).subspan(2, 3), what);
        std::uint32_t size = 0;
        for (std::size_t i = 0; i < 4; ++i) size |= std::uint32_t{bytes[1 + i]} << (8 * i);
        node.length = size >> 1;
    }
    if (node.length > left - node.header) {
        Report(offset, {},
               std::string(what) + " (tag " + std::to_string(node.tag) + ") of " + Bytes(node.length) +
                   " overruns its container by " + Bytes(node.length - (left - node.header)));
        return Read::Overrun;
    }
    return Read::Ok;
}

CheckSummary Checker::Run() {
    const std::uint64_t size = source_.Size();
    if (size == 0) {
        Report(0, {}, "the database is empty");
        return summary_;
    }
    Node file;
    std::uint64_t offset = 0;
    const Read read = ReadHeader(size, file, offset, "file node");
    if (read == Read::Incomplete) return summary_;
    if (file.tag != 1) Report(0, {}, "the file node has tag " + std::to_string(file.tag) + ", expected 1");
    SizeForm(0, {}, "the file node", file.longForm, file.length);
    // An overrunning file node is still checked as far as the file goes.
    const std::uint64_t fileEnd = read == Read::Ok ? file.header + file.length : size;

    // Blocks: 1..n, each once, in order.
    while (source_.Position() < fileEnd) {
        Node block;
        std::uint64_t blockOffset = 0;
        where_ = {};
        const Read blockRead = ReadHeader(fileEnd, block, blockOffset, "block");
        if (blockRead == Read::Incomplete) break;
        CheckBlock(block, blockOffset, blockRead == Read::Ok ? source_.Position() + block.length : fileEnd);
    }
    where_ = {};
    for (const BlockSpec& spec : kind_.blocks) {
        const bool seen = std::any_of(extents_.begin(), extents_.end(), [&](const BlockExtent& e) { return e.tag == spec.tag; });
        if (!seen)
            Report(fileEnd, {}, "block " + std::to_string(spec.tag) + " (" + std::string(spec.name) + ") is missing");
    }
    if (read == Read::Ok) CheckTrailer(fileEnd);
    return summary_;
}

void Checker::CheckBlock(const Node& header, std::uint64_t offset, std::uint64_t end) {
    const BlockSpec* spec = FindBlock(kind_, header.tag);
    where_ = {};
    where_.block = spec != nullptr ? std::string(spec->name) : "block " + std::to_string(header.tag);
    ++summary_.blocks;
    if (spec == nullptr)
        Report(offset, {}, "block tag " + std::to_string(header.tag) + " is not a block of " + std::string(kind_.name));
    for (const BlockExtent& earlier : extents_)
        if (earlier.tag == header.tag) Report(offset, {}, "the block occurs a second time");
    if (!extents_.empty() && header.tag < extents_.back().tag && spec != nullptr)
        Report(offset, {}, "the block comes after block " + std::to_string(extents_.back().tag));
    SizeForm(offset, {}, "the block", header.longForm, header.length);
    BlockExtent extent;
    extent.tag = header.tag;
    extent.offset = offset;

    long long number = 0;
    while (source_.Position() < end) {
        Node record;
        std::uint64_t recordOffset = 0;
        where_.record = ++number;
        where_.recordName.clear();
        if (ReadHeader(end, record, recordOffset, "record") != Read::Ok) {
            source_.Skip(end - source_.Position(), "record");
            break;
        }
        ++summary_.records;
        // Bounded by what the block has left, checked just above.
        source_.ReadInto(buffer_, static_cast<std::size_t>(record.length), "record");
        where_.recordName = KeyText(buffer_, spec);
        if (record.tag != 1) Report(recordOffset, {}, "record node has tag " + std::to_string(record.tag) + ", expected 1");
        SizeForm(recordOffset, {}, "the record", record.longForm, record.length);
        CheckRecord(buffer_, recordOffset + record.header, spec);
        if (collect_) extent.records.push_back({recordOffset, source_.Position(), where_.recordName});
    }
    extents_.push_back(std::move(extent));
}

std::string Checker::KeyText(std::span<const std::uint8_t> payload, const BlockSpec* block) const {
    if (block == nullptr || block->keyTag < 0) return {};
    std::size_t pos = 0;
    Node node;
    std::uint64_t overrun = 0;
    while (NextNode(payload, pos, node, overrun) == Split::Ok) {
        if (node.tag != block->keyTag) continue;
        // As the tables show it: UTF-8, with their escapes.
        const auto end = std::find(node.payload.begin(), node.payload.end(), std::uint8_t{0});
        std::string text;
        AppendText(text, std::span(node.payload.begin(), end));
        return text;
    }
    return {};
}

void Checker::CheckRecord(std::span<const std::uint8_t> payload, std::uint64_t base, const BlockSpec* block) {
    if (block == nullptr) {
        // Without a layout only the framing of the fields can be checked.
        std::size_t pos = 0;
        Node node;
        std::uint64_t overrun = 0;
        for (Split s; (s = NextNode(payload, pos, node, overrun)) != Split::End;) {
            ++summary_.fields;
            if (s == Split::ShortHeader) Report(base + node.start, {}, "incomplete field header");
            if (s == Split::Overrun) Report(base + node.start, {}, "field overruns the record by " + Bytes(overrun));
            if (s != Split::Ok) break;
        }
        return;
    }
    CheckFields(payload, base, block->record, {});
}

void Checker::CheckFields(std::span<const std::uint8_t> bytes, std::uint64_t base, const RecordSpec& spec,
                          const std::string& prefix) {
    const bool topLevel = prefix.empty();
    const char* container = topLevel ? "the record" : "its container";
    std::vector<bool> seen(spec.fields.size(), false);
    int lastIndex = -1;
    std::size_t pos = 0;
    Node node;
    std::uint64_t overrun = 0;
    for (Split s; (s = NextNode(bytes, pos, node, overrun)) != Split::End;) {
        if (topLevel) ++summary_.fields;
        if (s == Split::ShortHeader) {
            Report(base + node.start, prefix + "field", "incomplete field header: " + Bytes(bytes.size() - node.start) + " left in " + container);
            return;
        }
        if (s == Split::Overrun) {
            Report(base + node.start, prefix + "tag " + std::to_string(node.tag),
                   "field of " + Bytes(node.length) + " overruns " + container + " by " + Bytes(overrun));
            return;
        }
        const auto it = std::find_if(spec.fields.begin(), spec.fields.end(),
                                     [&](const FieldSpec& f) { return f.tag == node.tag; });
        if (it == spec.fields.end()) {
            Report(base + node.start, prefix + "tag " + std::to_string(node.tag),
                   "unknown field tag " + std::to_string(node.tag) + " (" + Bytes(node.length) + ")");
            continue;
        }
        const auto index = static_cast<std::size_t>(it - spec.fields.begin());
        const std::string label = prefix + FieldLabel(it->name, it->tag);
        if (seen[index]) {
            Report(base + node.start, label, "the field occurs a second time");
        } else if (static_cast<int>(index) < lastIndex) {
            Report(base + node.start, label,
                   "out of order: comes after " + FieldLabel(spec.fields[static_cast<std::size_t>(lastIndex)].name,
                                                             spec.fields[static_cast<std::size_t>(lastIndex)].tag));
        }
        seen[index] = true;
        lastIndex = std::max(lastIndex, static_cast<int>(index));
        SizeForm(base + node.start, label, "the field", node.longForm, node.length);
        CheckValue(node.payload, base + node.start + node.header, *it, label);
    }
    for (std::size_t i = 0; i < spec.fields.size(); ++i)
        if (!seen[i])
            Report(base + bytes.size(), prefix + FieldLabel(spec.fields[i].name, spec.fields[i].tag),
                   "the field is missing");
}

void Checker::CheckText(std::span<const std::uint8_t> payload, std::uint64_t base, const std::string& label) {
    if (payload.empty()) {
        Report(base, label, "empty payload: a text holds at least its terminating 00");
        return;
    }
    const auto zero = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    if (zero == payload.end())
        Report(base, label, "text of " + Bytes(payload.size()) + " without its terminating 00");
    else if (zero != payload.end() - 1)
        Report(base + static_cast<std::uint64_t>(zero - payload.begin()), label,
               "text with a 00 at byte " + std::to_string(zero - payload.begin()) + " of " +
                   std::to_string(payload.size()) + " before its end");
}

void Checker::CheckCode(std::span<const std::uint8_t> payload, std::uint64_t base, const std::string& label) {
    if (payload.size() != 4) {
        Report(base, label, "code of " + Bytes(payload.size()) + ", expected 4");
        return;
    }
    const auto zero = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    if (std::any_of(zero, payload.end(), [](std::uint8_t b) { return b != 0; }))
        Report(base, label, "code " + HexBytes(payload) + " has bytes after its 00 padding");
}

void Checker::CheckValue(std::span<const std::uint8_t> payload, std::uint64_t base, const FieldSpec& field,
                         const std::string& label) {
    const int fixed = FixedLength(field);
    switch (field.type) {
        case ValueType::Text: CheckText(payload, base, label); return;
        case ValueType::Code4: CheckCode(payload, base, label); return;
        case ValueType::TextList:
        case ValueType::Code4List:
        case ValueType::RecordList: CheckItems(payload, base, field, label); return;
        case ValueType::Nested: CheckFields(payload, base, *field.record, label + ", "); return;
        default: break;
    }
    if (payload.size() != static_cast<std::size_t>(fixed)) {
        Report(base, label, "length " + std::to_string(payload.size()) + ", expected " + std::to_string(fixed));
        return;
    }
    if (field.type == ValueType::Bits5) {
        const std::uint32_t word = payload[0] | (std::uint32_t{payload[1]} << 8) | (std::uint32_t{payload[2]} << 16) |
                                   (std::uint32_t{payload[3]} << 24);
        if (word > 31) Report(base, label, "shop flags " + HexOffset(word) + " set bits above the fifth shop");
    }
}

void Checker::CheckItems(std::span<const std::uint8_t> payload, std::uint64_t base, const FieldSpec& field,
                         const std::string& label) {
    std::size_t pos = 0;
    Node item;
    std::uint64_t overrun = 0;
    int number = 0;
    for (Split s; (s = NextNode(payload, pos, item, overrun)) != Split::End;) {
        const std::string itemLabel = label + ", item " + std::to_string(++number);
        if (s == Split::ShortHeader) {
            Report(base + item.start, itemLabel, "incomplete item header");
            return;
        }
        if (s == Split::Overrun) {
            Report(base + item.start, itemLabel, "item of " + Bytes(item.length) + " overruns the list by " + Bytes(overrun));
            return;
        }
        if (item.tag != 1) Report(base + item.start, itemLabel, "item has tag " + std::to_string(item.tag) + ", expected 1");
        SizeForm(base + item.start, itemLabel, "the item", item.longForm, item.length);
        const std::uint64_t at = base + item.start + item.header;
        if (field.type == ValueType::TextList)
            CheckText(item.payload, at, itemLabel);
        else if (field.type == ValueType::Code4List)
            CheckCode(item.payload, at, itemLabel);
        else
            CheckFields(item.payload, at, *field.record, itemLabel + ", ");
    }
}

void Checker::CheckTrailer(std::uint64_t fileEnd) {
    where_ = {};
    const std::uint64_t left = source_.Size() - fileEnd;
    std::array<std::uint8_t, 10> bytes{};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
    source_.Read(std::span(bytes).first(n), "trailer");
    if (n < kTrailer.size()) {
        Report(fileEnd, {},
               "the trailer after the file node is " + Bytes(n) + (n ? " (" + HexBytes(std::span(bytes).first(n)) + ")" : std::string()) +
                   ", expected the 10 bytes " + HexBytes(kTrailer));
        return;
    }
    if (bytes != kTrailer)
        Report(fileEnd, {}, "the trailer is " + HexBytes(bytes) + ", expected " + HexBytes(kTrailer));
    if (left > kTrailer.size())
        Report(fileEnd + kTrailer.size(), {}, Bytes(left - kTrailer.size()) + " follow the trailer");
}

}  // namespace

std::string FormatFinding(const CheckFinding& finding) {
    std::string line = HexOffset(finding.offset) + " (" + std::to_string(finding.offset) + "): ";
    if (finding.severity == CheckFinding::Severity::Note) line = "note: ";
    std::string place;
    if (!finding.block.empty()) place = finding.block;
    if (finding.record >= 0) {
        place += ", record " + std::to_string(finding.record);
        if (!finding.recordName.empty()) place += " \"" + finding.recordName + "\"";
    }
    if (!finding.field.empty()) place += (place.empty() ? "" : ", ") + finding.field;
    if (!place.empty()) line += place + ": ";
    return line + finding.text;
}

CheckSummary Check(ByteSource& source, const KindSpec& kind, const std::function<void(const CheckFinding&)>& report,
                   const CheckOptions& options) {
    if (IsAnimKind(kind)) return CheckAnims(source, report);
    const bool simulate = !options.idb2txtFile.empty() && kind.name == "items";
    Checker checker(source, kind, report, simulate);
    CheckSummary summary = checker.Run();
    if (simulate) {
        for (const CategoryReach& reach : SimulateIdb2txt(options.idb2txtFile, checker.Extents())) {
            CheckFinding finding;
            finding.severity = CheckFinding::Severity::Note;
            finding.offset = reach.offset;
            finding.text = reach.text;
            ++summary.notes;
            report(finding);
        }
    }
    return summary;
}

}  // namespace gamedb
