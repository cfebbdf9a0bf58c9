// Workbooks (.xlsx): sheets of typed cells, written in one pass and read back
// one sheet at a time. The container knows nothing of the game's databases:
// a caller turns its rows into cells and back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace workbook {

// A failure with the workbook, the sheet and the cell where it is known:
// `workbook "mod.xlsx": sheet "items.weapons", cell C12: ...`.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Cell {
    enum class Kind : std::uint8_t { Empty, Number, Text, Boolean, Error };
    Kind kind = Kind::Empty;
    // Number: the value; Boolean: 0 or 1.
    double number = 0;
    // Text: the text (UTF-8); Number: the stored decimal as written in the
    // file (a reader may want its digits); Error: the error's code ("#N/A").
    std::string text;

    static Cell Text(std::string text) { return {Kind::Text, 0, std::move(text)}; }
    static Cell Number(double value) { return {Kind::Number, value, {}}; }
};

// "A1", "AB12": how messages name cells. Columns and rows count from 0.
std::string CellName(std::uint32_t column, std::uint32_t row);

struct SheetOptions {
    bool hidden = false;
    // The first row is a header: bold, frozen, with a filter over the table.
    bool header = true;
};

// How a writer lays its cells out.
struct WriterOptions {
    // Plain cells as simple writers make them: no cell formats, no column
    // widths, texts in the shared-string table rather than inline. The
    // whole workbook is then held in memory until Close.
    bool plain = false;
};

// Writes a workbook in one pass, holding about one row in memory (the rows
// go to a temporary file per sheet). `path` is written by Close only; the
// caller stages it beside its target.
class WorkbookWriter {
public:
    // `tempDir` is where the row files go; empty: the system's.
    explicit WorkbookWriter(const std::filesystem::path& path, const std::filesystem::path& tempDir = {},
                            WriterOptions options = {});
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    // Starts the next sheet; the previous one is finished. Throws Error for a
    // name a workbook cannot hold (empty, over 31 characters, `[]:*?/\`, or
    // one already used, whatever its case).
    void BeginSheet(std::string_view name, const SheetOptions& options = {});
    // Appends a row. Text cells are formatted as text, so that a value typed
    // into one stays text. Throws Error for a text over 32,767 characters.
    void AddRow(std::span<const Cell> cells);
    // Writes the file; throws Error when it could not be written.
    void Close();

private:
    struct State;
    void FinishSheet();
    std::unique_ptr<State> state_;
};

struct SheetInfo {
    std::string name;
    bool hidden = false;
    std::string part;  // the sheet's part in the container, e.g. "xl/worksheets/sheet1.xml"
};

struct Row {
    std::uint32_t index = 0;  // from 0, as the file numbers it less one
    std::vector<Cell> cells;  // by column from 0; missing cells are Empty
};

// What a reader accepts: a workbook beyond these is refused, not read, so a
// hostile file (a zip bomb, a giant string) costs bounded time and memory.
struct ReadLimits {
    std::uint64_t partBytes = 512ull << 20;   // one part, inflated
    std::uint64_t totalBytes = 2048ull << 20; // all parts read, inflated
    std::size_t stringBytes = 1u << 20;       // one cell's text
    std::uint32_t columns = 16384;            // as Excel's sheets
    std::uint32_t rows = 1048576;
};

// Reads a workbook as spreadsheets save it: shared and inline strings,
// rich-text runs, numbers, booleans, formulas (their cached values), sheets
// in the workbook's order whatever their part names.
class WorkbookReader {
public:
    explicit WorkbookReader(const std::filesystem::path& path, ReadLimits limits = {});
    ~WorkbookReader();
    WorkbookReader(const WorkbookReader&) = delete;
    WorkbookReader& operator=(const WorkbookReader&) = delete;

    // The sheets in the workbook's order.
    const std::vector<SheetInfo>& Sheets() const;
    // The sheet of that name (compared as Excel does, without regard to case),
    // or null.
    const SheetInfo* FindSheet(std::string_view name) const;
    // Reads one sheet whole, rows in the file's order. Throws Error naming the
    // sheet and cell.
    std::vector<Row> ReadSheet(const SheetInfo& sheet);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace workbook
