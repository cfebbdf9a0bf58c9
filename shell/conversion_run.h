// One conversion: the database read once, front to back, into six tables.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

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
// tables of the same names. Throws ConversionError on the first failure: the
// table being written keeps what was written, earlier tables stay. A second
// call while one is running (from inside the yield hook) is refused.
ConversionSummary ConvertDatabase(const std::filesystem::path& databasePath,
                                  const std::filesystem::path& outputFolder,
                                  const ConversionSettings& settings = {}, const DatabaseRegion& region = {});

// Whether a conversion is under way in this process.
bool ConversionRunning() noexcept;

}  // namespace idb
