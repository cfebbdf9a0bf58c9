#include "workbook/narrow_path.h"

namespace workbook {

std::string NarrowFolderName(const std::filesystem::path& folder) { return folder.string(); }

}  // namespace workbook
