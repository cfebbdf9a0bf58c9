#include "gamedb/pack.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <set>
#include <system_error>

#include "export/file_io.h"
#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"
#include "gamedb/line_reader.h"
#include "gamedb/provenance.h"

namespace gamedb {
namespace fs = std::filesystem;
namespace {

const RecordSpec kNoFields{"", {}};

// A 4-byte size the file had for a short node. It is kept while the node's
// length is what it was (or always, when no length was noted); a node whose
// length changed follows the writer's rule like any other.
struct KeptForm {
    bool kept = false;
    bool anyLength = false;
    std::uint64_t length = 0;
    bool Long(std::size_t n) const { return kept && (anyLength || n == length); }
};

// "" (none), or the length after '!' / ':'.
bool ParseKeptLength(std::string_view text, KeptForm& form) {
    form.kept = true;
    form.anyLength = text.empty();
    if (text.empty()) return true;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), form.length);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

struct BlockEntry {
    std::uint8_t tag = 0;
    std::string table;
    KeptForm form;
    long long line = 0;
};

struct Manifest {
    const KindSpec* kind = nullptr;
    std::uint8_t fileTag = 1;
    KeptForm fileForm;
    std::vector<BlockEntry> blocks;
    bool hasTrailer = false;
    std::vector<std::uint8_t> trailer;
    std::string trailerFile;
};

[[noreturn]] void ManifestError(const std::string& label, long long line, const std::string& problem) {
    Place place;
    place.file = label;
    place.row = line;
    throw Error(place, problem);
}

bool ParseTag(std::string_view text, std::uint8_t& tag) {
    if (text.empty()) return false;
    unsigned value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value > 255) return false;
    tag = static_cast<std::uint8_t>(value);
    return true;
}

// "auto", "4-byte" or "4-byte:LENGTH".
bool ParseForm(std::string_view text, KeptForm& form) {
    form = KeptForm{};
    if (text == "auto") return true;
    if (text == "4-byte") return ParseKeptLength({}, form);
    if (text.starts_with("4-byte:")) return ParseKeptLength(text.substr(7), form) && !form.anyLength;
    return false;
}

// A table named by the manifest must be a plain name inside the folder.
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos;
}

Manifest ReadManifest(InputFolder& in, std::span<const KindSpec> kinds) {
    std::unique_ptr<ByteSource> source = in.Open(std::string(kManifestName));
    const std::string label = source->Label();
    const auto fail = [&label](long long line, const std::string& problem) { ManifestError(label, line, problem); };
    LineReader lines(*source);
    Manifest manifest;
    bool hasFormat = false;
    bool hasFile = false;
    std::vector<std::string_view> parts;
    std::set<std::string> seen;
    while (lines.NextCells(parts)) {
        const long long n = lines.LineNumber();
        const std::string_view key = parts[0];
        const auto need = [&](std::size_t count, const std::string& form) {
            if (parts.size() != count) fail(n, "'" + std::string(key) + "' needs the form: " + form);
        };
        if ((key == "format" || key == "kind" || key == "file" || key == "trailer" || key == "trailer-file") &&
            !seen.insert(std::string(key)).second)
            fail(n, "'" + std::string(key) + "' comes twice");
        if (key == "format") {
            need(2, "format<TAB>" + std::to_string(kTableFormat));
            if (parts[1] != "1" && parts[1] != std::to_string(kTableFormat))
                fail(n, "unknown format '" + std::string(parts[1]) + "'; this program reads formats 1 to " +
                            std::to_string(kTableFormat));
            hasFormat = true;
        } else if (key == "kind") {
            need(2, "kind<TAB>NAME");
            for (const KindSpec& kind : kinds)
                if (kind.name == parts[1]) manifest.kind = &kind;
            if (!manifest.kind) fail(n, "unknown kind '" + std::string(parts[1]) + "'");
        } else if (key == "file") {
            need(3, "file<TAB>TAG<TAB>auto|4-byte");
            if (!ParseTag(parts[1], manifest.fileTag) || !ParseForm(parts[2], manifest.fileForm))
                fail(n, "bad 'file' line; expected a tag 0-255 and 'auto', '4-byte' or '4-byte:LENGTH'");
            hasFile = true;
        } else if (key == "block") {
            need(4, "block<TAB>TAG<TAB>TABLE<TAB>auto|4-byte");
            BlockEntry block;
            block.line = n;
            block.table = std::string(parts[2]);
            if (!ParseTag(parts[1], block.tag) || !ParseForm(parts[3], block.form))
                fail(n, "bad 'block' line; expected a tag 0-255, a table name and 'auto', '4-byte' or '4-byte:LENGTH'");
            if (!IsPlainFileName(block.table)) fail(n, "the table must be a file name inside the folder: '" + block.table + "'");
            manifest.blocks.push_back(std::move(block));
        } else if (key == "trailer") {
            need(2, "trailer<TAB>HEX BYTES");
            std::string digits;
            for (char c : parts[1])
                if (c != ' ') digits += c;
            if (!ParseHex(digits, manifest.trailer)) fail(n, "bad 'trailer'; expected hex bytes such as 00 0C");
            manifest.hasTrailer = true;
        } else if (key == "trailer-file") {
            need(2, "trailer-file<TAB>FILE");
            manifest.trailerFile = std::string(parts[1]);
            if (!IsPlainFileName(manifest.trailerFile)) fail(n, "the trailer file must be a file name inside the folder");
            manifest.hasTrailer = true;
        } else if (IsProvenanceKey(key)) {
            // Where the tables came from: read by ReadProvenance.
        } else {
            fail(n, "unknown key '" + std::string(key) + "'");
        }
    }
    if (!hasFormat) fail(-1, "no 'format' line");
    if (!manifest.kind) fail(-1, "no 'kind' line");
    if (!hasFile) fail(-1, "no 'file' line");
    if (!manifest.hasTrailer) fail(-1, "no 'trailer' or 'trailer-file' line");
    if (seen.count("trailer") && seen.count("trailer-file")) fail(-1, "both 'trailer' and 'trailer-file'");
    return manifest;
}

// One field of a record as a row describes it.
struct FieldToken {
    std::uint8_t tag = 0;
    KeptForm form;
    int column = -1;                      // schema field index whose cell holds the value, or -1
    std::vector<std::uint8_t> payload;    // when given in ~extra
};

class TablePacker {
public:
    TablePacker(InputFolder& in, const KindSpec& kind, const BlockEntry& entry)
        : entry_(entry), spec_(FindBlock(kind, entry.tag)), record_(spec_ ? spec_->record : kNoFields) {
        source_ = in.Open(entry.table);
        label_ = source_->Label();
    }

    // Appends the block's records to `block`; returns the row count.
    long long Run(std::vector<std::uint8_t>& block) {
        LineReader lines(*source_);
        std::string_view line;
        if (!lines.Next(line)) Fail(1, {}, "the table is empty; expected a header row");
        ReadHeader(line);
        // The block is about as large as its table, but a table of small
        // numbers gives a larger one (a float of 1 digit takes 6 bytes):
        // room made once spares the copies of a doubling buffer, which
        // briefly held a block and a half. Untouched room costs no memory;
        // the cap keeps a huge table from asking for more than a 32-bit
        // process has.
        constexpr std::uint64_t kMaxReserve = 256u << 20;
        ReserveLarge(block, static_cast<std::size_t>(std::min(2 * source_->Size(), kMaxReserve)));
        long long rows = 0;
        while (lines.NextCells(cells_)) {
            row_ = lines.LineNumber();
            // Spreadsheets drop a row's trailing empty cells; those beyond the
            // header may be empty ones a spreadsheet added.
            if (cells_.size() < columns_) cells_.resize(columns_);
            while (cells_.size() > columns_ && cells_.back().empty()) cells_.pop_back();
            if (cells_.size() > columns_)
                Fail(row_, {}, "the row has " + std::to_string(cells_.size()) + " cells, expected at most " +
                                   std::to_string(columns_) + " (one per header column)");
            PackRow(block);
            ++rows;
        }
        if (style_.Refused())
            Fail(ambiguous_.row, ambiguous_.column, "bad cell", &ambiguous_.cell, std::string(kAmbiguousComma));
        if (style_.NeedsNote())
            note_ = "read \"" + ambiguous_.cell + "\" (row " + std::to_string(ambiguous_.row) + ", column " +
                    ambiguous_.column +
                    ") and the like with a decimal comma, as the table has no decimal point; write 1000, not 1,000, for a thousand";
        cp1251_ = lines.ReadAsCp1251();
        return rows;
    }

    // Whether the table was not UTF-8 and was read as Windows-1251.
    bool ReadAsCp1251() const { return cp1251_; }
    const std::string& Note() const { return note_; }

private:
    [[noreturn]] void Fail(long long row, const std::string& column, const std::string& problem,
                           const std::string* cell = nullptr, const std::string& expected = {}) const {
        Place place;
        place.file = label_;
        place.block = spec_ ? std::string(spec_->name) + " (tag " + std::to_string(entry_.tag) + ")"
                            : std::to_string(entry_.tag);
        place.row = row;
        place.column = column;
        if (cell) {
            place.hasCell = true;
            place.cell = *cell;
        }
        place.expected = expected;
        throw Error(place, problem);
    }

    void ReadHeader(std::string_view line) {
        SplitTabs(line, cells_);
        if (cells_.size() == 1) {
            const std::size_t commas = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
            const std::size_t semicolons = static_cast<std::size_t>(std::count(line.begin(), line.end(), ';'));
            if (commas || semicolons)
                Fail(1, {}, std::string("the header has no Tab between its columns: the table was saved with '") +
                                (commas >= semicolons ? "," : ";") +
                                "' as the separator; save it as text with Tab as the only separator");
        }
        columns_ = cells_.size();
        cellOf_.assign(record_.fields.size(), kNone);
        partCells_.assign(record_.fields.size(), {});
        extraCell_ = kNone;
        std::string scratch;
        for (std::size_t c = 0; c < cells_.size(); ++c) {
            std::string_view cell = cells_[c];
            try {
                cell = UnquoteCell(cell, scratch);
            } catch (const CellProblem&) {
                const std::string text(cell);
                Fail(1, {}, "bad header cell", &text, "a column name, in quotes or not");
            }
            const std::string name(cell);
            if (name == kExtraColumn) {
                if (extraCell_ != kNone) Fail(1, name, "the column comes twice");
                extraCell_ = c;
                continue;
            }
            const auto [f, part] = FindColumn(name);
            if (f == kNone)
                Fail(1, name, "unknown column; the " + (spec_ ? std::string(spec_->name) : "unknown") + " block has " +
                                  ColumnList());
            std::size_t& slot = part == kNone ? cellOf_[f] : PartSlot(f, part);
            if (slot != kNone) Fail(1, name, "the column comes twice");
            slot = c;
        }
        for (std::size_t f = 0; f < record_.fields.size(); ++f) {
            const FieldSpec& field = record_.fields[f];
            if (cellOf_[f] != kNone && !partCells_[f].empty())
                Fail(1, std::string(field.name), "the field has a column of its own and columns per part; keep one or the other");
            if (cellOf_[f] != kNone) continue;
            if (partCells_[f].empty())
                Fail(1, IsSplit(field) ? PartName(field, 0) : std::string(field.name), "the column is missing from the header");
            for (std::size_t part = 0; part < partCells_[f].size(); ++part)
                if (partCells_[f][part] == kNone) Fail(1, PartName(field, part), "the column is missing from the header");
        }
    }

    // The field and part a column name stands for; part kNone for a field in
    // one column (as all fields were in format 1).
    std::pair<std::size_t, std::size_t> FindColumn(const std::string& name) const {
        for (std::size_t f = 0; f < record_.fields.size(); ++f) {
            const FieldSpec& field = record_.fields[f];
            if (name == field.name) return {f, kNone};
            if (!IsSplit(field) || !name.starts_with(field.name) || name.size() <= field.name.size() ||
                name[field.name.size()] != '.')
                continue;
            for (std::size_t part = 0; part < ColumnCount(field); ++part)
                if (PartName(field, part) == name) return {f, part};
        }
        return {kNone, kNone};
    }

    std::size_t& PartSlot(std::size_t f, std::size_t part) {
        if (partCells_[f].empty()) partCells_[f].assign(ColumnCount(record_.fields[f]), kNone);
        return partCells_[f][part];
    }

    std::string ColumnList() const {
        std::string list;
        for (const FieldSpec& field : record_.fields) {
            if (!IsSplit(field)) list += std::string(field.name) + ", ";
            else
                for (std::size_t part = 0; part < ColumnCount(field); ++part) list += PartName(field, part) + ", ";
        }
        return list + std::string(kExtraColumn);
    }

    // Parses one cell as `field` and appends it as a node, its header
    // written first and widened afterwards if the value is long.
    void AppendFieldNode(std::vector<std::uint8_t>& out, std::size_t f, const KeptForm& form) {
        const FieldSpec& field = record_.fields[f];
        const std::size_t start = BeginNode(out, field.tag);
        if (partCells_[f].empty()) {
            const std::string_view cell = cells_[cellOf_[f]];
            try {
                ParseCell(UnquoteCell(cell, unquoted_), field, out, &style_);
            } catch (const CellProblem& problem) {
                const std::string text(cell);
                Fail(row_, std::string(field.name), "bad cell", &text, problem.expected);
            }
            if (style_.ambiguous && ambiguous_.row < 0) NoteAmbiguous(std::string(field.name), cell);
        } else {
            const std::vector<std::size_t>& columns = partCells_[f];
            parts_.resize(columns.size());
            partScratch_.resize(columns.size());
            std::size_t part = 0;
            try {
                for (; part < columns.size(); ++part) parts_[part] = UnquoteCell(cells_[columns[part]], partScratch_[part]);
                ParseParts(parts_, field, out, &style_);
            } catch (const CellProblem& problem) {
                if (part == columns.size()) part = problem.part;
                const std::string text(cells_[columns[part]]);
                Fail(row_, PartName(field, part), "bad cell", &text, problem.expected);
            }
            if (style_.ambiguous && ambiguous_.row < 0)
                for (std::size_t i = 0; i < columns.size(); ++i)
                    if (AmbiguousComma(NumberText(parts_[i]))) NoteAmbiguous(PartName(field, i), cells_[columns[i]]);
        }
        if (!FinishNode(out, start, form.Long(out.size() - start - 2))) Fail(row_, std::string(field.name), "the value is longer than a node can be");
    }

    void PackRow(std::vector<std::uint8_t>& block) {
        ParseExtra();
        const std::size_t start = BeginNode(block, recordTag_);
        if (!explicitFields_) {
            for (std::size_t f = 0; f < record_.fields.size(); ++f) AppendFieldNode(block, f, KeptForm{});
        } else {
            // Cells of fields the record lacks must be empty, or an edit would vanish.
            for (std::size_t f = 0; f < record_.fields.size(); ++f) {
                if (listed_[f]) continue;
                const bool single = partCells_[f].empty();
                const std::size_t n = single ? 1 : partCells_[f].size();
                for (std::size_t part = 0; part < n; ++part) {
                    const std::size_t c = single ? cellOf_[f] : partCells_[f][part];
                    if (cells_[c].empty()) continue;
                    const std::string text(cells_[c]);
                    Fail(row_, single ? std::string(record_.fields[f].name) : PartName(record_.fields[f], part),
                         "the cell has a value but ~extra does not list field " + std::to_string(record_.fields[f].tag),
                         &text, "an empty cell, or the field's tag in ~extra");
                }
            }
            for (const FieldToken& token : tokens_) {
                if (token.column >= 0) {
                    AppendFieldNode(block, static_cast<std::size_t>(token.column), token.form);
                } else {
                    AppendNode(block, token.tag, token.payload, token.form.Long(token.payload.size()));
                }
            }
        }
        if (!FinishNode(block, start, recordForm_.Long(block.size() - start - 2))) Fail(row_, {}, "the record is longer than a node can be");
    }

    [[noreturn]] void ExtraError(std::string_view token, const std::string& problem) const {
        const std::string text(cells_[extraCell_]);
        Fail(row_, std::string(kExtraColumn), problem + " ('" + std::string(token) + "')", &text,
             "space-separated tokens: TAG, TAG=HEX, either with '!' or '!LENGTH' after it, R[TAG][!LENGTH], or '-'");
    }

    void ParseExtra() {
        // A table without the column has only records as the game writes them.
        std::string_view extra = extraCell_ == kNone ? std::string_view() : UnquoteExtra();
        if (extra.starts_with(kTextMark)) extra.remove_prefix(kTextMark.size());
        recordTag_ = 1;
        recordForm_ = KeptForm{};
        explicitFields_ = false;
        tokens_.clear();
        listed_.assign(record_.fields.size(), false);
        std::size_t pos = 0;
        while (pos < extra.size()) {
            std::size_t end = extra.find(' ', pos);
            if (end == std::string_view::npos) end = extra.size();
            std::string_view token = extra.substr(pos, end - pos);
            pos = end + 1;
            if (token.empty()) continue;
            if (token == "-") {
                explicitFields_ = true;
                continue;
            }
            KeptForm form;
            if (const std::size_t bang = token.find('!'); bang != std::string_view::npos) {
                if (!ParseKeptLength(token.substr(bang + 1), form)) ExtraError(token, "bad length after '!'");
                token = token.substr(0, bang);
            }
            if (!token.empty() && token[0] == 'R') {
                recordForm_ = form;
                if (token.size() > 1 && !ParseTag(token.substr(1), recordTag_)) ExtraError(token, "bad record token");
                continue;
            }
            explicitFields_ = true;
            FieldToken field;
            field.form = form;
            const std::size_t equals = token.find('=');
            if (!ParseTag(token.substr(0, equals), field.tag)) ExtraError(token, "bad field tag");
            if (equals != std::string_view::npos) {
                if (!ParseHex(token.substr(equals + 1), field.payload)) ExtraError(token, "bad hex after '='");
            } else {
                std::size_t f = 0;
                while (f < record_.fields.size() && record_.fields[f].tag != field.tag) ++f;
                if (f == record_.fields.size())
                    ExtraError(token, "tag " + std::to_string(field.tag) + " has no column; give its bytes as TAG=HEX");
                if (listed_[f]) ExtraError(token, "field " + std::to_string(field.tag) + " takes its column's value once; give a repeat as TAG=HEX");
                listed_[f] = true;
                field.column = static_cast<int>(f);
            }
            tokens_.push_back(std::move(field));
        }
    }

    // The first cell whose comma could separate thousands, for the message
    // at the table's end.
    void NoteAmbiguous(std::string column, std::string_view cell) {
        if (!style_.ambiguous || ambiguous_.row >= 0) return;
        ambiguous_ = {row_, std::move(column), std::string(cell)};
    }

    std::string_view UnquoteExtra() {
        try {
            return UnquoteCell(cells_[extraCell_], unquoted_);
        } catch (const CellProblem& problem) {
            const std::string text(cells_[extraCell_]);
            Fail(row_, std::string(kExtraColumn), "bad cell", &text, problem.expected);
        }
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const BlockEntry& entry_;
    const BlockSpec* spec_;
    const RecordSpec& record_;
    std::unique_ptr<ByteSource> source_;
    std::string label_;
    std::vector<std::string_view> cells_;
    std::size_t columns_ = 0;
    std::vector<std::size_t> cellOf_;                    // per field: its one column, or kNone
    std::vector<std::vector<std::size_t>> partCells_;    // per split field: its parts' columns
    std::vector<std::string_view> parts_;
    std::vector<std::string> partScratch_;
    std::size_t extraCell_ = kNone;
    bool cp1251_ = false;
    std::string note_;
    NumberStyle style_;
    struct {
        long long row = -1;
        std::string column;
        std::string cell;
    } ambiguous_;
    long long row_ = 0;
    std::uint8_t recordTag_ = 1;
    KeptForm recordForm_;
    bool explicitFields_ = false;
    std::vector<FieldToken> tokens_;
    std::vector<bool> listed_;
    std::string unquoted_;
};

// Writes the file node: its content stays in memory while it is short
// enough for the 1-byte size, then goes out behind a 4-byte size that is
// patched at the end.
class FileNodeWriter {
public:
    FileNodeWriter(ByteSink& out, std::uint8_t tag, const KeptForm& form) : out_(out), tag_(tag), form_(form) {
        start_ = out_.Position();
    }

    void Append(std::span<const std::uint8_t> bytes) {
        length_ += bytes.size();
        if (length_ > kMaxNodeLength) throw Error(Place{}, "the database would exceed the largest possible size (2 GiB)");
        if (!streaming_ && length_ > kMaxShortLength) {
            std::vector<std::uint8_t> header;
            AppendHeader(header, tag_, 0, true);
            out_.Write(header);
            out_.Write(pending_);
            pending_.clear();
            streaming_ = true;
        }
        if (streaming_) out_.Write(bytes);
        else pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    }

    void Finish() {
        std::vector<std::uint8_t> header;
        if (!streaming_) {
            const auto length = static_cast<std::size_t>(length_);
            AppendHeader(header, tag_, length, form_.Long(length));
            out_.Write(header);
            out_.Write(pending_);
            return;
        }
        AppendHeader(header, tag_, static_cast<std::size_t>(length_), true);
        out_.Patch(start_, header);
    }

private:
    ByteSink& out_;
    std::uint8_t tag_;
    KeptForm form_;
    std::uint64_t start_ = 0;
    std::uint64_t length_ = 0;
    bool streaming_ = false;
    std::vector<std::uint8_t> pending_;
};

}  // namespace

PackSummary Pack(InputFolder& in, ByteSink& out, std::span<const KindSpec> kinds, PackObserver* observer) {
    if (IsAnimsFolder(in)) return PackAnims(in, out);
    const Manifest manifest = ReadManifest(in, kinds);
    PackSummary summary;
    const std::uint64_t start = out.Position();
    FileNodeWriter file(out, manifest.fileTag, manifest.fileForm);
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> header;
    for (const BlockEntry& entry : manifest.blocks) {
        if (const std::optional<HeldBlock> held = observer ? observer->Held(entry.tag, entry.table, in) : std::nullopt) {
            const auto length = static_cast<std::size_t>(held->length);
            header.clear();
            AppendHeader(header, entry.tag, length, entry.form.Long(length));
            file.Append(header);
            observer->CopyHeld([&file](std::span<const std::uint8_t> piece) { file.Append(piece); });
            summary.tables.push_back({entry.table, held->rows, false, {}});
            continue;
        }
        records.clear();
        TablePacker table(in, *manifest.kind, entry);
        const long long rows = table.Run(records);
        if (observer != nullptr) observer->Block(entry.tag, entry.table, records);
        if (records.size() > kMaxNodeLength) throw Error(Place{}, "block " + entry.table + " is longer than a node can be");
        header.clear();
        AppendHeader(header, entry.tag, records.size(), entry.form.Long(records.size()));
        file.Append(header);
        file.Append(records);
        summary.tables.push_back({entry.table, rows, table.ReadAsCp1251(), table.Note()});
    }
    file.Finish();
    if (observer != nullptr) observer->Finish();
    if (!manifest.trailerFile.empty()) {
        std::unique_ptr<ByteSource> source = in.Open(manifest.trailerFile);
        std::vector<std::uint8_t> chunk(64 * 1024);
        for (;;) {
            const std::size_t n = source->ReadSome(chunk);
            if (n == 0) break;
            out.Write(std::span(chunk.data(), n));
        }
    } else {
        out.Write(manifest.trailer);
    }
    summary.bytes = out.Position() - start;
    return summary;
}

const KindSpec& ManifestKind(InputFolder& in) { return IsAnimsFolder(in) ? AnimKind() : *ReadManifest(in, Kinds()).kind; }

PackSummary PackToFile(const fs::path& dir, const fs::path& target, PackObserver* observer) {
    DiskInputFolder in(dir);
    return PackToFile(in, target, observer);
}

PackSummary PackToFile(InputFolder& in, const fs::path& target, PackObserver* observer) {
    std::error_code error;
    if (fs::is_directory(target, error)) {
        Place place;
        place.file = QuotedPath(target);
        throw Error(place, "is a folder; expected the database file to write");
    }
    // The database must not replace one of the files it is made from.
    if (fs::exists(target, error)) {
        std::vector<std::string> inputs = AnimsFolderFiles(in);
        if (inputs.empty()) {
            const Manifest manifest = ReadManifest(in, Kinds());
            inputs.push_back(std::string(kManifestName));
            for (const BlockEntry& block : manifest.blocks) inputs.push_back(block.table);
            if (!manifest.trailerFile.empty()) inputs.push_back(manifest.trailerFile);
        }
        for (const std::string& name : inputs) {
            const fs::path input = in.PathOf(name);
            if (!input.empty() && idb::SameFile(input, target)) {
                Place place;
                place.file = QuotedPath(target);
                throw Error(place, "refusing to write the database over one of its own tables");
            }
        }
    }
    // The temporary file sits beside the target so that the rename is one step.
    const fs::path temporary = idb::TemporaryBeside(target);
    try {
        FileSink sink(temporary);
        PackSummary summary = Pack(in, sink, Kinds(), observer);
        sink.Close();
        MoveOver(temporary, target);
        return summary;
    } catch (...) {
        fs::remove(temporary, error);
        throw;
    }
}

}  // namespace gamedb
