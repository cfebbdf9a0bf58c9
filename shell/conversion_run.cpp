#include "shell/conversion_run.h"

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
    IdbReader in;
    in.Open(databasePath, region.offset, region.length);
    for (int category = 0; category < kCategoryCount; ++category) {
        const CategoryInfo& info = Categories()[static_cast<std::size_t>(category)];
        TableWriter out(settings.decimalSeparator);
        try {
            // The materials table is created before the file header is read;
            // every later table after its category header.
            if (category == 0) {
                out.Create(outputFolder, info.tableName);
                out.WriteHeader(ExportHeaders()[0]);
                in.ReadFileHeader();
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
