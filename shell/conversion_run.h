// One conversion: the database read once, front to back, into six tables.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "export/conversion_error.h"
#include "export/materials.h"

namespace idb {

inline constexpr int kCategoryCount = 6;

// The categories in file order, which is the only way to tell them apart.
struct CategoryInfo {
    std::string_view name;       // for messages: "materials", "weapons", ...
    std::string_view tableName;  // "Materials.txt", ...
};
const std::array<CategoryInfo, kCategoryCount>& Categories();

// The six header texts in category order, built once.
const std::array<std::string, kCategoryCount>& ExportHeaders();

struct ConversionSettings {
    // Put in place of the point in every float; the caller takes it from the
    // user's regional settings.
    std::string decimalSeparator = ".";
    // Called once per materials field; may throw to stop the run.
    YieldHook yield;
    // Create the output folder (and its parents) when missing, once the
    // database has passed its checks, so that a refused run leaves nothing.
    bool createOutputFolder = false;
};

// The database's first byte is not 1, or it has none: nothing was written.
class NotDatabaseError : public ConversionError {
public:
    // `shown` names the database in the message when it is not the whole
    // file at `path` (an archive member).
    NotDatabaseError(const std::filesystem::path& path, const std::string& problem, const std::string& shown = {})
        : ConversionError(FailureKind::DamagedDatabase, path,
                          (shown.empty() ? QuotePath(path) : shown) + " is not an items database: " + problem),
          problem_(problem) {}
    // "the file is empty", "its first byte is 0x41, not 0x1".
    const std::string& Problem() const noexcept { return problem_; }

private:
    std::string problem_;
};

// A table the run would create is the database itself (by name, hard link
// or symbolic link): creating it would destroy the database, so nothing was
// written. Path() is the table's path.
class TableIsDatabaseError : public ConversionError {
public:
    TableIsDatabaseError(const std::filesystem::path& table, const std::filesystem::path& database)
        : ConversionError(FailureKind::CreateTable, table,
                          "the table " + QuotePath(table) + " would be the database " + QuotePath(database) +
                              " itself: nothing was written"),
          database_(database) {}
    const std::filesystem::path& Database() const noexcept { return database_; }

private:
    std::filesystem::path database_;
};


// Where the database lies when it is not a whole file (an archive member).
struct DatabaseRegion {
    std::uint64_t offset = 0;
    std::uint64_t length = UINT64_MAX;
    std::string label;   // names the database in messages instead of the path
};

struct ConversionSummary {
    std::array<long long, kCategoryCount> rows{};
};

// Converts `databasePath` into the six tables in `outputFolder`, replacing
// tables of the same names. The database is opened once and its first byte
// checked on that stream, so a pipe works; a folder, a file that is not a
// database (NotDatabaseError) and a table that would be the database itself
// (TableIsDatabaseError) are refused before anything is written. Throws
// ConversionError on the first failure: the table being written keeps what
// was written, earlier tables stay. A second call while one is running (from
// inside the yield hook) is refused.
ConversionSummary ConvertDatabase(const std::filesystem::path& databasePath,
                                  const std::filesystem::path& outputFolder,
                                  const ConversionSettings& settings = {}, const DatabaseRegion& region = {});

// Whether a conversion is under way in this process.
bool ConversionRunning() noexcept;

}  // namespace idb
