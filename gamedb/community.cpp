#include "gamedb/community.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>

#include "archive/cp1251.h"
#include "gamedb/byte_io.h"
#include "gamedb/change_report.h"
#include "gamedb/diff.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"
#include "gamedb/value_diff.h"
#include "workbook/workbook.h"

namespace gamedb {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using workbook::Cell;

// Rows and columns from 0: row 1 and column A hold nothing, row 2 the
// titles, row 3 the codes, the records from row 4 on.
constexpr std::uint32_t kCodeRow = 2;
constexpr std::uint32_t kFirstColumn = 1;  // column B
constexpr std::uint32_t kNewNan = 0xFFFFFFFFu;  // the one NaN the game's files hold
constexpr std::size_t kListed = 10;

std::uint32_t Le32(ByteSpan b) {
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}
void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
bool IsNan(std::uint32_t bits) { return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0; }

// ---- the layout against the schema -------------------------------------------

// One value a column holds: a whole field, an array element, a shop flag or
// a field of a nested record.
struct Slot {
    std::string code;
    const FieldSpec* field = nullptr;
    FieldSpec leaf{};        // the value's own layout (an element as a Float32 or Byte)
    int element = 0;         // array element, shop bit or nested tag
};

bool ParseCode(std::string_view code, int& tag, int& element) {
    if (!code.starts_with("FLD")) return false;
    code.remove_prefix(3);
    const std::size_t dash = code.find('-');
    if (dash == std::string_view::npos) return false;
    const auto a = std::from_chars(code.data(), code.data() + dash, tag);
    const auto b = std::from_chars(code.data() + dash + 1, code.data() + code.size(), element);
    return a.ec == std::errc() && a.ptr == code.data() + dash && b.ec == std::errc() &&
           b.ptr == code.data() + code.size() && tag >= 0 && tag < 256 && element >= 0 && element < 256;
}

// The slot of a code within a block, or nullopt when the block has no such value.
std::optional<Slot> ResolveCode(const BlockSpec& block, std::string_view code) {
    int tag = 0, element = 0;
    if (!ParseCode(code, tag, element)) return std::nullopt;
    const FieldSpec* field = FindField(block.record, static_cast<std::uint8_t>(tag));
    if (field == nullptr) return std::nullopt;
    Slot slot{std::string(code), field, *field, element};
    switch (field->type) {
    case ValueType::Float32Array:
    case ValueType::ByteArray:
        if (element >= field->count) return std::nullopt;
        slot.leaf = {field->tag, field->type == ValueType::Float32Array ? ValueType::Float32 : ValueType::Byte,
                     field->name};
        return slot;
    case ValueType::Bits5:
        // A shop flag is a byte 0 or 1 of its own.
        if (element >= 5) return std::nullopt;
        slot.leaf = {field->tag, ValueType::Byte, field->name};
        return slot;
    case ValueType::Nested: {
        const FieldSpec* sub = FindField(*field->record, static_cast<std::uint8_t>(element));
        if (sub == nullptr) return std::nullopt;
        slot.leaf = *sub;
        return slot;
    }
    default: return element == 0 ? std::optional(slot) : std::nullopt;
    }
}

// The name of a slot's value in reports: `absorption[2]`, `head.weight`, `shops[1]`.
std::string SlotName(const Slot& slot) {
    std::string name(slot.field->name);
    if (slot.field->type == ValueType::Nested) return name + "." + std::string(slot.leaf.name);
    if (IsSplit(*slot.field) || slot.field->type == ValueType::Bits5) return name + "[" + std::to_string(slot.element) + "]";
    return name;
}

// ---- how the layout shows a value ---------------------------------------------

// Numbers are spelled by std::to_chars, exactly as glibc's printf rounds
// them, on every system (the Windows C runtime's printf would not).
std::string Chars(double value, std::chars_format format, int precision) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
    std::string out(text, result.ptr);
    for (char& c : out) c = c == 'e' ? 'E' : c;
    return out;
}
std::string Fixed(double value) { return Chars(value, std::chars_format::fixed, 6); }
// `%.6g`: the value rounded to six significant digits.
double SixDigits(float value) {
    const std::string text = Chars(value, std::chars_format::general, 6);
    double out = 0;
    std::from_chars(text.data(), text.data() + text.size(), out);
    return out;
}

// A float as the layout writes it: `%f` of the value rounded to six
// significant digits, `%E` for a subnormal, `nan`, and (never seen in the
// community's files) `inf` and `-inf` as texts too.
Cell ShowFloat(std::uint32_t bits) {
    const float f = std::bit_cast<float>(bits);
    if (std::isnan(f)) return Cell::Text("nan");
    if (std::isinf(f)) return Cell::Text(f > 0 ? "inf" : "-inf");
    const double rounded = SixDigits(f);
    const bool subnormal = (bits & 0x7F800000u) == 0 && (bits & 0x007FFFFFu) != 0;
    std::string text = subnormal ? Chars(rounded, std::chars_format::scientific, 6) : Fixed(rounded == 0 ? 0.0 : rounded);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    Cell cell = Cell::Number(value);
    cell.text = std::move(text);
    return cell;
}

Cell ShowInteger(double value) {
    Cell cell = Cell::Number(value);
    cell.text = Fixed(value);
    return cell;
}

Cell ShowText(std::string_view cp1251) {
    const std::size_t end = cp1251.find('\0');
    if (end != std::string_view::npos) cp1251 = cp1251.substr(0, end);
    return cp1251.empty() ? Cell{} : Cell::Text(resarc::Cp1251ToUtf8(cp1251));
}

std::string_view AsChars(ByteSpan bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

bool Fits(const FieldSpec& leaf, ByteSpan payload) {
    const int length = FixedLength(leaf);
    return length < 0 || static_cast<std::size_t>(length) == payload.size();
}

std::vector<NodeView> Items(ByteSpan payload) {
    std::vector<NodeView> items;
    NodeCursor cursor(payload);
    for (NodeView node; cursor.Next(node);) items.push_back(node);
    return items;
}

// An ack: `{1=sound##2=30##3=subtitle##4=code}`, fields as stored.
std::string ShowAck(const RecordSpec& record, ByteSpan payload) {
    std::string text = "{";
    bool first = true;
    for (const NodeView& node : Items(payload)) {
        if (!first) text += "##";
        first = false;
        text += std::to_string(node.header.tag) + "=";
        const FieldSpec* f = FindField(record, node.header.tag);
        if (f != nullptr && (f->type == ValueType::Int32 || f->type == ValueType::UInt32) && node.payload.size() == 4) {
            const std::uint32_t v = Le32(node.payload);
            text += f->type == ValueType::Int32 ? std::to_string(static_cast<std::int32_t>(v)) : std::to_string(v);
        } else {
            const Cell shown = ShowText(AsChars(node.payload));
            text += shown.text;
        }
    }
    return text + "}";
}

std::string ShowItem(const FieldSpec& list, ByteSpan item) {
    if (list.type == ValueType::RecordList) return ShowAck(*list.record, item);
    std::string text = ShowText(AsChars(item)).text;
    // The layout joins items with ',', so an item's own ',' becomes ';'.
    if (list.type == ValueType::TextList) std::replace(text.begin(), text.end(), ',', ';');
    return text;
}

const char* Separator(const FieldSpec& list) { return list.type == ValueType::RecordList ? "" : ","; }

// The cell of one value; `payload` is the leaf's bytes, nullopt where the
// record has none that fit (shown as the type's empty value).
Cell ShowLeaf(const Slot& slot, std::optional<ByteSpan> payload) {
    const FieldSpec& leaf = slot.leaf;
    if (payload && !Fits(leaf, *payload)) payload.reset();
    switch (leaf.type) {
    case ValueType::Int32: return ShowInteger(payload ? static_cast<std::int32_t>(Le32(*payload)) : 0);
    case ValueType::UInt32: return ShowInteger(payload ? Le32(*payload) : 0);
    case ValueType::Float32: return payload ? ShowFloat(Le32(*payload)) : ShowFloat(0);
    case ValueType::Byte: return ShowInteger(payload ? (*payload)[0] : 0);
    case ValueType::Text:
    case ValueType::Code4: return payload ? ShowText(AsChars(*payload)) : Cell{};
    case ValueType::Raw: {
        if (!payload) return Cell::Text(std::string(2u * leaf.count, '0'));
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (const std::uint8_t b : *payload) {
            hex += kDigits[b >> 4];
            hex += kDigits[b & 15];
        }
        return Cell::Text(std::move(hex));
    }
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::RecordList: {
        if (!payload) return Cell{};
        std::string text;
        bool first = true;
        for (const NodeView& item : Items(*payload)) {
            if (!first) text += Separator(leaf);
            first = false;
            text += ShowItem(leaf, item.payload);
        }
        // One empty item shows as no cell, as an empty list does.
        return text.empty() ? Cell{} : Cell::Text(std::move(text));
    }
    default: return Cell{};
    }
}

// The bytes of one slot's value within a field's payload; nullopt when the
// field is absent or does not have the value's shape.
std::optional<ByteSpan> LeafOf(const Slot& slot, std::optional<ByteSpan> field) {
    static constexpr std::uint8_t kFlags[2] = {0, 1};
    if (!field) return std::nullopt;
    switch (slot.field->type) {
    case ValueType::Bits5:
        if (field->size() != 4) return std::nullopt;
        return ByteSpan(&kFlags[(Le32(*field) >> slot.element) & 1], 1);
    case ValueType::Float32Array:
    case ValueType::ByteArray: {
        if (!Fits(*slot.field, *field)) return std::nullopt;
        const std::size_t width = slot.field->type == ValueType::Float32Array ? 4 : 1;
        return field->subspan(width * static_cast<std::size_t>(slot.element), width);
    }
    case ValueType::Nested: {
        if (!IsNodeSequence(*field)) return std::nullopt;
        for (const NodeView& node : Items(*field))
            if (node.header.tag == slot.element) return node.payload;
        return std::nullopt;
    }
    default: return field;
    }
}

// ---- reading cells --------------------------------------------------------------

struct Bad {
    std::string problem;
    std::string expected;
};

std::string CellText(const Cell& cell) {
    switch (cell.kind) {
    case Cell::Kind::Empty: return {};
    case Cell::Kind::Number:
        return cell.text.empty() ? Chars(cell.number, std::chars_format::general, 17) : cell.text;
    case Cell::Kind::Boolean: return cell.number != 0 ? "1" : "0";
    default: return cell.text;
    }
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

double WholeNumber(const Cell& cell, double low, double high, const char* expected) {
    if (cell.kind == Cell::Kind::Empty) throw Bad{"no value", expected};
    if (cell.kind == Cell::Kind::Error) throw Bad{"an error cell", expected};
    const std::string text = CellText(cell);
    const std::string_view number = Trim(text);
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || result.ec != std::errc() || result.ptr != number.data() + number.size())
        throw Bad{cell.kind == Cell::Kind::Text ? "text in a number column" : "not a number", expected};
    if (!std::isfinite(value)) throw Bad{"not a number", expected};
    if (value != std::floor(value) || value < low || value > high) throw Bad{"out of range", expected};
    return value;
}

std::uint32_t FloatBits(const Cell& cell) {
    constexpr const char* kExpected = "a number (or nan)";
    if (cell.kind == Cell::Kind::Empty) throw Bad{"no value", kExpected};
    if (cell.kind == Cell::Kind::Error) throw Bad{"an error cell", kExpected};
    const std::string text = CellText(cell);
    std::string word(Trim(text));
    for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (word == "nan") return kNewNan;
    if (word == "inf" || word == "+inf") return 0x7F800000u;
    if (word == "-inf") return 0xFF800000u;
    // Read straight to the nearest float (no rounding through a double).
    float value = 0;
    const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || result.ptr != word.data() + word.size() ||
        (result.ec != std::errc() && result.ec != std::errc::result_out_of_range))
        throw Bad{cell.kind == Cell::Kind::Text ? "text in a number column" : "not a number", kExpected};
    if (result.ec == std::errc::result_out_of_range) {
        // Below the smallest subnormal is a zero; beyond the largest float is refused.
        double wide = 0;
        const auto again = std::from_chars(word.data(), word.data() + word.size(), wide);
        const bool tiny = again.ec == std::errc() ? std::fabs(wide) < 1 : word.find("e-") != std::string::npos;
        if (!tiny) throw Bad{"too large for a float", kExpected};
        value = word.front() == '-' ? -0.0f : 0.0f;
    }
    return std::bit_cast<std::uint32_t>(value);
}

std::string Cp1251(std::string_view utf8) {
    const std::optional<std::string> bytes = resarc::Utf8ToCp1251(utf8);
    if (!bytes) throw Bad{"a character Windows-1251 cannot hold", "a text in Windows-1251 characters"};
    if (bytes->find('\0') != std::string::npos) throw Bad{"a character 0", "a text without the character 0"};
    return *bytes;
}

std::string TextOf(const Cell& cell) {
    if (cell.kind == Cell::Kind::Error) throw Bad{"an error cell", "a text"};
    return CellText(cell);
}

void PutText(Bytes& out, std::string_view cp1251) {
    out.insert(out.end(), cp1251.begin(), cp1251.end());
    out.push_back(0);
}

void PutCode(Bytes& out, std::string_view cp1251) {
    if (cp1251.size() > 4) throw Bad{"a code longer than 4 bytes", "a code of at most 4 characters"};
    out.insert(out.end(), cp1251.begin(), cp1251.end());
    out.resize(out.size() + 4 - cp1251.size(), 0);
}

// `{1=...##2=...}` items, split where one ends and the next begins.
std::vector<std::string_view> SplitAcks(std::string_view text) {
    constexpr const char* kExpected = "speech items {1=SOUND##2=N##3=TEXT##4=CODE}";
    if (text.empty()) return {};
    if (text.front() != '{' || text.back() != '}') throw Bad{"not a list of speech items", kExpected};
    std::vector<std::string_view> items;
    std::size_t begin = 1;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '}' || text[i + 1] != '{') continue;
        std::size_t j = i + 2;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == i + 2 || j >= text.size() || text[j] != '=') continue;
        items.push_back(text.substr(begin, i - begin));
        begin = i + 2;
    }
    items.push_back(text.substr(begin, text.size() - 1 - begin));
    return items;
}

// One ack's fields: exactly the record's, in its order.
Bytes ParseAck(const RecordSpec& record, std::string_view item) {
    std::string expected = "speech items {";
    for (std::size_t i = 0; i < record.fields.size(); ++i)
        expected += (i ? "##" : "") + std::to_string(record.fields[i].tag) + "=...";
    expected += "}";
    Bytes out;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        const FieldSpec& f = record.fields[i];
        const std::string head = std::to_string(f.tag) + "=";
        if (item.substr(pos, head.size()) != head) throw Bad{"a speech item that is not in the layout", expected};
        pos += head.size();
        std::size_t end = item.size();
        if (i + 1 < record.fields.size()) {
            end = item.find("##" + std::to_string(record.fields[i + 1].tag) + "=", pos);
            if (end == std::string_view::npos) throw Bad{"a speech item that is not in the layout", expected};
        }
        const std::string_view value = item.substr(pos, end - pos);
        pos = end + (i + 1 < record.fields.size() ? 2 : 0);
        const std::size_t start = BeginNode(out, f.tag);
        if (f.type == ValueType::Int32 || f.type == ValueType::UInt32) {
            const bool sign = f.type == ValueType::Int32;
            const double v = WholeNumber(Cell::Text(std::string(value)), sign ? -2147483648.0 : 0,
                                         sign ? 2147483647.0 : 4294967295.0, "a whole number in a speech item");
            PutLe32(out, sign ? static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) : static_cast<std::uint32_t>(v));
        } else {
            PutText(out, Cp1251(value));
        }
        FinishNode(out, start);
    }
    return out;
}

// The payload a cell gives one value (a whole list for the list types).
Bytes ParseLeaf(const Slot& slot, const Cell& cell) {
    const FieldSpec& leaf = slot.leaf;
    Bytes out;
    switch (leaf.type) {
    case ValueType::Int32:
        PutLe32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(
                         WholeNumber(cell, -2147483648.0, 2147483647.0, "a whole number from -2147483648 to 2147483647"))));
        break;
    case ValueType::UInt32:
        PutLe32(out, static_cast<std::uint32_t>(WholeNumber(cell, 0, 4294967295.0, "a whole number from 0 to 4294967295")));
        break;
    case ValueType::Byte:
        out.push_back(static_cast<std::uint8_t>(slot.field->type == ValueType::Bits5
                                                    ? WholeNumber(cell, 0, 1, "a shop flag, 0 or 1")
                                                    : WholeNumber(cell, 0, 255, "a whole number from 0 to 255")));
        break;
    case ValueType::Float32: PutLe32(out, FloatBits(cell)); break;
    case ValueType::Text: PutText(out, Cp1251(TextOf(cell))); break;
    case ValueType::Code4: PutCode(out, Cp1251(TextOf(cell))); break;
    case ValueType::Raw: {
        const std::string text = TextOf(cell);
        const std::string expected = std::to_string(2u * leaf.count) + " hex digits";
        if (text.size() != 2u * leaf.count) throw Bad{"not " + expected, expected};
        for (std::size_t i = 0; i < text.size(); i += 2) {
            unsigned byte = 0;
            const auto r = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
            if (r.ec != std::errc() || r.ptr != text.data() + i + 2) throw Bad{"not " + expected, expected};
            out.push_back(static_cast<std::uint8_t>(byte));
        }
        break;
    }
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::RecordList: {
        const std::string text = TextOf(cell);
        if (text.empty()) break;
        std::vector<std::string_view> items;
        if (leaf.type == ValueType::RecordList) {
            items = SplitAcks(text);
        } else {
            for (std::size_t begin = 0;;) {
                const std::size_t comma = text.find(',', begin);
                items.push_back(std::string_view(text).substr(begin, comma - begin));
                if (comma == std::string::npos) break;
                begin = comma + 1;
            }
        }
        for (const std::string_view item : items) {
            const std::size_t start = BeginNode(out, 1);
            if (leaf.type == ValueType::RecordList) {
                const Bytes ack = ParseAck(*leaf.record, item);
                out.insert(out.end(), ack.begin(), ack.end());
            } else if (leaf.type == ValueType::Code4List) {
                PutCode(out, Cp1251(item));
            } else {
                PutText(out, Cp1251(item));
            }
            FinishNode(out, start);
        }
        break;
    }
    default: break;
    }
    return out;
}

// Whether a value read from a cell is the base's at the layout's precision.
bool SameShown(const FieldSpec& leaf, ByteSpan base, ByteSpan now) {
    if (std::ranges::equal(base, now)) return true;
    if (leaf.type != ValueType::Float32 || base.size() != 4 || now.size() != 4) return false;
    const std::uint32_t b = Le32(base), n = Le32(now);
    if (IsNan(b) && IsNan(n)) return true;
    if (IsNan(b) || IsNan(n)) return false;
    const float value = std::bit_cast<float>(n);
    const Cell shown = ShowFloat(b);
    float asShown = 0;
    std::from_chars(shown.text.data(), shown.text.data() + shown.text.size(), asShown);
    const std::string six = Chars(std::bit_cast<float>(b), std::chars_format::general, 6);
    float sixDigits = 0;
    std::from_chars(six.data(), six.data() + six.size(), sixDigits);
    return value == asShown || value == sixDigits;
}

// ---- a sheet read -------------------------------------------------------------

struct SheetData {
    const CommunitySheet* layout = nullptr;
    const BlockSpec* block = nullptr;
    std::string name;                                 // as the workbook spells it
    std::vector<Slot> slots;                          // unique, in the layout's order
    std::vector<std::vector<std::uint32_t>> columns;  // the workbook's columns of each slot
    struct Row {
        std::uint32_t index = 0;                      // from 0
        std::vector<Cell> cells;
    };
    std::vector<Row> rows;
};

std::string ColumnLetters(std::uint32_t column) {
    std::string name = workbook::CellName(column, 0);
    name.pop_back();
    return name;
}

Place SheetPlace(const std::string& label, const std::string& sheet) {
    Place place;
    place.file = label + ", sheet \"" + sheet + "\"";
    return place;
}

SheetData ReadSheet(workbook::WorkbookReader& book, const std::string& label, const CommunitySheet& layout,
                    const KindSpec& kind) {
    SheetData data;
    data.layout = &layout;
    data.block = FindBlock(kind, layout.block);
    const workbook::SheetInfo* info = book.FindSheet(layout.name);
    if (info == nullptr) {
        Place place;
        place.file = label;
        throw Error(place, "the sheet \"" + std::string(layout.name) + "\" is missing (the " + std::string(kind.name) +
                               " database's block " + std::string(data.block->name) + ")");
    }
    data.name = info->name;
    std::vector<workbook::Row> rows = book.ReadSheet(*info);
    const workbook::Row* codes = nullptr;
    for (const workbook::Row& row : rows)
        if (row.index == kCodeRow) codes = &row;
    std::map<std::string, std::vector<std::uint32_t>> byCode;
    if (codes != nullptr)
        for (std::uint32_t c = 0; c < codes->cells.size(); ++c)
            if (codes->cells[c].kind != Cell::Kind::Empty) byCode[CellText(codes->cells[c])].push_back(c);
    for (const CommunityColumn& column : layout.columns) {
        const std::string code(column.code);
        if (std::any_of(data.slots.begin(), data.slots.end(), [&](const Slot& s) { return s.code == code; })) continue;
        const auto it = byCode.find(code);
        if (it == byCode.end()) {
            Place place = SheetPlace(label, data.name);
            place.row = kCodeRow + 1;
            throw Error(place, "no column has the code " + code + " (\"" + std::string(column.title) + "\")");
        }
        data.slots.push_back(*ResolveCode(*data.block, code));
        data.columns.push_back(it->second);
        byCode.erase(it);
    }
    // A column whose code the layout lacks would be dropped without a word.
    for (const auto& [code, where] : byCode) {
        Place place = SheetPlace(label, data.name);
        place.row = kCodeRow + 1;
        place.column = ColumnLetters(where.front());
        place.hasCell = true;
        place.cell = code;
        throw Error(place, "a column code the layout does not have");
    }
    // Every row after the codes is a record; a row missing in between is one
    // whose cells are all empty.
    std::uint32_t next = kCodeRow + 1;
    for (workbook::Row& row : rows) {
        if (row.index <= kCodeRow) continue;
        for (; next < row.index; ++next) data.rows.push_back({next, {}});
        data.rows.push_back({row.index, std::move(row.cells)});
        next = row.index + 1;
    }
    // Trailing rows without a value (a spreadsheet's formatted blanks) are no records.
    while (!data.rows.empty() && std::all_of(data.rows.back().cells.begin(), data.rows.back().cells.end(),
                                             [](const Cell& c) { return c.kind == Cell::Kind::Empty; }))
        data.rows.pop_back();
    return data;
}

// ---- the base database ----------------------------------------------------------

struct BaseBlock {
    NodeView node;
    std::vector<NodeView> records;
};

struct BaseDatabase {
    NodeHeader file;
    std::vector<BaseBlock> blocks;
    ByteSpan trailer;
};

BaseDatabase ReadBase(ByteSpan bytes, const std::string& label, const KindSpec& kind) {
    BaseDatabase base;
    const auto fail = [&](const std::string& where, const std::string& problem) {
        Place place;
        place.file = label;
        place.block = where;
        throw Error(place, "not a " + std::string(kind.name) + " database: " + problem);
    };
    NodeCursor top(bytes);
    NodeView file;
    if (!top.Next(file)) fail({}, top.Failure().empty() ? "empty" : top.Failure());
    base.file = file.header;
    base.trailer = bytes.subspan(top.Position());
    NodeCursor blocks(file.payload);
    for (NodeView block; blocks.Next(block);) {
        BaseBlock b{block, {}};
        NodeCursor records(block.payload);
        for (NodeView record; records.Next(record);) {
            if (!IsNodeSequence(record.payload))
                fail(std::to_string(block.header.tag), "record " + std::to_string(b.records.size() + 1) + ": its fields do not frame");
            b.records.push_back(record);
        }
        if (!records.Failure().empty()) fail(std::to_string(block.header.tag), records.Failure());
        base.blocks.push_back(std::move(b));
    }
    if (!blocks.Failure().empty()) fail({}, blocks.Failure());
    return base;
}

// A node as the base had it: its size form kept where the writer's rule
// would not give it.
void AppendLike(Bytes& out, const NodeHeader& was, std::uint8_t tag, ByteSpan payload) {
    AppendNode(out, tag, payload, was.longForm && !was.Canonical());
}

void AppendStored(Bytes& out, const NodeView& node) { AppendNode(out, node.header.tag, node.payload, node.header.longForm); }

// ---- one record -------------------------------------------------------------

struct Report {
    std::vector<ReportedValue> kept;
    std::size_t keptCount = 0;
    std::vector<std::string> notes;
};

class RowMerger {
public:
    RowMerger(const SheetData& sheet, const SheetData::Row& row, const std::string& label, const std::string& where,
              Report& report)
        : sheet_(sheet), row_(row), label_(label), where_(where), report_(report) {}

    // The record's payload: the base's fields merged with the row's values.
    Bytes Merge(ByteSpan base) { return MergeFields(sheet_.block->record, base, -1); }

    // A record the base does not have, by the game's rules.
    Bytes Fresh() { return FreshFields(sheet_.block->record, -1); }

private:
    std::size_t SlotIndex(std::uint8_t tag, int element) const {
        for (std::size_t i = 0; i < sheet_.slots.size(); ++i)
            if (sheet_.slots[i].field->tag == tag && sheet_.slots[i].element == element) return i;
        return SIZE_MAX;
    }

    const Cell& CellAt(std::uint32_t column) const {
        static const Cell kEmpty;
        return column < row_.cells.size() ? row_.cells[column] : kEmpty;
    }

    [[noreturn]] void Fail(std::uint32_t column, const Slot& slot, const Cell& cell, const Bad& bad) const {
        Place place = SheetPlace(label_, sheet_.name);
        place.row = row_.index + 1;
        place.column = ColumnLetters(column) + " (" + slot.code + ")";
        if (cell.kind != Cell::Kind::Empty) {
            place.hasCell = true;
            place.cell = CellText(cell);
        }
        place.expected = bad.expected;
        throw Error(place, bad.problem);
    }

    // The cell of a slot; of two columns with one code that disagree, the
    // one that differs from the base.
    std::uint32_t PickColumn(std::size_t index, const Cell& shown) {
        const std::vector<std::uint32_t>& columns = sheet_.columns[index];
        std::uint32_t chosen = columns.front();
        const std::string first = CellText(CellAt(chosen));
        bool agree = true;
        for (const std::uint32_t c : columns) agree = agree && CellText(CellAt(c)) == first;
        if (agree) return chosen;
        std::vector<std::uint32_t> edited;
        for (const std::uint32_t c : columns)
            if (CellText(CellAt(c)) != CellText(shown)) edited.push_back(c);
        if (edited.size() == 1) chosen = edited.front();
        std::string names;
        for (const std::uint32_t c : columns) names += (names.empty() ? "" : " and ") + ColumnLetters(c);
        report_.notes.push_back("sheet \"" + sheet_.name + "\" row " + std::to_string(row_.index + 1) + ": columns " +
                                names + " (" + sheet_.slots[index].code + ") disagree; " + ColumnLetters(chosen) + " was taken (" +
                                (edited.size() == 1 ? "it differs from the database" : "the first") + ")");
        return chosen;
    }

    void NoteKept(const Slot& slot, ByteSpan base, const Cell& cell) {
        ++report_.keptCount;
        if (report_.kept.size() < kListed)
            report_.kept.push_back({where_ + SlotName(slot), ValueCell(&slot.leaf, base), CellText(cell), {}});
    }

    // One value: nullopt when the base's bytes stay (or, without them, when
    // the cell shows the empty value), else the cell's value.
    std::optional<Bytes> MergeLeaf(std::size_t index, std::optional<ByteSpan> base) {
        const Slot& slot = sheet_.slots[index];
        if (base && !Fits(slot.leaf, *base)) base.reset();
        const Cell shown = ShowLeaf(slot, base);
        const std::uint32_t column = PickColumn(index, shown);
        const Cell& cell = CellAt(column);
        const auto parse = [&](const Cell& c) {
            try {
                return ParseLeaf(slot, c);
            } catch (const Bad& bad) {
                Fail(column, slot, c, bad);
            }
        };
        const bool list = slot.leaf.type == ValueType::TextList || slot.leaf.type == ValueType::Code4List ||
                          slot.leaf.type == ValueType::RecordList;
        if (CellText(cell) == CellText(shown)) {
            if (base && list) NoteListKept(slot, *base);
            if (base && !list) {
                try {
                    if (!std::ranges::equal(ParseLeaf(slot, shown), *base)) NoteKept(slot, *base, cell);
                } catch (const Bad&) {
                    NoteKept(slot, *base, cell);
                }
            }
            return std::nullopt;
        }
        Bytes now = parse(cell);
        if (list && base) {
            Bytes merged = MergeItems(slot, *base, now);
            return std::ranges::equal(merged, *base) ? std::nullopt : std::optional(merged);
        }
        if (list) return now;
        const Bytes reference = base ? Bytes(base->begin(), base->end()) : parse(shown);
        if (SameShown(slot.leaf, reference, now)) {
            if (base && !std::ranges::equal(now, *base)) NoteKept(slot, *base, cell);
            return std::nullopt;
        }
        return now;
    }

    // A list's items: an item that shows as one of the base's keeps the
    // base's item (its own ',' included), the others are the cell's.
    Bytes MergeItems(const Slot& slot, ByteSpan base, const Bytes& parsed) {
        const std::vector<NodeView> olds = Items(base), news = Items(parsed);
        std::vector<std::string> shownOld;
        for (const NodeView& item : olds) shownOld.push_back(ShowItem(slot.leaf, item.payload));
        std::vector<bool> used(olds.size(), false);
        Bytes out;
        for (std::size_t i = 0; i < news.size(); ++i) {
            const std::string shown = ShowItem(slot.leaf, news[i].payload);
            std::optional<std::size_t> match;
            if (i < olds.size() && !used[i] && shownOld[i] == shown) match = i;
            for (std::size_t j = 0; !match && j < olds.size(); ++j)
                if (!used[j] && shownOld[j] == shown) match = j;
            if (!match) {
                AppendStored(out, news[i]);
                continue;
            }
            used[*match] = true;
            AppendStored(out, olds[*match]);
            if (!std::ranges::equal(olds[*match].payload, news[i].payload)) NoteItemKept(slot, i, olds[*match].payload, shown);
        }
        return out;
    }

    void NoteItemKept(const Slot& slot, std::size_t i, ByteSpan item, const std::string& shown) {
        ++report_.keptCount;
        const FieldSpec text{1, ValueType::Text, {}};
        if (report_.kept.size() < kListed)
            report_.kept.push_back({where_ + SlotName(slot) + "[" + std::to_string(i + 1) + "]", ValueCell(&text, item), shown, {}});
    }

    // A list shown as it is: the items whose ',' it shows as ';'.
    void NoteListKept(const Slot& slot, ByteSpan base) {
        if (slot.leaf.type != ValueType::TextList) return;
        const std::vector<NodeView> items = Items(base);
        for (std::size_t i = 0; i < items.size(); ++i)
            if (std::ranges::find(items[i].payload, ',') != items[i].payload.end())
                NoteItemKept(slot, i, items[i].payload, ShowItem(slot.leaf, items[i].payload));
    }

    // One field of the record (or, with `nestedTag`, of the nested record
    // of that tag): nullopt when the base's payload stays, else the new one.
    std::optional<Bytes> MergeField(const FieldSpec& field, std::optional<ByteSpan> base, int nestedTag) {
        const std::uint8_t tag = nestedTag >= 0 ? static_cast<std::uint8_t>(nestedTag) : field.tag;
        if (nestedTag >= 0) {
            // A field of a nested record: its slot is the nested tag.
            return MergeLeaf(SlotIndex(tag, field.tag), base);
        }
        switch (field.type) {
        case ValueType::Float32Array:
        case ValueType::ByteArray: {
            const std::size_t width = field.type == ValueType::Float32Array ? 4 : 1;
            const bool fits = base && Fits(field, *base);
            Bytes out = fits ? Bytes(base->begin(), base->end()) : Bytes(width * field.count, 0);
            bool changed = false;
            for (int e = 0; e < field.count; ++e) {
                const Slot& slot = sheet_.slots[SlotIndex(tag, e)];
                const auto leaf = fits ? LeafOf(slot, base) : std::nullopt;
                if (const auto now = MergeLeaf(SlotIndex(tag, e), leaf)) {
                    std::copy(now->begin(), now->end(), out.begin() + static_cast<std::ptrdiff_t>(width * static_cast<std::size_t>(e)));
                    changed = true;
                }
            }
            return changed ? std::optional(out) : std::nullopt;
        }
        case ValueType::Bits5: {
            // Bits 5-31 have no column: they stay.
            const bool fits = base && base->size() == 4;
            std::uint32_t word = fits ? Le32(*base) : 0;
            bool changed = false;
            for (int e = 0; e < 5; ++e) {
                if (const auto now = MergeLeaf(SlotIndex(tag, e), LeafOf(sheet_.slots[SlotIndex(tag, e)], fits ? base : std::nullopt))) {
                    word = (word & ~(1u << e)) | (std::uint32_t{(*now)[0]} << e);
                    changed = true;
                }
            }
            if (!changed) return std::nullopt;
            Bytes out;
            PutLe32(out, word);
            return out;
        }
        case ValueType::Nested: {
            if (base && IsNodeSequence(*base)) {
                Bytes merged = MergeFields(*field.record, *base, tag);
                return std::ranges::equal(merged, *base) ? std::nullopt : std::optional(merged);
            }
            bool changed = false;
            Bytes fresh = FreshFields(*field.record, tag, &changed);
            return changed ? std::optional(fresh) : std::nullopt;
        }
        default: return MergeLeaf(SlotIndex(tag, 0), base);
        }
    }

    // The base's fields in their order, each known field's first occurrence
    // merged; fields the base lacks come in where their tag belongs when the
    // row gives them a value.
    Bytes MergeFields(const RecordSpec& record, ByteSpan base, int nestedTag) {
        struct Piece {
            int tag;   // -1: unknown or repeated
            Bytes bytes;
        };
        std::vector<Piece> pieces;
        std::vector<bool> seen(record.fields.size(), false);
        for (const NodeView& node : Items(base)) {
            const FieldSpec* field = FindField(record, node.header.tag);
            const std::size_t index = field ? static_cast<std::size_t>(field - record.fields.data()) : 0;
            Bytes bytes;
            if (field == nullptr || seen[index]) {
                AppendStored(bytes, node);
                pieces.push_back({-1, std::move(bytes)});
                continue;
            }
            seen[index] = true;
            if (const auto now = MergeField(*field, node.payload, nestedTag)) AppendLike(bytes, node.header, node.header.tag, *now);
            else AppendStored(bytes, node);
            pieces.push_back({node.header.tag, std::move(bytes)});
        }
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            if (seen[i]) continue;
            const FieldSpec& field = record.fields[i];
            const auto now = MergeField(field, std::nullopt, nestedTag);
            if (!now) continue;
            Bytes bytes;
            AppendNode(bytes, field.tag, *now);
            const auto at = std::find_if(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.tag > field.tag; });
            pieces.insert(at, {field.tag, std::move(bytes)});
        }
        Bytes out;
        for (const Piece& p : pieces) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
        return out;
    }

    // Every field once in tag order: the row's values, the empty value
    // where the cell shows it.
    Bytes FreshFields(const RecordSpec& record, int nestedTag, bool* changed = nullptr) {
        Bytes out;
        for (const FieldSpec& field : record.fields) {
            std::optional<Bytes> now = MergeField(field, std::nullopt, nestedTag);
            if (now && changed) *changed = true;
            AppendNode(out, field.tag, now ? *now : EmptyValue(field));
        }
        return out;
    }

    static Bytes EmptyValue(const FieldSpec& field) {
        switch (field.type) {
        case ValueType::Text: return {0};
        case ValueType::TextList:
        case ValueType::Code4List:
        case ValueType::RecordList: return {};
        case ValueType::Nested: {
            Bytes out;
            for (const FieldSpec& sub : field.record->fields) AppendNode(out, sub.tag, EmptyValue(sub));
            return out;
        }
        default: return Bytes(static_cast<std::size_t>(std::max(FixedLength(field), 0)), 0);
        }
    }

    const SheetData& sheet_;
    const SheetData::Row& row_;
    const std::string& label_;
    std::string where_;
    Report& report_;
};

// The pairing key of a base record (as diff pairs them) and of a row.
std::string BaseKey(const BlockSpec& block, const NodeView& record) {
    if (block.keyTag < 0) return {};
    for (const NodeView& field : Items(record.payload))
        if (field.header.tag == block.keyTag) return "+" + std::string(AsChars(field.payload));
    return {};
}

// The row's key cell as text; nullopt when the block has no key.
std::optional<std::string> RowKeyText(const SheetData& sheet, const SheetData::Row& row) {
    if (sheet.block->keyTag < 0) return std::nullopt;
    for (std::size_t i = 0; i < sheet.slots.size(); ++i) {
        if (sheet.slots[i].field->tag != sheet.block->keyTag) continue;
        const std::uint32_t column = sheet.columns[i].front();
        return column < row.cells.size() ? CellText(row.cells[column]) : std::string();
    }
    return std::nullopt;
}

std::string RowKey(const SheetData& sheet, const SheetData::Row& row) {
    const std::optional<std::string> text = RowKeyText(sheet, row);
    if (!text) return {};
    return "+" + resarc::Utf8ToCp1251(*text).value_or(*text) + std::string(1, '\0');
}

// A block's records from its sheet, merged with the base block's.
Bytes BuildBlock(const SheetData& sheet, const BaseBlock* base, const std::string& label, Report& report) {
    const std::size_t n = sheet.rows.size();
    std::vector<std::optional<std::size_t>> partner(n);
    if (base != nullptr && base->records.size() == n) {
        for (std::size_t i = 0; i < n; ++i) partner[i] = i;
    } else if (base != nullptr) {
        std::vector<std::string> oldKeys, newKeys;
        for (const NodeView& record : base->records) oldKeys.push_back(BaseKey(*sheet.block, record));
        for (const SheetData::Row& row : sheet.rows) newKeys.push_back(RowKey(sheet, row));
        partner = PairByKey(oldKeys, newKeys);
    }
    Bytes out;
    for (std::size_t j = 0; j < n; ++j) {
        const std::optional<std::string> key = RowKeyText(sheet, sheet.rows[j]);
        const std::string where = std::string(sheet.block->name) + " record " + std::to_string(j + 1) +
                                  (key && !key->empty() ? " \"" + *key + "\" " : " ");
        RowMerger merger(sheet, sheet.rows[j], label, where, report);
        if (partner[j]) {
            const NodeView& record = base->records[*partner[j]];
            AppendLike(out, record.header, record.header.tag, merger.Merge(record.payload));
        } else {
            AppendNode(out, 1, merger.Fresh());
        }
    }
    return out;
}

std::string KeptLines(const Report& report) {
    if (report.keptCount == 0) return {};
    std::string out = "kept " + std::to_string(report.keptCount) +
                      " values from the database that the workbook shows only as far as its layout can "
                      "(six significant digits, -0 as 0, nan, ';' for ',' in list items):\n";
    for (const ReportedValue& v : report.kept) out += "  " + v.where + ": " + v.newCell + " kept as " + v.oldCell + "\n";
    if (report.keptCount > report.kept.size())
        out += "  ... and " + std::to_string(report.keptCount - report.kept.size()) + " more\n";
    return out;
}

}  // namespace

bool IsCommunityWorkbook(workbook::WorkbookReader& book) {
    for (const CommunitySheet& layout : CommunitySheets()) {
        const workbook::SheetInfo* info = book.FindSheet(layout.name);
        if (info == nullptr) continue;
        for (const workbook::Row& row : book.ReadSheet(*info)) {
            if (row.index != kCodeRow) continue;
            for (const Cell& cell : row.cells) {
                int tag = 0, element = 0;
                if (cell.kind != Cell::Kind::Empty) return cell.kind == Cell::Kind::Text && ParseCode(cell.text, tag, element);
            }
        }
        return false;
    }
    return false;
}

CommunityPack PackCommunity(workbook::WorkbookReader& book, const std::string& bookLabel, const KindSpec& kind,
                            std::optional<std::span<const std::uint8_t>> baseBytes, const std::string& baseLabel) {
    std::vector<SheetData> sheets;
    for (const CommunitySheet& layout : CommunitySheets())
        if (layout.kind == kind.name) sheets.push_back(ReadSheet(book, bookLabel, layout, kind));
    if (sheets.empty()) throw Error(Place{}, "the workbook layout has no sheets for a " + std::string(kind.name) + " database");

    Report report;
    CommunityPack result;
    Bytes file;
    std::vector<std::pair<std::uint8_t, Bytes>> blocks;   // for the change report
    if (!baseBytes) {
        for (const SheetData& sheet : sheets) blocks.emplace_back(sheet.block->tag, BuildBlock(sheet, nullptr, bookLabel, report));
        for (const auto& [tag, records] : blocks) AppendNode(file, tag, records);
        AppendNode(result.bytes, 1, file);
        result.bytes.insert(result.bytes.end(), kStandardTrailer.begin(), kStandardTrailer.end());
        result.changed = true;
        return result;
    }
    const BaseDatabase base = ReadBase(*baseBytes, baseLabel, kind);
    std::vector<bool> done(sheets.size(), false);
    for (const BaseBlock& block : base.blocks) {
        const auto it = std::find_if(sheets.begin(), sheets.end(), [&](const SheetData& s) { return s.block->tag == block.node.header.tag; });
        const std::size_t index = static_cast<std::size_t>(it - sheets.begin());
        // A block the layout lacks, or one that comes again, stays as it is.
        if (it == sheets.end() || done[index]) {
            AppendStored(file, block.node);
            continue;
        }
        done[index] = true;
        Bytes records = BuildBlock(*it, &block, bookLabel, report);
        AppendLike(file, block.node.header, block.node.header.tag, records);
        blocks.emplace_back(block.node.header.tag, std::move(records));
    }
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        // An empty sheet is how the layout shows a block the database lacks.
        if (done[i] || sheets[i].rows.empty()) continue;
        Bytes records = BuildBlock(sheets[i], nullptr, bookLabel, report);
        AppendNode(file, sheets[i].block->tag, records);
        blocks.emplace_back(sheets[i].block->tag, std::move(records));
        report.notes.push_back("the database had no block " + std::string(sheets[i].block->name) + "; it was added");
    }
    AppendLike(result.bytes, base.file, base.file.tag, file);
    result.bytes.insert(result.bytes.end(), base.trailer.begin(), base.trailer.end());
    result.changed = !std::ranges::equal(result.bytes, *baseBytes);
    result.kept = report.keptCount;

    if (result.changed) {
        SourceComparison comparison;
        // The report quotes the name itself.
        const bool quoted = baseLabel.size() >= 2 && baseLabel.front() == '"' && baseLabel.back() == '"';
        comparison.source = quoted ? baseLabel.substr(1, baseLabel.size() - 2) : baseLabel;
        comparison.comparison = std::make_unique<BaseComparison>(std::make_unique<MemorySource>(*baseBytes, baseLabel), kind, true);
        for (auto& [tag, records] : blocks) comparison.comparison->Block(tag, {}, records);
        comparison.comparison->Finish();
        result.report = FormatChangeReport(comparison);
    }
    result.report += KeptLines(report);
    for (const std::string& note : report.notes) result.report += "note: " + note + "\n";
    return result;
}

// ---- writing ------------------------------------------------------------------

void WriteCommunityWorkbook(const std::filesystem::path& path, std::span<const CommunitySource> sources,
                            const std::filesystem::path& tempDir) {
    std::vector<std::pair<const CommunitySource*, BaseDatabase>> read;
    for (const CommunitySource& source : sources) read.emplace_back(&source, ReadBase(source.bytes, source.label, *source.kind));
    workbook::WorkbookWriter writer(path, tempDir, workbook::WriterOptions{true});
    workbook::SheetOptions options;
    options.header = false;
    for (const CommunitySheet& layout : CommunitySheets()) {
        const KindSpec& kind = *FindKind(layout.kind);
        const BlockSpec& block = *FindBlock(kind, layout.block);
        writer.BeginSheet(layout.name, options);
        writer.AddRow({});
        std::vector<Cell> titles(kFirstColumn), codes(kFirstColumn);
        std::vector<Slot> slots;
        for (const CommunityColumn& column : layout.columns) {
            titles.push_back(Cell::Text(std::string(column.title)));
            codes.push_back(Cell::Text(std::string(column.code)));
            slots.push_back(*ResolveCode(block, column.code));
        }
        writer.AddRow(titles);
        writer.AddRow(codes);
        const auto it = std::find_if(read.begin(), read.end(), [&](const auto& r) { return r.first->kind == &kind; });
        if (it == read.end()) continue;
        const auto b = std::find_if(it->second.blocks.begin(), it->second.blocks.end(),
                                    [&](const BaseBlock& x) { return x.node.header.tag == block.tag; });
        if (b == it->second.blocks.end()) continue;
        std::vector<Cell> cells;
        for (const NodeView& record : b->records) {
            const std::vector<NodeView> fields = Items(record.payload);
            cells.assign(kFirstColumn, Cell{});
            for (const Slot& slot : slots) {
                std::optional<ByteSpan> payload;
                for (const NodeView& f : fields)
                    if (f.header.tag == slot.field->tag) {
                        payload = f.payload;
                        break;
                    }
                cells.push_back(ShowLeaf(slot, LeafOf(slot, payload)));
            }
            writer.AddRow(cells);
        }
    }
    writer.Close();
}

}  // namespace gamedb
