#include "workbook/workbook_syntax.h"

#include <charconv>
#include <optional>

#include "workbook/workbook.h"

namespace workbook {

namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<std::uint32_t> EscapeAt(std::string_view text, std::size_t i) {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') return std::nullopt;
    std::uint32_t unit = 0;
    auto [end, ec] = std::from_chars(text.data() + i + 2, text.data() + i + 6, unit, 16);
    if (ec != std::errc() || end != text.data() + i + 6) return std::nullopt;
    return unit;
}

}  // namespace

std::string DecodeEscapes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::optional<std::uint32_t> unit = EscapeAt(text, i);
        if (!unit) {
            out += text[i++];
            continue;
        }
        i += 7;
        std::uint32_t c = *unit;
        if (c >= 0xD800 && c < 0xDC00) {
            std::optional<std::uint32_t> low = EscapeAt(text, i);
            if (low && *low >= 0xDC00 && *low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (*low - 0xDC00);
                i += 7;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xDC00 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string EscapeLookalikes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size() + 7);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (EscapeAt(text, i)) out += "_x005F";
        out += text[i];
    }
    return out;
}

std::string CellName(std::uint32_t column, std::uint32_t row) {
    std::string letters;
    for (std::uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(static_cast<std::uint64_t>(row) + 1);
}

bool ParseCellName(std::string_view name, std::uint32_t& column, std::uint32_t& row) {
    std::size_t i = 0;
    std::uint64_t c = 0;
    for (; i < name.size() && FoldAscii(name[i]) >= 'A' && FoldAscii(name[i]) <= 'Z' && i < 3; ++i)
        c = c * 26 + static_cast<std::uint64_t>(FoldAscii(name[i]) - 'A' + 1);
    if (i == 0 || i == name.size() || name[i] == '0') return false;
    std::uint64_t r = 0;
    for (; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || r > 100000000) return false;
        r = r * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    column = static_cast<std::uint32_t>(c - 1);
    row = static_cast<std::uint32_t>(r - 1);
    return true;
}

std::string SheetNameProblem(std::string_view name) {
    if (name.empty()) return "is empty";
    std::size_t characters = 0;
    for (char c : name) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
        if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos)
            return std::string("holds '") + c + "', which sheet names cannot";
    }
    if (characters > 31) return "is longer than the 31 characters a sheet name may have";
    if (name.front() == '\'' || name.back() == '\'') return "starts or ends with an apostrophe";
    return {};
}

bool SameSheetName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

}  // namespace workbook
