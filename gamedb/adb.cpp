#include "gamedb/adb.h"

#include <algorithm>
#include <cstring>

#include "gamedb/cells.h"
#include "gamedb/error.h"

namespace gamedb {
namespace {

constexpr BlockSpec kAnimBlocks[] = {{1, "clips", {"clip", {}}, -1}};
constexpr KindSpec kAnimKind{"anims", "*.adb", kAnimBlocks};

// ---- the layouts ------------------------------------------------------------

constexpr std::string_view kWeapons[] = {"sword", "axe", "dagger", "spear", "hammer", "bow", "crossbow"};
constexpr std::string_view kStates[] = {"neutral", "rest", "attack", "", "warry", "", "lie", ""};
constexpr std::string_view kActions[] = {"",     "special", "attack", "cast",  "run", "walk",
                                         "idle", "death",   "suffer", "cross"};
constexpr std::string_view kStages[] = {"unique", "start", "cycle", "end"};

constexpr std::uint8_t kCode = 20;
constexpr std::uint8_t kForms = 24;

constexpr AdbColumn Word(std::string_view name, std::uint8_t offset) { return {name, AdbCell::Number, offset}; }
constexpr AdbColumn Bits(std::string_view name, std::uint8_t offset, std::uint8_t shift, std::uint8_t width,
                         std::span<const std::string_view> names = {}, AdbCell cell = AdbCell::Enum) {
    return {name, names.empty() ? AdbCell::Number : cell, offset, shift, width, names};
}
constexpr AdbColumn Link(std::string_view name, std::uint8_t shift, std::uint8_t width,
                         std::span<const std::string_view> names = {}) {
    AdbColumn column = Bits(name, kForms, shift, width, names);
    column.link = true;
    return column;
}

// The 88-byte record; the 84-byte one is the same without probability.
constexpr AdbColumn kClip88[] = {
    {"name", AdbCell::Name, 0},
    Bits("weapons", kCode, 0, 7, kWeapons, AdbCell::Set),
    Bits("state", kCode, 15, 3, kStates),
    Bits("action", kCode, 18, 4, kActions),
    Bits("modifier", kCode, 22, 8),
    Bits("stage", kCode, 30, 2, kStages),
    Bits("shape_low", kForms, 4, 1),
    Bits("shape_high", kForms, 5, 1),
    Word("probability", 28),
    Word("last_frame", 32),
    {"move_distance", AdbCell::Float, 36},
    Word("hide_frames_1", 40), Word("hide_frames_2", 44),
    Word("step_frames_1", 48), Word("step_frames_2", 52), Word("step_frames_3", 56), Word("step_frames_4", 60),
    Word("hit_frame", 64),
    Word("sfx_frame", 68),
    Word("sfx_ids_1", 72), Word("sfx_ids_2", 76), Word("sfx_ids_3", 80), Word("sfx_ids_4", 84),
    Link("link_state", 15, 3, kStates),
    Link("link_action", 18, 4, kActions),
    Link("link_modifier", 22, 8),
    Link("link_stage", 30, 2, kStages),
};

constexpr AdbEvent kEvents88[] = {{"hide", 0, 40, 2}, {"step", 1, 48, 1}, {"hit", 2, 64, 1}, {"sfx", 3, 68, 5}};

constexpr std::uint8_t Without(std::uint8_t offset) { return offset > 28 ? static_cast<std::uint8_t>(offset - 4) : offset; }

constexpr std::array<AdbColumn, std::size(kClip88) - 1> MakeClip84() {
    std::array<AdbColumn, std::size(kClip88) - 1> out{};
    std::size_t n = 0;
    for (AdbColumn column : kClip88) {
        if (column.name == "probability") continue;
        column.offset = Without(column.offset);
        out[n++] = column;
    }
    return out;
}
constexpr auto kClip84 = MakeClip84();

constexpr std::array<AdbEvent, 4> MakeEvents84() {
    std::array<AdbEvent, 4> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = kEvents88[i];
        out[i].offset = Without(out[i].offset);
    }
    return out;
}
constexpr auto kEvents84 = MakeEvents84();

// One sample only; what follows the index is kept as four words.
constexpr AdbColumn kClip36[] = {
    {"name", AdbCell::Name, 0}, Word("unk_1", 20), Word("unk_2", 24), Word("unk_3", 28), Word("unk_4", 32),
};

constexpr AdbLayout kLayout88{88, kClip88, kCode, kForms, 32, 40, 8, kEvents88};
constexpr AdbLayout kLayout84{84, kClip84, kCode, kForms, 28, 36, 8, kEvents84};
constexpr AdbLayout kLayout36{36, kClip36, -1, -1, -1, -1, 0, {}};
constexpr const AdbLayout* kLayouts[] = {&kLayout88, &kLayout84, &kLayout36};

// ---- cells --------------------------------------------------------------------

constexpr FieldSpec kNumberCell{0, ValueType::UInt32, "number"};
constexpr FieldSpec kFloatCell{0, ValueType::Float32, "float"};
constexpr FieldSpec kTextCell{0, ValueType::Text, "text"};

constexpr std::string_view kIndexToken = "index";
constexpr std::string_view kEventsToken = "events";
constexpr std::string_view kNameTailToken = "name_tail";
constexpr std::string_view kCodeToken = "code_unk";
constexpr std::string_view kFormsToken = "forms_unk";

void Store(std::span<std::uint8_t> record, std::size_t offset, std::uint32_t v) {
    const auto bytes = AdbLe(v);
    std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint32_t Mask(std::uint8_t width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

void AppendNumber(std::string& out, std::uint32_t v) { AppendCell(out, kNumberCell, AdbLe(v)); }

void AppendWord(std::string& out, std::string_view word) {
    AppendText(out, std::span(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()));
}

// Names joined by '|'; "none" for 0.
void AppendSet(std::string& out, std::span<const std::string_view> names, std::uint32_t v) {
    if (v == 0) return AppendWord(out, "none");
    bool first = true;
    for (std::size_t bit = 0; bit < names.size(); ++bit) {
        if (!(v >> bit & 1)) continue;
        if (!first) out += '|';
        first = false;
        AppendWord(out, names[bit]);
    }
}

std::uint32_t LinkMask(const AdbLayout& layout) {
    std::uint32_t mask = 0;
    for (const AdbColumn& c : layout.columns)
        if (c.link) mask |= Mask(c.width) << c.shift;
    return mask;
}

// Bits of the word at `offset` that no column or event shows.
std::uint32_t UnshownBits(const AdbLayout& layout, int offset) {
    std::uint32_t mask = 0;
    for (const AdbColumn& c : layout.columns)
        if (c.offset == offset && c.cell != AdbCell::Name) mask |= Mask(c.width) << c.shift;
    if (offset == layout.formsOffset)
        for (const AdbEvent& e : layout.events) mask |= 1u << e.bit;
    return ~mask;
}

void AppendHexWord(std::string& out, std::uint32_t v) {
    out += "0x";
    const auto bytes = AdbLe(v);
    const std::uint8_t big[4] = {bytes[3], bytes[2], bytes[1], bytes[0]};
    AppendHex(out, big);
}

// A fixed-size name: the cell of its bytes up to and with the terminator
// (all of them, shown as hex, when there is none), and what follows the
// terminator as hex without trailing 00s.
void FixedNameCells(std::span<const std::uint8_t> bytes, std::string& name, std::string& tail) {
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0, bytes.size()));
    const std::size_t length = zero ? static_cast<std::size_t>(zero - bytes.data()) + 1 : bytes.size();
    AppendCell(name, kTextCell, bytes.first(length));
    std::span<const std::uint8_t> rest = bytes.subspan(length);
    while (!rest.empty() && rest.back() == 0) rest = rest.first(rest.size() - 1);
    AppendHex(tail, rest);
}

[[noreturn]] void Bad(std::string_view column, std::string expected) {
    throw AdbCellProblem{std::string(column), std::move(expected)};
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string NameList(std::span<const std::string_view> names) {
    std::string list;
    for (const std::string_view name : names) {
        if (name.empty()) continue;
        if (!list.empty()) list += ", ";
        list += name;
    }
    return list;
}

std::uint32_t ParseNumber(std::string_view column, std::string_view cell, std::uint32_t max) {
    std::vector<std::uint8_t> bytes;
    const std::string expected = "a whole number from 0 to " + std::to_string(max);
    try {
        ParseCell(cell, kNumberCell, bytes);
    } catch (const CellProblem&) {
        Bad(column, expected);
    }
    if (bytes.size() != 4) Bad(column, expected);
    const std::uint32_t v = AdbWord(bytes, 0);
    if (v > max) Bad(column, expected);
    return v;
}

std::uint32_t ParseSet(const AdbColumn& c, std::string_view cell) {
    const std::string expected = "names joined by '|' (" + NameList(c.names) + "), none or any";
    cell = Trim(cell);
    if (cell.empty() || EqualsNoCase(cell, "none")) return 0;
    if (EqualsNoCase(cell, "any")) return Mask(c.width);
    std::uint32_t v = 0;
    while (true) {
        const std::size_t bar = cell.find('|');
        const std::string_view part = Trim(cell.substr(0, bar));
        std::size_t bit = 0;
        while (bit < c.names.size() && !EqualsNoCase(c.names[bit], part)) ++bit;
        if (bit == c.names.size()) Bad(c.name, expected);
        v |= 1u << bit;
        if (bar == std::string_view::npos) return v;
        cell.remove_prefix(bar + 1);
    }
}

std::uint32_t ParseEnum(const AdbColumn& c, std::string_view cell) {
    cell = Trim(cell);
    for (std::size_t v = 0; v < c.names.size(); ++v)
        if (!c.names[v].empty() && EqualsNoCase(c.names[v], cell)) return static_cast<std::uint32_t>(v);
    if (!cell.empty() && cell[0] >= '0' && cell[0] <= '9') return ParseNumber(c.name, cell, Mask(c.width));
    Bad(c.name, "one of " + NameList(c.names) + ", or a number from 0 to " + std::to_string(Mask(c.width)));
}

std::uint32_t ParseEvents(std::string_view token, std::span<const AdbEvent> events) {
    std::uint32_t v = 0;
    if (EqualsNoCase(token, "none")) return 0;
    while (true) {
        const std::size_t bar = token.find('|');
        const std::string_view part = token.substr(0, bar);
        const auto it = std::find_if(events.begin(), events.end(), [&](const AdbEvent& e) { return e.name == part; });
        if (it == events.end()) Bad(kExtraColumn, "events=NAMES with names from hide, step, hit, sfx joined by '|', or none");
        v |= 1u << it->bit;
        if (bar == std::string_view::npos) return v;
        token.remove_prefix(bar + 1);
    }
}

std::uint32_t ParseHexWord(std::string_view column, std::string_view text) {
    std::vector<std::uint8_t> bytes;
    if (!(text.starts_with("0x") || text.starts_with("0X")) || text.size() != 10 || !ParseHex(text.substr(2), bytes))
        Bad(column, "0x and 8 hex digits after '='");
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

const KindSpec& AnimKind() { return kAnimKind; }
bool IsAnimKind(const KindSpec& kind) { return &kind == &kAnimKind; }

const AdbLayout* AdbLayoutFor(std::uint64_t recordSize) {
    for (const AdbLayout* layout : kLayouts)
        if (layout->recordSize == recordSize) return layout;
    return nullptr;
}

std::span<const AdbLayout* const> AdbLayouts() { return kLayouts; }

std::uint32_t AdbWord(std::span<const std::uint8_t> record, std::size_t offset) {
    const std::uint8_t* p = record.data() + offset;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::array<std::uint8_t, 4> AdbLe(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

std::uint32_t AdbBits(std::uint32_t word, std::uint8_t shift, std::uint8_t width) { return word >> shift & Mask(width); }

std::uint32_t AdbEventBits(const AdbLayout& layout, std::span<const std::uint8_t> record) {
    std::uint32_t bits = 0;
    for (const AdbEvent& e : layout.events)
        for (std::size_t w = 0; w < e.words; ++w)
            if (AdbWord(record, e.offset + 4 * w) != 0) bits |= 1u << e.bit;
    return bits;
}

void AdbModelNameCells(const AdbHeader& header, std::string& name, std::string& tail) {
    FixedNameCells(header.modelName, name, tail);
}

std::span<const std::uint8_t> AdbClipName(std::span<const std::uint8_t> record) {
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(record.data(), 0, kAdbClipNameSize));
    return record.first(zero ? static_cast<std::size_t>(zero - record.data()) : kAdbClipNameSize);
}

// ---- the reader ---------------------------------------------------------------

AdbReader::AdbReader(ByteSource& source) : source_(source) {
    const auto fail = [&](std::uint64_t offset, const std::string& problem) {
        Place place;
        place.file = source_.Label();
        place.offset = static_cast<long long>(offset);
        throw Error(place, problem);
    };
    const std::uint64_t size = source_.Size();
    if (size < kAdbHeaderSize)
        fail(size, "unexpected end of data in the " + std::to_string(kAdbHeaderSize) + "-byte header (the file has " +
                       std::to_string(size) + " bytes)");
    std::array<std::uint8_t, kAdbHeaderSize> bytes{};
    source_.Read(bytes, "the header");
    if (!std::equal(kAdbMagic.begin(), kAdbMagic.end(), bytes.begin())) {
        std::string found;
        AppendHex(found, std::span(bytes).first(4));
        fail(0, "the file starts with " + found + ", not ADB\\0 (41444200): not an animation database");
    }
    header_.clipCount = AdbWord(bytes, 4);
    std::copy_n(bytes.begin() + 8, kAdbModelNameSize, header_.modelName.begin());
    for (std::size_t i = 0; i < 3; ++i) header_.heights[i] = AdbWord(bytes, 32 + 4 * i);

    const std::uint64_t rest = size - kAdbHeaderSize;
    const std::uint64_t count = header_.clipCount;
    if (count == 0) {
        if (rest != 0) fail(kAdbHeaderSize, std::to_string(rest) + " bytes follow the header although the clip count is 0");
        layout_ = kLayouts[0];
        return;
    }
    if (rest % count == 0) layout_ = AdbLayoutFor(rest / count);
    if (!layout_) {
        std::string sizes;
        for (const AdbLayout* layout : kLayouts)
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(count * layout->recordSize);
        fail(4, "the clip count " + std::to_string(count) + " does not fit the " + std::to_string(rest) +
                    " bytes after the header (records of 88, 84 or 36 bytes take " + sizes +
                    "): the file is cut or too long, or the count is wrong");
    }
}

bool AdbReader::Next(std::span<const std::uint8_t>& record, std::uint64_t& offset) {
    if (read_ == header_.clipCount) return false;
    offset = source_.Position();
    source_.ReadInto(buffer_, layout_->recordSize, "a clip");
    ++read_;
    record = buffer_;
    return true;
}

// ---- one clip <-> its cells ---------------------------------------------------

void AdbClipCells(const AdbLayout& layout, std::span<const std::uint8_t> record, std::size_t position,
                  std::vector<std::string>& cells) {
    cells.resize(layout.columns.size() + 1);
    const bool linkBlank = layout.formsOffset < 0 || (AdbWord(record, static_cast<std::size_t>(layout.formsOffset)) & LinkMask(layout)) == 0;
    std::string nameTail;
    for (std::size_t i = 0; i < layout.columns.size(); ++i) {
        const AdbColumn& c = layout.columns[i];
        std::string& out = cells[i];
        out.clear();
        if (c.cell == AdbCell::Name) {
            FixedNameCells(record.first(kAdbClipNameSize), out, nameTail);
            continue;
        }
        if (c.link && linkBlank) continue;
        const std::uint32_t word = AdbWord(record, c.offset);
        const std::uint32_t v = AdbBits(word, c.shift, c.width);
        switch (c.cell) {
        case AdbCell::Number: AppendNumber(out, v); break;
        case AdbCell::Float: AppendCell(out, kFloatCell, AdbLe(word)); break;
        case AdbCell::Enum:
            if (v < c.names.size() && !c.names[v].empty()) AppendWord(out, c.names[v]);
            else AppendNumber(out, v);
            break;
        case AdbCell::Set:
            if (v == Mask(c.width)) AppendWord(out, "any");
            else AppendSet(out, c.names, v);
            break;
        case AdbCell::Name: break;
        }
    }

    // ~extra: what the columns cannot show, each as NAME=VALUE.
    std::string& extra = cells.back();
    extra.clear();
    const auto token = [&extra](std::string_view key) -> std::string& {
        if (!extra.empty()) extra += ' ';
        extra += key;
        extra += '=';
        return extra;
    };
    const std::uint32_t index = AdbWord(record, kAdbIndexOffset);
    if (index != position) AppendNumber(token(kIndexToken), index);
    if (layout.formsOffset >= 0) {
        const std::uint32_t forms = AdbWord(record, static_cast<std::size_t>(layout.formsOffset));
        std::uint32_t eventMask = 0;
        for (const AdbEvent& e : layout.events) eventMask |= 1u << e.bit;
        if ((forms & eventMask) != AdbEventBits(layout, record)) {
            std::string& out = token(kEventsToken);
            if ((forms & eventMask) == 0) out += "none";
            bool first = true;
            for (const AdbEvent& e : layout.events) {
                if (!(forms >> e.bit & 1)) continue;
                if (!first) out += '|';
                first = false;
                out += e.name;
            }
        }
    }
    if (!nameTail.empty()) token(kNameTailToken) += nameTail;
    for (const auto& [offset, key] : {std::pair{layout.codeOffset, kCodeToken}, std::pair{layout.formsOffset, kFormsToken}}) {
        if (offset < 0) continue;
        const std::uint32_t rest = AdbWord(record, static_cast<std::size_t>(offset)) & UnshownBits(layout, offset);
        if (rest != 0) AppendHexWord(token(key), rest);
    }
}

void AdbParseClip(const AdbLayout& layout, std::span<const std::string_view> cells, std::size_t position,
                  std::vector<std::uint8_t>& record) {
    record.assign(layout.recordSize, 0);
    std::vector<std::uint8_t> name;

    // ~extra first: the name's tail and the kept bits.
    std::uint32_t index = static_cast<std::uint32_t>(position);
    bool eventsGiven = false;
    std::uint32_t events = 0;
    std::vector<std::uint8_t> tail;
    std::string_view extra = cells[layout.columns.size()];
    while (!extra.empty()) {
        const std::size_t space = extra.find(' ');
        const std::string_view token = extra.substr(0, space);
        extra = space == std::string_view::npos ? std::string_view() : extra.substr(space + 1);
        if (token.empty()) continue;
        const std::size_t equals = token.find('=');
        const std::string_view key = token.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : token.substr(equals + 1);
        if (equals == std::string_view::npos) {
            Bad(kExtraColumn, "space-separated index=N, events=NAMES, name_tail=HEX, code_unk=0xHEX, forms_unk=0xHEX");
        } else if (key == kIndexToken) {
            index = ParseNumber(kExtraColumn, value, 0xFFFFFFFFu);
        } else if (key == kEventsToken && layout.formsOffset >= 0) {
            eventsGiven = true;
            events = ParseEvents(value, layout.events);
        } else if (key == kNameTailToken) {
            tail.clear();
            if (!ParseHex(value, tail)) Bad(kExtraColumn, "hex digits after name_tail=");
        } else if ((key == kCodeToken && layout.codeOffset >= 0) || (key == kFormsToken && layout.formsOffset >= 0)) {
            const int offset = key == kCodeToken ? layout.codeOffset : layout.formsOffset;
            const std::uint32_t bits = ParseHexWord(kExtraColumn, value);
            if (bits & ~UnshownBits(layout, offset)) {
                std::string most;
                AppendHexWord(most, UnshownBits(layout, offset));
                Bad(kExtraColumn, std::string(key) + " bits that no column shows (at most " + most + ")");
            }
            Store(record, static_cast<std::size_t>(offset), AdbWord(record, static_cast<std::size_t>(offset)) | bits);
        } else {
            Bad(kExtraColumn, "space-separated index=N, events=NAMES, name_tail=HEX, code_unk=0xHEX, forms_unk=0xHEX");
        }
    }
    Store(record, kAdbIndexOffset, index);

    for (std::size_t i = 0; i < layout.columns.size(); ++i) {
        const AdbColumn& c = layout.columns[i];
        const std::string_view cell = cells[i];
        std::uint32_t v = 0;
        switch (c.cell) {
        case AdbCell::Name: {
            try {
                ParseCell(cell, kTextCell, name);
            } catch (const CellProblem& problem) {
                Bad(c.name, problem.expected);
            }
            if (name.size() > kAdbClipNameSize) Bad(c.name, "a name of at most 15 characters");
            if (name.size() + tail.size() > kAdbClipNameSize)
                Bad(kExtraColumn, "a name_tail of at most " + std::to_string(kAdbClipNameSize - name.size()) +
                                      " bytes after this name");
            std::copy(name.begin(), name.end(), record.begin());
            std::copy(tail.begin(), tail.end(), record.begin() + static_cast<std::ptrdiff_t>(name.size()));
            continue;
        }
        case AdbCell::Float: {
            std::vector<std::uint8_t> bytes;
            try {
                ParseCell(cell, kFloatCell, bytes);
            } catch (const CellProblem& problem) {
                Bad(c.name, problem.expected);
            }
            if (bytes.size() != 4) Bad(c.name, "a number such as 1.5");
            Store(record, c.offset, AdbWord(bytes, 0));
            continue;
        }
        case AdbCell::Number:
            if (c.link && Trim(cell).empty()) continue;
            v = ParseNumber(c.name, cell, Mask(c.width));
            break;
        case AdbCell::Enum:
            if (c.link && Trim(cell).empty()) continue;
            v = ParseEnum(c, cell);
            break;
        case AdbCell::Set: v = ParseSet(c, cell); break;
        }
        Store(record, c.offset, AdbWord(record, c.offset) | v << c.shift);
    }

    if (layout.formsOffset >= 0) {
        // Consistent by construction: the event fields decide, unless ~extra keeps what the file said.
        const auto forms = static_cast<std::size_t>(layout.formsOffset);
        Store(record, forms, AdbWord(record, forms) | (eventsGiven ? events : AdbEventBits(layout, record)));
    }
}

}  // namespace gamedb
