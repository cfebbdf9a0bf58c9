#include "gamedb/workbook_folder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <system_error>

#include "export/file_io.h"
#include "gamedb/byte_io.h"
#include "gamedb/cells.h"
#include "gamedb/checksum.h"
#include "gamedb/line_reader.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"

namespace gamedb {

namespace fs = std::filesystem;

namespace {

// The index sheet's entries.
constexpr std::string_view kTableEntry = "table";
constexpr std::string_view kTextEntry = "text";
constexpr std::string_view kBytesEntry = "bytes";
// Hex digits per index row of a binary file: well under a cell's 32,767 characters.
constexpr std::size_t kHexPerRow = 16384;
constexpr std::size_t kMaxSheetName = 31;

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
    Place place;
    place.file = where;
    throw Error(place, problem);
}

std::string BookLabel(const fs::path& book) { return "workbook " + QuotedPath(book); }

// "0", "-12", "0.5", "400000": the numbers unpack writes as they are; what
// else it writes ("007", "1.10", "-0") stands for a text or a special value.
bool IsPlainNumber(std::string_view text) {
    std::size_t i = text.starts_with('-') ? 1 : 0;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    const std::size_t whole = i - digits;
    if (whole == 0 || (whole > 1 && text[digits] == '0')) return false;
    if (i < text.size()) {
        if (text[i] != '.') return false;
        const std::size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i != text.size() || i == fraction || text[i - 1] == '0') return false;
    }
    return text != "-0";
}

// A spreadsheet keeps 15 significant digits of a number.
bool FitsSpreadsheetNumber(std::string_view text) {
    std::size_t significant = 0;
    bool leading = true;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        if (leading && c == '0') continue;
        leading = false;
        ++significant;
    }
    return significant <= 15;
}

// Where a text cell needs the \e of a .tsv table to be read back as the
// same table text: the writer leaves it off exactly there.
bool NeedsTextMark(std::string_view text) {
    return !text.empty() && !text.starts_with(kTextMark) && !text.starts_with(kHexMarker) && !IsPlainNumber(text) &&
           MightNotStayText(text);
}

void AppendNumber(std::string& out, double value) {
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr - text > 40) result = std::to_chars(text, text + sizeof text, value);
    out.append(text, static_cast<std::size_t>(result.ptr - text));
}

// A cell's text as it stands, for names and the index: no \e is wanted there.
std::string PlainText(const workbook::Cell& cell) {
    if (cell.kind != workbook::Cell::Kind::Number) return cell.text;
    std::string text;
    AppendNumber(text, cell.number);
    return text;
}

// Characters a sheet name may not hold, and Excel's limit on its length.
std::string SheetNameFor(std::string name) {
    for (char& c : name)
        if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) c = '_';
    if (name.starts_with('\'')) name[0] = '_';
    if (name.ends_with('\'')) name.back() = '_';
    return name;
}

// Cuts a UTF-8 text to `limit` characters.
std::string CutCharacters(std::string text, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == limit) {
            text.resize(i);
            break;
        }
    }
    return text;
}

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

}  // namespace

bool IsWorkbookPath(const fs::path& path) { return FoldCase(path.extension().string()) == ".xlsx"; }

workbook::Cell WorkbookCell(std::string_view tableCell) {
    if (tableCell.empty()) return {};
    if (IsPlainNumber(tableCell) && FitsSpreadsheetNumber(tableCell)) {
        double value = 0;
        std::from_chars(tableCell.data(), tableCell.data() + tableCell.size(), value);
        return workbook::Cell::Number(value);
    }
    if (tableCell.starts_with(kTextMark)) {
        const std::string_view rest = tableCell.substr(kTextMark.size());
        if (NeedsTextMark(rest)) return workbook::Cell::Text(std::string(rest));
    }
    return workbook::Cell::Text(std::string(tableCell));
}

bool AppendTableCell(std::string& out, const workbook::Cell& cell) {
    switch (cell.kind) {
    case workbook::Cell::Kind::Empty: return true;
    case workbook::Cell::Kind::Number: AppendNumber(out, cell.number); return true;
    case workbook::Cell::Kind::Boolean: out += cell.number != 0 ? '1' : '0'; return true;
    case workbook::Cell::Kind::Error: return false;
    case workbook::Cell::Kind::Text: break;
    }
    if (NeedsTextMark(cell.text)) out += kTextMark;
    // A line break or Tab typed into a cell is the table's escape.
    for (char c : cell.text) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return true;
}

// ---- writing ------------------------------------------------------------------

struct WorkbookOutputFolder::State {
    fs::path target;
    fs::path temporary;
    std::unique_ptr<workbook::WorkbookWriter> writer;
    std::set<std::string> usedSheets{FoldCase(kIndexSheet)};
    std::vector<std::vector<workbook::Cell>> index;   // rows of the index sheet
    bool tableOpen = false;
    bool committed = false;

    std::string NewSheetName(const std::string& file) {
        // items.idb/weapons.tsv -> items.weapons
        std::string name;
        const fs::path path = PathFromUtf8(file);
        for (const fs::path& part : path) {
            const std::u8string stem = part.stem().u8string();
            if (stem.empty()) continue;
            if (!name.empty()) name += '.';
            name.append(stem.begin(), stem.end());
        }
        name = CutCharacters(SheetNameFor(name.empty() ? "table" : name), kMaxSheetName);
        std::string unique = name;
        for (int n = 2; usedSheets.count(FoldCase(unique)); ++n) {
            const std::string suffix = "~" + std::to_string(n);
            unique = CutCharacters(name, kMaxSheetName - suffix.size()) + suffix;
        }
        usedSheets.insert(FoldCase(unique));
        return unique;
    }
};

namespace {

// A table written as a sheet: lines of Tab-separated cells become rows.
class SheetOutput final : public TextOutput {
public:
    explicit SheetOutput(WorkbookOutputFolder::State& state) : state_(state) {}
    ~SheetOutput() override { state_.tableOpen = false; }

    void Write(std::string_view bytes) override {
        pending_.append(bytes);
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
            Line(std::string_view(pending_).substr(start, end - start));
        pending_.erase(0, start);
    }
    void Close() override {
        if (!pending_.empty()) Line(pending_);
        pending_.clear();
        state_.tableOpen = false;
    }

private:
    void Line(std::string_view line) {
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (header_ && line.starts_with(kBom)) line.remove_prefix(kBom.size());
        SplitTabs(line, texts_);
        cells_.clear();
        if (header_) {
            cells_.push_back(workbook::Cell::Text(std::string(kRecordColumn)));
            for (std::string_view text : texts_) cells_.push_back(workbook::Cell::Text(std::string(text)));
            header_ = false;
        } else {
            cells_.push_back(workbook::Cell::Number(static_cast<double>(++record_)));
            for (std::string_view text : texts_) cells_.push_back(WorkbookCell(text));
        }
        state_.writer->AddRow(cells_);
    }

    WorkbookOutputFolder::State& state_;
    std::string pending_;
    std::vector<std::string_view> texts_;
    std::vector<workbook::Cell> cells_;
    bool header_ = true;
    long long record_ = 0;
};

// Any other file: kept whole for the index sheet.
class HeldOutput final : public TextOutput {
public:
    HeldOutput(WorkbookOutputFolder::State& state, std::string name) : state_(state), name_(std::move(name)) {}
    void Write(std::string_view bytes) override { text_.append(bytes); }
    void Close() override {
        // Text files go line by line, a Tab between cells, so that they can
        // be read in the sheet; anything else as hex.
        const bool text = name_.ends_with(".txt") && text_.find('\0') == std::string::npos;
        if (text) {
            std::string_view rest = text_;
            if (rest.starts_with(kBom)) rest.remove_prefix(kBom.size());
            while (!rest.empty()) {
                std::size_t end = rest.find('\n');
                std::string_view line = rest.substr(0, end);
                rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
                if (line.ends_with('\r')) line.remove_suffix(1);
                std::vector<workbook::Cell> row{workbook::Cell::Text(std::string(kTextEntry)), workbook::Cell::Text(name_)};
                std::vector<std::string_view> cells;
                SplitTabs(line, cells);
                for (std::string_view cell : cells) row.push_back(workbook::Cell::Text(std::string(cell)));
                state_.index.push_back(std::move(row));
            }
            return;
        }
        std::string hex;
        AppendHex(hex, std::span(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size()));
        for (std::size_t at = 0; at == 0 || at < hex.size(); at += kHexPerRow)
            state_.index.push_back({workbook::Cell::Text(std::string(kBytesEntry)), workbook::Cell::Text(name_),
                             workbook::Cell::Text(hex.substr(at, kHexPerRow))});
    }

private:
    WorkbookOutputFolder::State& state_;
    std::string name_;
    std::string text_;
};

// "items.idb/": a part's folder as the prefix of its files' names.
std::string FolderPrefix(const fs::path& relative) {
    const std::u8string text = relative.generic_u8string();
    return std::string(text.begin(), text.end()) + "/";
}

// A part of the workbook: its files go to the whole under longer names.
class OutputPart final : public OutputFolder {
public:
    OutputPart(std::string prefix, OutputFolder& whole) : prefix_(std::move(prefix)), whole_(whole) {}
    std::unique_ptr<TextOutput> Create(const std::string& name) override { return whole_.Create(prefix_ + name); }
    std::unique_ptr<OutputFolder> Part(const fs::path& relative) override {
        return std::make_unique<OutputPart>(prefix_ + FolderPrefix(relative), whole_);
    }

private:
    std::string prefix_;
    OutputFolder& whole_;
};

}  // namespace

WorkbookOutputFolder::WorkbookOutputFolder(fs::path target, std::vector<fs::path> protectedFiles)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = std::move(target);
    std::error_code error;
    if (fs::is_directory(s.target, error)) Fail(QuotedPath(s.target), "is a folder; expected the workbook file to write");
    if (const std::string problem = idb::NotReplaceable(s.target); !problem.empty()) Fail(QuotedPath(s.target), problem);
    for (const fs::path& input : protectedFiles)
        if (idb::SameFile(s.target, input)) Fail(QuotedPath(s.target), "refusing to replace the input with an output");
    s.temporary = idb::TemporaryBeside(s.target);
    try {
        // The sheets' row files go beside the workbook, not to a system
        // folder that may not be writable (the root of a Windows drive).
        s.writer = std::make_unique<workbook::WorkbookWriter>(s.temporary, fs::absolute(s.target, error).parent_path());
    } catch (const workbook::Error& e) {
        Fail(BookLabel(s.target), e.what());
    }
}

WorkbookOutputFolder::~WorkbookOutputFolder() {
    if (state_->committed) return;
    state_->writer.reset();
    std::error_code ignored;
    fs::remove(state_->temporary, ignored);
}

std::unique_ptr<TextOutput> WorkbookOutputFolder::Create(const std::string& name) {
    State& s = *state_;
    if (s.committed) Fail(BookLabel(s.target), "is already written");
    if (!name.ends_with(kTableExtension)) return std::make_unique<HeldOutput>(s, name);
    // A sheet is written whole before the next one starts.
    if (s.tableOpen) Fail(BookLabel(s.target), "two tables cannot be written at once");
    const std::string sheet = s.NewSheetName(name);
    try {
        s.writer->BeginSheet(sheet);
    } catch (const workbook::Error& e) {
        Fail(BookLabel(s.target), e.what());
    }
    s.index.push_back({workbook::Cell::Text(std::string(kTableEntry)), workbook::Cell::Text(name), workbook::Cell::Text(sheet)});
    s.tableOpen = true;
    return std::make_unique<SheetOutput>(s);
}

std::unique_ptr<OutputFolder> WorkbookOutputFolder::Part(const fs::path& relative) {
    return std::make_unique<OutputPart>(FolderPrefix(relative), *this);
}

void WorkbookOutputFolder::Commit() {
    State& s = *state_;
    if (s.committed) return;
    try {
        workbook::SheetOptions options;
        options.hidden = true;
        options.header = false;
        s.writer->BeginSheet(kIndexSheet, options);
        const std::vector<workbook::Cell> head{workbook::Cell::Text("entry"), workbook::Cell::Text("file"),
                                               workbook::Cell::Text("content")};
        s.writer->AddRow(head);
        for (const std::vector<workbook::Cell>& row : s.index) s.writer->AddRow(row);
        s.writer->Close();
    } catch (const workbook::Error& e) {
        Fail(BookLabel(s.target), e.what());
    }
    s.writer.reset();
    MoveOver(s.temporary, s.target);
    s.committed = true;
}

// ---- reading ------------------------------------------------------------------

struct WorkbookInputFolder::State {
    fs::path book;
    std::unique_ptr<workbook::WorkbookReader> reader;
    std::map<std::string, std::string> sheets;   // table file -> sheet
    std::map<std::string, std::string> files;    // other files -> their bytes
    // Where the lines of each table read came from: the sheet, its rows by
    // line (the header is line 1) and its columns by name.
    struct Origin {
        std::vector<std::uint32_t> rows;
        std::map<std::string, std::uint32_t> columns;
    };
    std::map<std::string, Origin> origins;       // by the label the table's source has

    [[noreturn]] void Fail(const std::string& problem) const { gamedb::Fail(BookLabel(book), problem); }

    std::string SheetLabel(const std::string& sheet) const { return BookLabel(book) + ", sheet \"" + sheet + "\""; }

    void ReadIndex() {
        const workbook::SheetInfo* index = reader->FindSheet(kIndexSheet);
        if (!index)
            Fail("has no sheet \"" + std::string(kIndexSheet) +
                 "\": it was not written by gamedb unpack (or that sheet was deleted), so it cannot be packed");
        std::vector<workbook::Row> rows = reader->ReadSheet(*index);
        for (const workbook::Row& row : rows) {
            if (row.index == 0) continue;
            const auto text = [&](std::size_t c) { return c < row.cells.size() ? PlainText(row.cells[c]) : std::string(); };
            const std::string entry = text(0);
            const std::string file = text(1);
            if (entry.empty() && file.empty()) continue;
            const auto bad = [&](const std::string& what) {
                Fail("sheet \"" + std::string(kIndexSheet) + "\", row " + std::to_string(row.index + 1) + ": " + what);
            };
            if (file.empty()) bad("names no file");
            if (entry == kTableEntry) {
                if (text(2).empty()) bad("names no sheet for " + file);
                sheets[file] = text(2);
            } else if (entry == kTextEntry) {
                std::string& bytes = files[file];
                for (std::size_t c = 2; c < row.cells.size(); ++c) {
                    if (c > 2) bytes += '\t';
                    bytes += text(c);
                }
                bytes += kNewline;
            } else if (entry == kBytesEntry) {
                std::vector<std::uint8_t> decoded;
                if (!ParseHex(text(2), decoded)) bad("the bytes of " + file + " are not hex");
                files[file].append(decoded.begin(), decoded.end());
            } else {
                bad("unknown entry \"" + entry + "\"");
            }
        }
    }

    // The sheet as the text of a .tsv table.
    std::string TableText(const std::string& file, std::string& label) {
        const std::string& sheetName = sheets.at(file);
        const workbook::SheetInfo* sheet = reader->FindSheet(sheetName);
        if (!sheet) Fail("has no sheet \"" + sheetName + "\" any more (the table " + file + ")");
        label = SheetLabel(sheet->name);
        std::vector<workbook::Row> rows;
        try {
            rows = reader->ReadSheet(*sheet);
        } catch (const workbook::Error& e) {
            gamedb::Fail(label, e.what());
        }
        Origin origin;
        std::string text(kBom);
        if (rows.empty()) return text;

        // The header: the first row; "~record" is ours, not the table's.
        const workbook::Row& head = rows.front();
        std::size_t recordColumn = SIZE_MAX;
        std::vector<std::uint32_t> columns;   // sheet columns that go into the table
        for (std::size_t c = 0; c < head.cells.size(); ++c) {
            const workbook::Cell& cell = head.cells[c];
            if (cell.kind == workbook::Cell::Kind::Text && cell.text == kRecordColumn && recordColumn == SIZE_MAX) {
                recordColumn = c;
                continue;
            }
            columns.push_back(static_cast<std::uint32_t>(c));
        }
        while (!columns.empty() && head.cells[columns.back()].kind == workbook::Cell::Kind::Empty) columns.pop_back();
        origin.rows.push_back(head.index + 1);
        const auto appendCell = [&](const workbook::Row& row, std::size_t c) {
            if (c >= row.cells.size()) return;
            if (!AppendTableCell(text, row.cells[c]))
                gamedb::Fail(label + ", cell " + workbook::CellName(static_cast<std::uint32_t>(c), row.index),
                             "holds the spreadsheet error " + row.cells[c].text + ", not a value");
        };
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i) text += '\t';
            std::string name = PlainText(head.cells[columns[i]]);
            text += name;
            origin.columns.emplace(std::move(name), columns[i]);
        }
        text += kNewline;

        // The records in the order of their numbers; a row without one
        // comes after the row above it.
        struct Line {
            double key;
            std::size_t row;
        };
        std::vector<Line> order;
        double key = 0;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const workbook::Row& row = rows[r];
            // A row cleared whole is a record deleted; one that still has
            // its number is a record whose every field is empty.
            const bool empty = std::all_of(row.cells.begin(), row.cells.end(), [](const workbook::Cell& cell) {
                return cell.kind == workbook::Cell::Kind::Empty;
            });
            if (empty) continue;
            if (recordColumn < row.cells.size() && row.cells[recordColumn].kind != workbook::Cell::Kind::Empty) {
                const workbook::Cell& number = row.cells[recordColumn];
                if (number.kind != workbook::Cell::Kind::Number || !(number.number >= 1) ||
                    number.number != std::floor(number.number))
                    gamedb::Fail(label + ", cell " + workbook::CellName(static_cast<std::uint32_t>(recordColumn), row.index),
                                 "expected the record's number (1, 2, ...) in the " + std::string(kRecordColumn) +
                                     " column, or nothing for an added record");
                key = number.number;
            }
            order.push_back({key, r});
        }
        std::stable_sort(order.begin(), order.end(), [](const Line& a, const Line& b) { return a.key < b.key; });
        for (const Line& line : order) {
            const workbook::Row& row = rows[line.row];
            std::size_t last = 0;   // cells past the header's, when the row has any
            for (std::size_t c = 0; c < row.cells.size(); ++c)
                if (c != recordColumn && row.cells[c].kind != workbook::Cell::Kind::Empty) last = c + 1;
            bool first = true;
            const auto put = [&](std::size_t c) {
                if (!first) text += '\t';
                first = false;
                appendCell(row, c);
            };
            for (std::uint32_t c : columns) put(c);
            for (std::size_t c = columns.empty() ? 0 : columns.back() + 1; c < last; ++c)
                if (c != recordColumn) put(c);
            text += kNewline;
            origin.rows.push_back(row.index + 1);
        }
        origins[label] = std::move(origin);
        return text;
    }
};

WorkbookInputFolder::WorkbookInputFolder(fs::path book, workbook::ReadLimits limits)
    : state_(std::make_shared<State>()) {
    state_->book = std::move(book);
    try {
        state_->reader = std::make_unique<workbook::WorkbookReader>(state_->book, limits);
        state_->ReadIndex();
    } catch (const workbook::Error& e) {
        Fail(BookLabel(state_->book), e.what());
    }
}

WorkbookInputFolder::WorkbookInputFolder(std::shared_ptr<State> state, std::string prefix)
    : state_(std::move(state)), prefix_(std::move(prefix)) {}

WorkbookInputFolder::~WorkbookInputFolder() = default;

bool WorkbookInputFolder::Has(const std::string& name) const {
    return state_->sheets.count(prefix_ + name) || state_->files.count(prefix_ + name);
}

std::unique_ptr<ByteSource> WorkbookInputFolder::Open(const std::string& name) {
    const std::string file = prefix_ + name;
    if (const auto it = state_->files.find(file); it != state_->files.end())
        return std::make_unique<OwningMemorySource>(it->second, BookLabel(state_->book) + ", " + file);
    if (!state_->sheets.count(file)) state_->Fail("holds no " + file);
    try {
        std::string label;
        std::string text = state_->TableText(file, label);
        return std::make_unique<OwningMemorySource>(std::move(text), std::move(label));
    } catch (const workbook::Error& e) {
        state_->Fail(e.what());
    }
}

std::unique_ptr<InputFolder> WorkbookInputFolder::Part(const std::string& relative) {
    return std::unique_ptr<InputFolder>(new WorkbookInputFolder(state_, prefix_ + relative + "/"));
}

fs::path WorkbookInputFolder::PathOf(const std::string&) const { return state_->book; }

std::string WorkbookInputFolder::Label() const { return BookLabel(state_->book); }

Error WorkbookInputFolder::Locate(const Error& error) const {
    const auto it = state_->origins.find(error.Where().file);
    if (it == state_->origins.end()) return error;
    const State::Origin& origin = it->second;
    Place place = error.Where();
    const long long line = place.row;
    if (line >= 1 && static_cast<std::size_t>(line) <= origin.rows.size()) {
        place.row = origin.rows[static_cast<std::size_t>(line - 1)];
        // A split column is named "absorption.piercing" in the header.
        const auto column = origin.columns.find(place.column);
        if (column != origin.columns.end())
            place.column += " (cell " + workbook::CellName(column->second, static_cast<std::uint32_t>(place.row - 1)) + ")";
    }
    return Error(place, error.Problem());
}

std::vector<std::string> WorkbookInputFolder::Files() const {
    std::vector<std::string> files;
    for (const auto& [name, sheet] : state_->sheets) files.push_back(name);
    for (const auto& [name, bytes] : state_->files) files.push_back(name);
    return files;
}

std::vector<std::string> EditedWorkbookTables(const fs::path& book) {
    WorkbookInputFolder whole(book);
    std::vector<std::string> edited;
    for (const std::string& file : whole.Files()) {
        if (!(file == kManifestName || file.ends_with("/" + std::string(kManifestName)))) continue;
        const std::string folder = file.substr(0, file.size() - kManifestName.size());
        const std::unique_ptr<InputFolder> owned = folder.empty() ? nullptr : whole.Part(folder.substr(0, folder.size() - 1));
        InputFolder& part = owned ? *owned : whole;
        Provenance provenance;
        try {
            provenance = ReadProvenance(part);
        } catch (const Error&) {
            provenance.hasFiles = false;
        }
        if (!provenance.hasFiles) {
            edited.push_back(file + " (it records no checksums, so edits cannot be told)");
            continue;
        }
        for (const WrittenFile& written : provenance.files) {
            if (!whole.Has(folder + written.name)) continue;   // a sheet deleted holds no edit to lose
            bool same = false;
            try {
                const std::unique_ptr<ByteSource> source = part.Open(written.name);
                same = ChecksumRest(*source) == written.checksum;
            } catch (const Error&) {
                same = false;
            }
            if (!same) edited.push_back(folder + written.name);
        }
    }
    return edited;
}

bool HasIndexSheet(const fs::path& book) {
    try {
        workbook::WorkbookReader reader(book);
        return reader.FindSheet(kIndexSheet) != nullptr;
    } catch (const workbook::Error&) {
        return false;
    }
}

}  // namespace gamedb
