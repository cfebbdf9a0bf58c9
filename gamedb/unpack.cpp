#include "gamedb/unpack.h"

#include <algorithm>
#include <array>
#include <exception>
#include <set>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"
#include "gamedb/worker.h"

namespace gamedb {
namespace {

// A long trailer goes to its side file in pieces of this size.
constexpr std::size_t kTrailerPiece = 64 * 1024;
// Bytes after the file node beyond this go to a side file.
constexpr std::uint64_t kMaxInlineTrailer = 4096;

const RecordSpec kNoFields{"", {}};

// "4-byte:LENGTH" for a short node with a 4-byte size: pack keeps the form
// while the length stays.
std::string FormName(const NodeHeader& header) {
    return header.Canonical() ? "auto" : "4-byte:" + std::to_string(header.length);
}

// Writes one table: its header row, then the rows written elsewhere.
class TableFile {
public:
    explicit TableFile(std::unique_ptr<TextOutput> output) : output_(std::move(output)) {}
    TextSink& Text() { return sink_; }
    // Rows written elsewhere, after the header.
    void Write(std::string_view text) {
        Flush();
        output_->Write(text);
    }
    void EndRow() { sink_.Add(kNewline); }
    void Close() {
        Flush();
        output_->Close();
    }

private:
    void Flush() {
        if (sink_.Size() == 0) return;
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

// Writes the rows of one table. It reads nothing but the records it is
// given, so that two of them can write a table's rows on two threads.
class RowWriter {
public:
    RowWriter(const RecordSpec& record, Place block) : record_(record), block_(std::move(block)) {
        for (const FieldSpec& field : record.fields) split_.push_back(IsSplit(field));
    }

    void Write(TextSink& text, const RecordInfo& info) {
        if (WriteRegularRow(text, info)) return;
        fields_.clear();
        NodeCursor cursor(info.payload);
        NodeView node;
        while (cursor.Next(node)) {
            // Fields mostly come in schema order: try the next one first.
            const std::size_t i = fields_.size();
            const FieldSpec* spec = i < record_.fields.size() && record_.fields[i].tag == node.header.tag
                                        ? &record_.fields[i]
                                        : FindField(record_, node.header.tag);
            fields_.push_back({node, spec});
        }
        if (!cursor.Failure().empty()) Fail(info, info.payloadOffset + cursor.Position(), "bad field framing: " + cursor.Failure());

        // Irregular: each schema field's first occurrence fills its column;
        // ~extra lists the real sequence.
        for (const FieldSpec& field : record_.fields) {
            const auto it = std::find_if(fields_.begin(), fields_.end(),
                                         [&field](const FieldNode& f) { return f.spec == &field; });
            if (it != fields_.end()) AppendColumns(text, field, it->node.payload);
            else text.Add(ColumnCount(field) - 1, '\t');
            text.Add('\t');
        }
        const std::size_t start = text.Size();
        AppendRecordToken(text, info.header);
        seen_.assign(record_.fields.size(), false);
        for (const FieldNode& f : fields_) {
            if (text.Size() > start) text.Add(' ');
            text.Add(std::to_string(f.node.header.tag));
            const std::size_t index = f.spec ? static_cast<std::size_t>(f.spec - record_.fields.data()) : 0;
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

private:
    // Most rows hold every field of the schema once, in order: written as
    // the fields are met. False, with nothing written, for any other row.
    bool WriteRegularRow(TextSink& text, const RecordInfo& info) {
        const std::size_t start = text.Size();
        NodeCursor cursor(info.payload);
        NodeView node;
        std::size_t i = 0;
        while (cursor.Next(node)) {
            if (i == record_.fields.size() || node.header.tag != record_.fields[i].tag || !node.header.Canonical()) {
                text.Truncate(start);
                return false;
            }
            if (split_[i]) AppendParts(text, record_.fields[i], node.payload);
            else AppendCell(text, record_.fields[i], node.payload);
            text.Add('\t');
            ++i;
        }
        if (i != record_.fields.size() || !cursor.Failure().empty()) {
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

    [[noreturn]] void Fail(const RecordInfo& info, std::uint64_t offset, const std::string& problem) const {
        Place place = block_;
        place.record = info.number;
        place.offset = static_cast<long long>(offset);
        throw Error(place, problem);
    }

    const RecordSpec& record_;
    const Place block_;
    std::vector<bool> split_;  // per field of the schema
    std::vector<FieldNode> fields_;
    std::vector<bool> seen_;
};

// About this many bytes of records make a batch: enough that taking one
// costs little beside writing its rows, few enough that memory stays small.
constexpr std::size_t kBatchBytes = 64 * 1024;

// Blocks larger than this have their rows written by two threads.
constexpr std::size_t kTwoThreadBytes = 16 * kBatchBytes;

// Records read together, and the rows written of them. Kept from block to
// block, and their room made at once: memory first touched costs more here
// than what is written in it. On cache lines of their own, since two
// threads write two batches at once.
struct alignas(128) RowBatch {
    RowBatch() {
        payloads.reserve(kBatchBytes + kBatchBytes / 4);
        text.reserve(3 * kBatchBytes);
    }
    std::vector<std::uint8_t> payloads;
    std::vector<RecordInfo> records;
    std::string text;
    TextSink sink{text};
};

// Batches enough that neither thread waits for the other to write: each
// may hold one it is writing rows into and one waiting for its turn.
constexpr std::size_t kBatches = 4;

// The rows of one block, written by one thread or two. Each thread takes
// the block's next records in turn (reading is one at a time) and writes
// their rows on its own; the rows go to the table in the order the records
// were taken, by whichever thread finds the next turn's rows ready. The
// table is the same either way, and the failure reported is the first that
// one thread alone would have met.
class BlockRows {
public:
    BlockRows(FrameReader& reader, TableFile& table, const RecordSpec& record, std::array<RowBatch, kBatches>& batches)
        : reader_(reader), table_(table), record_(record), batches_(batches) {}

    // The number of rows.
    long long Write(Worker& worker, bool twoThreads) {
        RowWriter mine(record_, reader_.BlockPlace());
        if (twoThreads) {
            RowWriter theirs(record_, reader_.BlockPlace());
            worker.Start([this, &theirs] { Run(theirs); });
            try {
                Run(mine);
            } catch (...) {
                worker.Settle();  // its job uses `theirs` and this object
                throw;
            }
            worker.Wait();
        } else {
            Run(mine);
        }
        if (failure_) std::rethrow_exception(failure_);
        return rows_;
    }

private:
    void Run(RowWriter& writer) {
        for (;;) {
            std::size_t turn, slot;
            {
                Monitor::Hold hold(monitor_);
                const auto freeSlot = [this] { return std::find(states_.begin(), states_.end(), Slot::Free); };
                while (freeSlot() == states_.end() && !ended_ && !failure_) hold.Wait();
                if (ended_ || failure_) return;
                slot = static_cast<std::size_t>(freeSlot() - states_.begin());
                turn = taken_++;
                try {
                    ended_ = !Fill(batches_[slot]);
                } catch (...) {
                    ended_ = true;  // the reader is mid-record: nothing more is read
                    Fail(turn, std::current_exception());
                }
                if (ended_) return;
                states_[slot] = Slot::Held;
                turns_[slot] = turn;
            }
            RowBatch& batch = batches_[slot];
            std::exception_ptr failure;
            try {
                batch.sink.Truncate(0);
                for (const RecordInfo& info : batch.records) {
                    writer.Write(batch.sink, info);
                    batch.sink.Add(kNewline);
                }
            } catch (...) {
                failure = std::current_exception();
            }
            Monitor::Hold hold(monitor_);
            if (failure) {
                Fail(turn, failure);
                return;
            }
            states_[slot] = Slot::Ready;
            if (!writing_) WriteReady(hold);
        }
    }

    // Under the monitor, which it lets go while writing: writes the rows
    // of the turns that are next and ready.
    void WriteReady(Monitor::Hold& hold) {
        writing_ = true;
        for (;;) {
            if (failure_ && failedTurn_ <= written_) break;
            std::size_t slot = 0;
            while (slot < kBatches && !(states_[slot] == Slot::Ready && turns_[slot] == written_)) ++slot;
            if (slot == kBatches) break;
            std::exception_ptr failure;
            {
                Monitor::Unhold unhold(hold);
                try {
                    table_.Write(batches_[slot].sink.Since(0));
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            if (failure) {
                Fail(written_, failure);
                break;
            }
            rows_ += static_cast<long long>(batches_[slot].records.size());
            states_[slot] = Slot::Free;
            ++written_;
            monitor_.NotifyAll();
        }
        writing_ = false;
    }

    // Reads the block's next records, about kBatchBytes of them; false at its end.
    bool Fill(RowBatch& batch) {
        batch.payloads.clear();
        batch.records.clear();
        RecordInfo info;
        while (batch.payloads.size() < kBatchBytes && reader_.NextRecord(info, batch.payloads)) batch.records.push_back(info);
        // The payloads may have moved as they grew.
        std::size_t at = 0;
        for (RecordInfo& record : batch.records) {
            record.payload = std::span(batch.payloads).subspan(at, record.payload.size());
            at += record.payload.size();
        }
        return !batch.records.empty();
    }

    // Under the monitor: keeps the failure of the earliest turn.
    void Fail(std::size_t turn, std::exception_ptr failure) {
        if (!failure_ || turn < failedTurn_) {
            failure_ = std::move(failure);
            failedTurn_ = turn;
        }
        monitor_.NotifyAll();
    }

    FrameReader& reader_;
    TableFile& table_;
    const RecordSpec& record_;
    std::array<RowBatch, kBatches>& batches_;
    Monitor monitor_;
    // Under the monitor:
    enum class Slot { Free, Held, Ready };  // Ready: its rows are written, the table's turn to come
    std::array<Slot, kBatches> states_{};        // of each batch
    std::array<std::size_t, kBatches> turns_{};  // the turn each held batch belongs to
    bool writing_ = false;                       // a thread is writing to the table
    bool ended_ = false;
    std::size_t taken_ = 0, written_ = 0;
    std::exception_ptr failure_;
    std::size_t failedTurn_ = 0;
    long long rows_ = 0;
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
            summary_.tables.push_back({name, WriteTable(name, spec ? spec->record : kNoFields, block.header.length), false, {}});
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
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kTrailerPiece));
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
    long long WriteTable(const std::string& name, const RecordSpec& record, std::uint64_t blockLength) {
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

        // A second thread pays for itself from many batches on.
        const long long rows = BlockRows(reader_, table, record, batches_).Write(worker_, blockLength > kTwoThreadBytes);
        table.Close();
        return rows;
    }

    ByteSource& source_;
    const KindSpec& kind_;
    OutputFolder& out_;
    FrameReader reader_;
    UnpackSummary summary_;
    std::array<RowBatch, kBatches> batches_;
    Worker worker_;  // goes first: its job uses a batch
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
