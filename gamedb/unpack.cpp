#include "gamedb/unpack.h"

#include <algorithm>
#include <set>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"

namespace gamedb {
namespace {

constexpr std::size_t kFlushSize = 64 * 1024;
// Bytes after the file node beyond this go to a side file.
constexpr std::uint64_t kMaxInlineTrailer = 4096;

const RecordSpec kNoFields{"", {}};

// "4-byte:LENGTH" for a short node with a 4-byte size: pack keeps the form
// while the length stays.
std::string FormName(const NodeHeader& header) {
    return header.Canonical() ? "auto" : "4-byte:" + std::to_string(header.length);
}

// Writes one table, keeping the bytes of many rows together per write.
class TableFile {
public:
    explicit TableFile(std::unique_ptr<TextOutput> output) : output_(std::move(output)) {
        // Room for the rows before a flush and a long one past it, made once.
        sink_.Room(kFlushSize + kFlushSize / 4);
    }
    TextSink& Text() { return sink_; }
    void EndRow() {
        sink_.Add(kNewline);
        if (sink_.Size() >= kFlushSize) Flush();
    }
    void Close() {
        Flush();
        output_->Close();
    }

private:
    void Flush() {
        output_->Write(sink_.Since(0));
        sink_.Truncate(0);
    }
    std::unique_ptr<TextOutput> output_;
    std::string text_;
    TextSink sink_{text_};
};

struct FieldNode {
    NodeView node;
    const FieldSpec* spec;   // nullptr for an unknown tag
};

class Unpacker {
public:
    Unpacker(ByteSource& source, const KindSpec& kind, OutputFolder& out)
        : source_(source), kind_(kind), out_(out), reader_(source) {}

    UnpackSummary Run() {
        std::string manifest(kBom);
        manifest += "format\t" + std::to_string(kTableFormat) + "\r\nkind\t";
        manifest += kind_.name;
        manifest += "\r\nfile\t" + std::to_string(reader_.FileNode().tag) + "\t" + FormName(reader_.FileNode()) + "\r\n";

        std::set<std::string> used{std::string(kManifestName)};
        BlockInfo block;
        while (reader_.NextBlock(block)) {
            const BlockSpec* spec = FindBlock(kind_, block.header.tag);
            std::string base = TableName(kind_, block.header.tag);
            base.resize(base.size() - kTableExtension.size());
            std::string name = base + std::string(kTableExtension);
            // A block that comes twice gets a table of its own.
            for (int n = 2; used.count(name); ++n) name = base + "-" + std::to_string(n) + std::string(kTableExtension);
            used.insert(name);
            reader_.SetBlockName(spec ? std::string(spec->name) + " (tag " + std::to_string(block.header.tag) + ")"
                                      : std::to_string(block.header.tag));
            manifest += "block\t" + std::to_string(block.header.tag) + "\t" + name + "\t" + FormName(block.header) + "\r\n";
            summary_.tables.push_back({name, WriteTable(name, spec ? spec->record : kNoFields), false, {}});
        }

        const std::uint64_t trailer = reader_.TrailerLength();
        if (trailer <= kMaxInlineTrailer) {
            std::vector<std::uint8_t> bytes;
            source_.ReadInto(bytes, static_cast<std::size_t>(trailer), "the bytes after the file node");
            manifest += "trailer\t";
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (i) manifest += ' ';
                AppendHex(manifest, std::span(&bytes[i], 1));
            }
            manifest += "\r\n";
        } else {
            const std::string name(kTrailerFileName);
            std::unique_ptr<TextOutput> output = out_.Create(name);
            std::vector<std::uint8_t> chunk;
            for (std::uint64_t left = trailer; left > 0;) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kFlushSize));
                source_.ReadInto(chunk, n, "the bytes after the file node");
                output->Write(std::string_view(reinterpret_cast<const char*>(chunk.data()), n));
                left -= n;
            }
            output->Close();
            manifest += "trailer-file\t" + name + "\r\n";
        }
        std::unique_ptr<TextOutput> output = out_.Create(std::string(kManifestName));
        output->Write(manifest);
        output->Close();
        out_.Commit();
        summary_.bytes = source_.Size();
        return summary_;
    }

private:
    long long WriteTable(const std::string& name, const RecordSpec& record) {
        TableFile table(out_.Create(name));
        TextSink& text = table.Text();
        text.Add(kBom);
        for (const FieldSpec& field : record.fields) {
            if (!IsSplit(field)) {
                text.Add(field.name);
                text.Add('\t');
                continue;
            }
            for (std::size_t part = 0; part < ColumnCount(field); ++part) {
                text.Add(PartName(field, part));
                text.Add('\t');
            }
        }
        text.Add(kExtraColumn);
        table.EndRow();

        split_.clear();
        for (const FieldSpec& field : record.fields) split_.push_back(IsSplit(field));
        long long rows = 0;
        RecordInfo info;
        while (reader_.NextRecord(info)) {
            WriteRow(text, record, info);
            table.EndRow();
            ++rows;
        }
        table.Close();
        return rows;
    }

    void WriteRow(TextSink& text, const RecordSpec& record, const RecordInfo& info) {
        if (WriteRegularRow(text, record, info)) return;
        fields_.clear();
        NodeCursor cursor(info.payload);
        NodeView node;
        while (cursor.Next(node)) {
            // Fields mostly come in schema order: try the next one first.
            const std::size_t i = fields_.size();
            const FieldSpec* spec = i < record.fields.size() && record.fields[i].tag == node.header.tag
                                        ? &record.fields[i]
                                        : FindField(record, node.header.tag);
            fields_.push_back({node, spec});
        }
        if (!cursor.Failure().empty())
            reader_.Fail(info.payloadOffset + cursor.Position(), "bad field framing: " + cursor.Failure());

        // Irregular: each schema field's first occurrence fills its column;
        // ~extra lists the real sequence.
        for (const FieldSpec& field : record.fields) {
            const auto it = std::find_if(fields_.begin(), fields_.end(),
                                         [&field](const FieldNode& f) { return f.spec == &field; });
            if (it != fields_.end()) AppendColumns(text, field, it->node.payload);
            else text.Add(ColumnCount(field) - 1, '\t');
            text.Add('\t');
        }
        const std::size_t start = text.Size();
        AppendRecordToken(text, info.header);
        seen_.assign(record.fields.size(), false);
        for (const FieldNode& f : fields_) {
            if (text.Size() > start) text.Add(' ');
            text.Add(std::to_string(f.node.header.tag));
            const std::size_t index = f.spec ? static_cast<std::size_t>(f.spec - record.fields.data()) : 0;
            if (f.spec && !seen_[index]) {
                seen_[index] = true;
            } else {
                text.Add('=');
                AppendHex(text, f.node.payload);
            }
            if (!f.node.header.Canonical()) text.Add('!' + std::to_string(f.node.header.length));
        }
        if (fields_.empty()) {
            if (text.Size() > start) text.Add(' ');
            text.Add('-');
        }
        // "2 100" would be a number to a spreadsheet.
        if (MightNotStayText(text.Since(start))) text.Insert(start, kTextMark);
    }

    // Most rows hold every field of the schema once, in order: written as
    // the fields are met. False, with nothing written, for any other row.
    bool WriteRegularRow(TextSink& text, const RecordSpec& record, const RecordInfo& info) {
        const std::size_t start = text.Size();
        NodeCursor cursor(info.payload);
        NodeView node;
        std::size_t i = 0;
        while (cursor.Next(node)) {
            if (i == record.fields.size() || node.header.tag != record.fields[i].tag || !node.header.Canonical()) {
                text.Truncate(start);
                return false;
            }
            if (split_[i]) AppendParts(text, record.fields[i], node.payload);
            else AppendCell(text, record.fields[i], node.payload);
            text.Add('\t');
            ++i;
        }
        if (i != record.fields.size() || !cursor.Failure().empty()) {
            text.Truncate(start);
            return false;
        }
        AppendRecordToken(text, info.header);
        // A row must never be blank: pack skips blank lines.
        if (i == 0 && info.header.tag == 1 && info.header.Canonical()) text.Add('-');
        return true;
    }

    static void AppendColumns(TextSink& text, const FieldSpec& field, std::span<const std::uint8_t> payload) {
        if (IsSplit(field)) AppendParts(text, field, payload);
        else AppendCell(text, field, payload);
    }

    // "R" tokens: a record tag other than 1, a 4-byte size the rule would not give.
    static void AppendRecordToken(TextSink& text, const NodeHeader& header) {
        if (header.tag == 1 && header.Canonical()) return;
        text.Add('R');
        if (header.tag != 1) text.Add(std::to_string(header.tag));
        if (!header.Canonical()) text.Add('!' + std::to_string(header.length));
    }

    ByteSource& source_;
    const KindSpec& kind_;
    OutputFolder& out_;
    FrameReader reader_;
    UnpackSummary summary_;
    std::vector<FieldNode> fields_;
    std::vector<bool> split_;  // per field of the table's schema
    std::vector<bool> seen_;
};

}  // namespace

std::string TableName(const KindSpec& kind, std::uint8_t blockTag) {
    if (const BlockSpec* block = FindBlock(kind, blockTag)) return std::string(block->name) + std::string(kTableExtension);
    return "block" + std::to_string(blockTag) + std::string(kTableExtension);
}

UnpackSummary Unpack(ByteSource& database, const KindSpec& kind, OutputFolder& out) {
    if (IsAnimKind(kind)) return UnpackAnims(database, out);
    return Unpacker(database, kind, out).Run();
}

}  // namespace gamedb
