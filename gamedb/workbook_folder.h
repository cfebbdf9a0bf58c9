// A workbook (.xlsx) as the folder of tables that unpack writes and pack
// reads: one sheet per table, with typed cells, and a hidden sheet
// "~gamedb" that holds the rest of the folder (the manifests, an archive's
// record) and which sheet is which table. The cells carry the same texts as
// the .tsv tables, so every rule of the tables holds; only what a typed
// cell makes needless goes: a plain number is a number cell, and a text
// is a text cell without the \e that kept it text in a .tsv.
//
// Each table sheet has a first column "~record", the record's number as
// unpack wrote it. Sorting a sheet does not reorder the database: pack
// reads the rows in the order of that column, a row without a number (an
// added one) right after the row above it.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "workbook/workbook.h"

namespace gamedb {

inline constexpr std::string_view kIndexSheet = "~gamedb";
inline constexpr std::string_view kRecordColumn = "~record";

// Whether a path names a workbook (.xlsx, in any case).
bool IsWorkbookPath(const std::filesystem::path& path);

// One table cell as a workbook cell, and back. Back gives the very text
// unpack wrote for every cell it can write.
workbook::Cell WorkbookCell(std::string_view tableCell);
// False for a cell that holds no value a table can (a spreadsheet error
// such as #N/A).
bool AppendTableCell(std::string& out, const workbook::Cell& cell);

// Writes the workbook `target` (staged beside it, renamed into place by
// Commit). Tables (.tsv) become sheets as they are written, one at a time
// and a row at a time; other files are held until Commit puts them into
// the index sheet. Files of a Part go to sheets named after the part's
// folders and the table: `items.idb/weapons.tsv` -> `items.weapons`.
class WorkbookOutputFolder final : public OutputFolder {
public:
    WorkbookOutputFolder(std::filesystem::path target, std::vector<std::filesystem::path> protectedFiles = {});
    ~WorkbookOutputFolder() override;
    WorkbookOutputFolder(const WorkbookOutputFolder&) = delete;
    WorkbookOutputFolder& operator=(const WorkbookOutputFolder&) = delete;

    std::unique_ptr<TextOutput> Create(const std::string& name) override;
    std::unique_ptr<OutputFolder> Part(const std::filesystem::path& relative) override;
    void Commit() override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Reads a workbook that unpack wrote (and a spreadsheet may have saved):
// each table is made from its sheet when it is opened, one sheet in memory
// at a time. Throws Error when the workbook cannot be read or has no index.
class WorkbookInputFolder final : public InputFolder {
public:
    explicit WorkbookInputFolder(std::filesystem::path book, workbook::ReadLimits limits = {});
    ~WorkbookInputFolder() override;

    std::unique_ptr<ByteSource> Open(const std::string& name) override;
    std::unique_ptr<InputFolder> Part(const std::string& relative) override;
    std::filesystem::path PathOf(const std::string& name) const override;
    std::string Label() const override;
    // Each table is made from its sheet when opened.
    bool CheapToRead() const override { return false; }
    // Whether the folder (or the part) holds the file.
    bool Has(const std::string& name) const;
    // Every file of the whole workbook, parts' files with their folders.
    std::vector<std::string> Files() const;

    // The error of a table read from this workbook with its place as the
    // sheet shows it: the sheet's row number and the cell ("C12").
    Error Locate(const Error& error) const;

    struct State;

private:
    WorkbookInputFolder(std::shared_ptr<State> state, std::string prefix);
    std::shared_ptr<State> state_;
    std::string prefix_;
};

// The tables of the workbook `book` (every part of it) that differ from
// what unpack wrote, by the checksums its manifests record; a manifest
// without them gives one entry naming it.
std::vector<std::string> EditedWorkbookTables(const std::filesystem::path& book);

// Whether the workbook at `book` has gamedb's index sheet (a quick look:
// false for a file that is no workbook at all).
bool HasIndexSheet(const std::filesystem::path& book);

}  // namespace gamedb
