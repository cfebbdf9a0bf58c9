#include "gamedb/error.h"

#include <cstdio>

namespace gamedb {

std::string FormatOffset(std::uint64_t offset) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%llX (%llu)", static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(offset));
    return text;
}

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
        message += place.cell.size() > kShown ? place.cell.substr(0, kShown) + "..." : place.cell;
        message += "\"";
    }
    if (!place.expected.empty()) message += ", expected " + place.expected;
    return message;
}

Error::Error(Place place, const std::string& problem)
    : std::runtime_error(FormatError(place, problem)), place_(std::move(place)), problem_(problem) {}

}  // namespace gamedb
