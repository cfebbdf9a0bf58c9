#include "shell/conversion_run.h"

#include <cstdio>
#include <system_error>

#include "export/file_io.h"

#include "export/armors.h"
#include "export/conversion_error.h"
#include "export/idb_reader.h"
#include "export/loot_items.h"
#include "export/quest_items.h"
#include "export/quick_items.h"
#include "export/table_writer.h"
#include "export/weapons.h"

namespace idb {

namespace {

bool running = false;

// Marks the run for its whole extent, exceptions included.
class RunningGuard {
public:
    RunningGuard() {
        if (running) throw ConversionError(FailureKind::Busy, {}, "a conversion is already running");
        running = true;
    }
    RunningGuard(const RunningGuard&) = delete;
    RunningGuard& operator=(const RunningGuard&) = delete;
    ~RunningGuard() { running = false; }
};

void RunExporter(int category, IdbReader& in, TableWriter& out, const ConversionSettings& settings) {
    switch (category) {
        case 0: ExportMaterials(in, out, settings.yield); break;
        case 1: ExportWeapons(in, out); break;
        case 2: ExportArmors(in, out); break;
        case 3: ExportQuickItems(in, out); break;
        case 4: ExportQuestItems(in, out); break;
        case 5: ExportLootItems(in, out); break;
    }
}

// A folder cannot be a database. Said before opening: fopen accepts a folder
// on POSIX systems and only the first read fails, without a reason worth showing.
void RefuseFolder(const std::filesystem::path& databasePath) {
    std::error_code error;
    if (std::filesystem::is_directory(databasePath, error)) {
        const std::error_code reason = std::make_error_code(std::errc::is_a_directory);
        throw ConversionError(FailureKind::OpenDatabase, databasePath,
                              "cannot open " + QuotePath(databasePath) + ": " + reason.message(), reason);
    }
}

// The first byte, read on the run's own stream: a pipe can be read only once.
void CheckFirstByte(IdbReader& in, const std::string& shown) {
    std::uint8_t first = 0;
    try {
        first = in.ReadByte();
    } catch (const IdbFormatError& error) {
        if (error.What() != Damage::EndOfData) throw;
        throw NotDatabaseError(in.Path(), shown.empty() ? "the file is empty" : "the member is empty", shown);
    }
    if (first != 1) throw NotDatabaseError(in.Path(), "its first byte is " + Hex(first) + ", not 0x1", shown);
}

void RefuseTablesThatAreTheDatabase(const std::filesystem::path& databasePath,
                                    const std::filesystem::path& outputFolder) {
    for (const CategoryInfo& info : Categories()) {
        const std::filesystem::path table =
            outputFolder / std::filesystem::path(std::u8string(info.tableName.begin(), info.tableName.end()));
        if (SameFile(table, databasePath)) throw TableIsDatabaseError(table, databasePath);
    }
}

void CreateOutputFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw ConversionError(FailureKind::CreateFolder, folder,
                              "cannot create folder " + QuotePath(folder) + ": " + error.message(), error);
    }
}

}  // namespace


const std::array<CategoryInfo, kCategoryCount>& Categories() {
    static const std::array<CategoryInfo, kCategoryCount> categories = {{
        {"materials", "Materials.txt"},
        {"weapons", "Weapons.txt"},
        {"armors", "Armors.txt"},
        {"quick items", "QuickItems.txt"},
        {"quest items", "QuestItems.txt"},
        {"loot items", "LootItems.txt"},
    }};
    return categories;
}

const std::array<std::string, kCategoryCount>& ExportHeaders() {
    static const std::array<std::string, kCategoryCount> headers = {
        MaterialsHeader(), WeaponsHeader(),    ArmorsHeader(),
        QuickItemsHeader(), QuestItemsHeader(), LootItemsHeader(),
    };
    return headers;
}

bool ConversionRunning() noexcept { return running; }

ConversionSummary ConvertDatabase(const std::filesystem::path& databasePath,
                                  const std::filesystem::path& outputFolder,
                                  const ConversionSettings& settings, const DatabaseRegion& region) {
    RunningGuard guard;
    ConversionSummary summary;
    RefuseFolder(databasePath);
    IdbReader in;
    in.Open(databasePath, region.offset, region.length);
    // Everything that can refuse the run comes before the first table.
    CheckFirstByte(in, region.label);
    RefuseTablesThatAreTheDatabase(databasePath, outputFolder);
    if (settings.createOutputFolder) CreateOutputFolder(outputFolder);
    for (int category = 0; category < kCategoryCount; ++category) {
        const CategoryInfo& info = Categories()[static_cast<std::size_t>(category)];
        TableWriter out(settings.decimalSeparator);
        try {
            // The materials table is created before the file header is read;
            // every later table after its category header.
            if (category == 0) {
                out.Create(outputFolder, info.tableName);
                out.WriteHeader(ExportHeaders()[0]);
                // The rest of the file header: its first byte was the signature.
                in.ReadLong();
                in.ReadCategoryHeader();
            } else {
                in.ReadCategoryHeader();
                out.Create(outputFolder, info.tableName);
                out.WriteHeader(ExportHeaders()[static_cast<std::size_t>(category)]);
            }
            RunExporter(category, in, out, settings);
            out.Close();
        } catch (const IdbFormatError& error) {
            std::string where = (region.label.empty() ? QuotePath(databasePath) : region.label) + ": " +
                                std::string(info.name) + " category";
            if (in.RecordNumber() > 0) where += ", record " + std::to_string(in.RecordNumber());
            throw IdbFormatError(error.What(), databasePath, error.Offset(), where + ": " + error.what(), category,
                                 in.RecordNumber());
        }
        summary.rows[static_cast<std::size_t>(category)] = out.Rows();
    }
    in.Close();
    return summary;
}

}  // namespace idb
