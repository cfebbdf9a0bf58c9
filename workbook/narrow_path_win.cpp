#include "workbook/narrow_path.h"

#include <windows.h>

namespace workbook {

namespace {

// The name in the ANSI code page, or empty when a character has no place in it.
std::string InCodePage(const std::wstring& name) {
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (n <= 1 || lossy) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, out.data(), n, nullptr, &lossy);
    out.resize(static_cast<std::size_t>(n - 1));
    return lossy ? std::string() : out;
}

}  // namespace

std::string NarrowFolderName(const std::filesystem::path& folder) {
    std::wstring wide = folder.wstring();
    if (std::string name = InCodePage(wide); !name.empty()) return name;
    // Short names are ASCII, where the volume keeps them.
    DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return {};
    std::wstring shortName(n, L'\0');
    n = GetShortPathNameW(wide.c_str(), shortName.data(), n);
    if (n == 0) return {};
    shortName.resize(n);
    return InCodePage(shortName);
}

}  // namespace workbook
