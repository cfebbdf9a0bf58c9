#include "gamedb/error.h"

#include <cstdio>

namespace gamedb {

std::string FormatOffset(std::uint64_t offset) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%llX (%llu)", static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(offset));
    return text;
}

namespace {

// The text as it can be shown: bytes that are not UTF-8 as \xHH, so that a
// message never carries what a terminal cannot show.
std::string Printable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        for (std::size_t k = 1; len && k < len; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) len = 0;
        if (len == 3 && ((c == 0xE0 && static_cast<unsigned char>(text[i + 1]) < 0xA0) ||
                         (c == 0xED && static_cast<unsigned char>(text[i + 1]) >= 0xA0)))
            len = 0;
        if (len == 4 && ((c == 0xF0 && static_cast<unsigned char>(text[i + 1]) < 0x90) ||
                         (c == 0xF4 && static_cast<unsigned char>(text[i + 1]) >= 0x90)))
            len = 0;
        if (len == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

}  // namespace

std::string FormatError(const Place& place, const std::string& problem) {
    std::string message;
    const auto part = [&message](const std::string& text) {
        if (text.empty()) return;
        if (!message.empty()) message += ", ";
        message += text;
    };
    part(place.file);
    if (!place.block.empty()) part("block " + place.block);
    if (place.record >= 0) part("record " + std::to_string(place.record));
    if (!place.field.empty()) part("field " + place.field);
    if (place.row >= 0) part("row " + std::to_string(place.row));
    if (!place.column.empty()) part("column " + place.column);
    if (place.offset >= 0) part("at offset " + FormatOffset(static_cast<std::uint64_t>(place.offset)));
    if (!message.empty()) message += ": ";
    message += problem;
    if (place.hasCell) {
        message += ": \"";
        // Long cells would drown the message.
        constexpr std::size_t kShown = 200;
        message += place.cell.size() > kShown ? Printable(place.cell.substr(0, kShown)) + "..." : Printable(place.cell);
        message += "\"";
    }
    if (!place.expected.empty()) message += ", expected " + place.expected;
    return message;
}

Error::Error(Place place, const std::string& problem)
    : std::runtime_error(FormatError(place, problem)), place_(std::move(place)), problem_(problem) {}

}  // namespace gamedb
