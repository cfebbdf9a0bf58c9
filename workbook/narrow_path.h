// A folder's name as the C runtime's narrow file functions take it, for the
// temporary files libxlsxwriter opens by such a name.
#pragma once

#include <filesystem>
#include <string>

namespace workbook {

// UTF-8 where the system takes it; on Windows the name in the system's code
// page, or its short form when the code page cannot spell it; empty when
// neither works (the caller then lets the library choose).
std::string NarrowFolderName(const std::filesystem::path& folder);

}  // namespace workbook
