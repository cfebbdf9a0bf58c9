#include <xlsxwriter.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "workbook/narrow_path.h"
#include "workbook/workbook.h"
#include "workbook/workbook_syntax.h"

namespace workbook {

namespace {

constexpr std::size_t kMaxTextChars = 32767;  // a cell's limit in both spreadsheets
constexpr double kMaxWidth = 60;              // characters: wider columns hide their neighbours
constexpr double kMinWidth = 6;

// Characters, not bytes: what a column's width counts.
std::size_t Utf8Length(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// libxlsxwriter's functions, as this file calls them. The Linux programs
// load the library when the first workbook is written: it brings in a
// cryptography library whose loading alone costs every run of every command
// a few milliseconds, as much as unpacking a small database. The Windows
// programs have it linked in.
#define IDB_XLSX_FUNCTIONS(X)                                                                                        \
    X(workbook_new_opt) X(workbook_add_format) X(workbook_add_worksheet) X(workbook_close) X(lxw_workbook_free)     \
    X(format_set_bold) X(format_set_num_format) X(worksheet_set_column) X(worksheet_freeze_panes)                    \
    X(worksheet_autofilter) X(worksheet_hide) X(worksheet_write_number) X(worksheet_write_boolean)                   \
    X(worksheet_write_string) X(lxw_strerror)

struct Xlsx {
#define IDB_XLSX_MEMBER(name) decltype(&::name) name;
    IDB_XLSX_FUNCTIONS(IDB_XLSX_MEMBER)
#undef IDB_XLSX_MEMBER
};

#ifdef _WIN32
const Xlsx& Library() {
#define IDB_XLSX_LINKED(name) functions.name = &::name;
    static const Xlsx library = [] {
        Xlsx functions{};
        IDB_XLSX_FUNCTIONS(IDB_XLSX_LINKED)
        return functions;
    }();
#undef IDB_XLSX_LINKED
    return library;
}
#else
template <typename Function>
void Find(void* handle, Function& function, const char* name) {
    void* const address = dlsym(handle, name);
    if (address == nullptr) throw Error(std::string("the workbook library ") + IDB_XLSXWRITER_SONAME + " lacks " + name);
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof address);
}

// Loaded once; after a failure, tried again at the next workbook.
const Xlsx& Library() {
#define IDB_XLSX_FOUND(name) Find(handle, functions.name, #name);
    static const Xlsx library = [] {
        void* const handle = dlopen(IDB_XLSXWRITER_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) throw Error(std::string("cannot load the workbook library: ") + dlerror());
        Xlsx functions{};
        IDB_XLSX_FUNCTIONS(IDB_XLSX_FOUND)
        return functions;
    }();
#undef IDB_XLSX_FOUND
    return library;
}
#endif

}  // namespace

struct WorkbookWriter::State {
    std::string path;
    std::string tempDir;
    lxw_workbook* book = nullptr;
    lxw_format* bold = nullptr;
    lxw_format* text = nullptr;
    lxw_format* boldText = nullptr;
    lxw_worksheet* sheet = nullptr;
    std::string sheetName;
    SheetOptions options;
    std::uint32_t row = 0;
    std::vector<double> widths;
    std::vector<std::string> names;
    bool plain = false;

    std::string Where(std::uint32_t column) const {
        return "workbook \"" + path + "\": sheet \"" + sheetName + "\", cell " + CellName(column, row);
    }
};

WorkbookWriter::WorkbookWriter(const std::filesystem::path& path, const std::filesystem::path& tempDir,
                               WriterOptions writerOptions)
    : state_(std::make_unique<State>()) {
    state_->plain = writerOptions.plain;
    state_->path = reinterpret_cast<const char*>(path.u8string().c_str());
    // The library opens its row files by narrow names.
    state_->tempDir = tempDir.empty() ? std::string() : NarrowFolderName(tempDir);
    lxw_workbook_options options{};
    // Rows go to a file per sheet as they come: memory stays flat however big the database.
    // (Constant memory writes texts inline; plain workbooks share them.)
    options.constant_memory = writerOptions.plain ? LXW_FALSE : LXW_TRUE;
    options.tmpdir = state_->tempDir.empty() ? nullptr : state_->tempDir.data();
    options.use_zip64 = LXW_TRUE;
    state_->book = Library().workbook_new_opt(state_->path.c_str(), &options);
    if (state_->book == nullptr) throw Error("workbook \"" + state_->path + "\": cannot start a workbook (out of memory)");
    state_->bold = Library().workbook_add_format(state_->book);
    Library().format_set_bold(state_->bold);
    // Formatted as text, a cell keeps what a person types into it as text.
    state_->text = Library().workbook_add_format(state_->book);
    Library().format_set_num_format(state_->text, "@");
    state_->boldText = Library().workbook_add_format(state_->book);
    Library().format_set_bold(state_->boldText);
    Library().format_set_num_format(state_->boldText, "@");
}

WorkbookWriter::~WorkbookWriter() {
    if (state_->book != nullptr) {
        // Not closed: nothing is written (libxlsxwriter writes the file only
        // in workbook_close); this frees the sheets and their row files.
        Library().lxw_workbook_free(state_->book);
    }
}

void WorkbookWriter::FinishSheet() {
    State& s = *state_;
    if (s.sheet == nullptr) return;
    for (std::size_t c = 0; !s.plain && c < s.widths.size(); ++c) {
        auto column = static_cast<lxw_col_t>(c);
        Library().worksheet_set_column(s.sheet, column, column, std::clamp(s.widths[c] + 2, kMinWidth, kMaxWidth), nullptr);
    }
    if (s.options.header && !s.widths.empty()) {
        Library().worksheet_freeze_panes(s.sheet, 1, 0);
        Library().worksheet_autofilter(s.sheet, 0, 0, s.row == 0 ? 0 : s.row - 1, static_cast<lxw_col_t>(s.widths.size() - 1));
    }
    if (s.options.hidden) Library().worksheet_hide(s.sheet);
    s.sheet = nullptr;
}

void WorkbookWriter::BeginSheet(std::string_view name, const SheetOptions& options) {
    State& s = *state_;
    std::string problem = SheetNameProblem(name);
    for (const std::string& used : s.names)
        if (problem.empty() && SameSheetName(used, name)) problem = "is used by another sheet";
    if (!problem.empty())
        throw Error("workbook \"" + s.path + "\": sheet name \"" + std::string(name) + "\" " + problem);
    FinishSheet();
    s.names.emplace_back(name);
    s.sheetName = std::string(name);
    s.sheet = Library().workbook_add_worksheet(s.book, s.sheetName.c_str());
    if (s.sheet == nullptr) throw Error("workbook \"" + s.path + "\": cannot add sheet \"" + s.sheetName + "\"");
    s.options = options;
    s.row = 0;
    s.widths.clear();
}

void WorkbookWriter::AddRow(std::span<const Cell> cells) {
    State& s = *state_;
    if (s.sheet == nullptr) throw Error("workbook \"" + s.path + "\": a row before the first sheet");
    if (s.row >= 1048576) throw Error(s.Where(0) + ": a sheet holds at most 1,048,576 rows");
    if (cells.size() > 16384) throw Error(s.Where(16384) + ": a sheet holds at most 16,384 columns");
    if (s.widths.size() < cells.size()) s.widths.resize(cells.size(), 0);
    const bool header = s.options.header && s.row == 0;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const Cell& cell = cells[c];
        auto column = static_cast<lxw_col_t>(c);
        lxw_error error = LXW_NO_ERROR;
        std::size_t width = 0;
        switch (cell.kind) {
        case Cell::Kind::Empty:
            continue;
        case Cell::Kind::Number:
            error = Library().worksheet_write_number(s.sheet, s.row, column, cell.number, header ? s.bold : nullptr);
            width = 12;
            break;
        case Cell::Kind::Boolean:
            error = Library().worksheet_write_boolean(s.sheet, s.row, column, cell.number != 0, header ? s.bold : nullptr);
            width = 5;
            break;
        case Cell::Kind::Text:
        case Cell::Kind::Error:
            width = Utf8Length(cell.text);
            if (width > kMaxTextChars)
                throw Error(s.Where(static_cast<std::uint32_t>(c)) + ": a text of " + std::to_string(width) +
                            " characters; a cell holds at most 32,767");
            error = Library().worksheet_write_string(s.sheet, s.row, column, EscapeLookalikes(cell.text).c_str(),
                                           s.plain ? nullptr : header ? s.boldText : s.text);
            break;
        }
        if (error != LXW_NO_ERROR)
            throw Error(s.Where(static_cast<std::uint32_t>(c)) + ": " + Library().lxw_strerror(error));
        s.widths[c] = std::max(s.widths[c], static_cast<double>(width));
    }
    ++s.row;
}

void WorkbookWriter::Close() {
    State& s = *state_;
    FinishSheet();
    lxw_workbook* book = s.book;
    s.book = nullptr;
    lxw_error error = Library().workbook_close(book);
    if (error != LXW_NO_ERROR) {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::u8path(s.path), ignored);
        throw Error("workbook \"" + s.path + "\": cannot be written: " + Library().lxw_strerror(error));
    }
}

}  // namespace workbook
