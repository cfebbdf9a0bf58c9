#include "gamedb/cells.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "archive/cp1251.h"
#include "gamedb/framing.h"

namespace gamedb {

// ParseText that also says whether a byte 00 was produced.
bool ParseTextNoting(std::string_view text, std::vector<std::uint8_t>& out);
// ParseFloat of a number's text (NumberText), reading any comma as a decimal comma.
bool ParseFloatText(std::string_view text, std::uint32_t& bits);

namespace {

// Per byte: its UTF-8 form, or an escape, precomputed once.
struct ByteText {
    char text[4];
    std::uint8_t size;
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

// `separators` are escaped too (\| \;).
constexpr std::array<ByteText, 256> MakeByteTexts(std::string_view separators) {
    std::array<ByteText, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        ByteText& t = table[b];
        const auto escape = [&t](char c) {
            t.text[0] = '\\';
            t.text[1] = c;
            t.size = 2;
        };
        if (b == '\\') escape('\\');
        else if (separators.find(static_cast<char>(b)) != std::string_view::npos) escape(static_cast<char>(b));
        else if (b == '\t') escape('t');
        else if (b == '\r') escape('r');
        else if (b == '\n') escape('n');
        else if (b < 0x20 || b == 0x7F || b == 0x98) {
            // Control bytes and the one byte without a character: \xHH.
            t.text[0] = '\\';
            t.text[1] = 'x';
            t.text[2] = kHexDigits[b >> 4];
            t.text[3] = kHexDigits[b & 15];
            t.size = 4;
        } else if (b < 0x80) {
            t.text[0] = static_cast<char>(b);
            t.size = 1;
        } else {
            const unsigned cp = resarc::Cp1251Char(static_cast<unsigned char>(b));
            if (cp < 0x800) {
                t.text[0] = static_cast<char>(0xC0 | cp >> 6);
                t.text[1] = static_cast<char>(0x80 | (cp & 0x3F));
                t.size = 2;
            } else {
                t.text[0] = static_cast<char>(0xE0 | cp >> 12);
                t.text[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
                t.text[2] = static_cast<char>(0x80 | (cp & 0x3F));
                t.size = 3;
            }
        }
    }
    return table;
}

// For the separators of list items and of a record's fields in them.
constexpr std::array<ByteText, 256> kByteTexts = MakeByteTexts("");
constexpr std::array<ByteText, 256> kItemByteTexts = MakeByteTexts("|");
constexpr std::array<ByteText, 256> kFieldByteTexts = MakeByteTexts("|;");

// The Windows-1251 byte of a Unicode character; -1 when there is none. Byte
// 0x98 is written as its escape, so U+0098 is no character of a cell.
int Cp1251Byte(std::uint32_t cp) {
    return cp == 0x98 ? -1 : resarc::Cp1251Byte(cp);
}

std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Room for any 32-bit number (and a float's shortest form after its sign),
// with the scratch bytes that Digits writes past the end.
constexpr std::size_t kNumberRoom = 32;

constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Numbers of every length come mixed in a table: digits are written
// without a branch on the length, which a processor could not foresee, and
// without a store per digit. Eight digits are the bytes of a 64-bit value
// from its low end; the leading zeros are shifted out.
std::uint64_t DigitPair(std::uint32_t i) {
    return static_cast<std::uint8_t>(kDigitPairs[2 * i]) | std::uint64_t{static_cast<std::uint8_t>(kDigitPairs[2 * i + 1])} << 8;
}

// n < 10^8 as eight digits, leading zeros included.
std::uint64_t EightDigits(std::uint32_t n) {
    const std::uint32_t upper = n / 10000, lower = n % 10000;
    return DigitPair(upper / 100) | DigitPair(upper % 100) << 16 | DigitPair(lower / 100) << 32 | DigitPair(lower % 100) << 48;
}

int DigitCount(std::uint32_t n) {
    return 1 + (n >= 10) + (n >= 100) + (n >= 1000) + (n >= 10000) + (n >= 100000) + (n >= 1000000) + (n >= 10000000) +
           (n >= 100000000) + (n >= 1000000000);
}

// Writes 8 bytes (the compiler makes it one store).
void PutEight(char* p, std::uint64_t chars) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(chars >> 8 * i);
}

// Writes n's digits and up to 8 bytes of scratch after them; returns their end.
char* PutDigits(char* p, std::uint32_t n) {
    const int count = DigitCount(n);
    const int high = std::max(count - 8, 0);  // digits above the low eight
    const std::uint32_t pair = static_cast<std::uint32_t>(DigitPair(n / 100000000));
    p[0] = static_cast<char>(pair >> 8 * (2 - high));
    p[1] = static_cast<char>(pair >> 8);
    p += high;
    const int low = count - high;
    PutEight(p, EightDigits(n % 100000000) >> 8 * (8 - low));
    return p + low;
}

void AppendNumber(TextSink& out, std::uint32_t value) {
    char* const p = out.Room(kNumberRoom);
    out.Advance(PutDigits(p, value));
}

void AppendNumber(TextSink& out, std::int32_t value) {
    char* p = out.Room(kNumberRoom);
    *p = '-';
    p += value < 0;
    out.Advance(PutDigits(p, value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value)));
}

void AppendNumber(TextSink& out, float value) {
    char* const p = out.Room(kNumberRoom);
    out.Advance(std::to_chars(p, p + kNumberRoom, value).ptr);
}

void StoreLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    std::uint8_t* p = out.data() + at;
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Powers of ten that floats hold exactly (5^10 < 2^24).
constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr std::uint32_t kExactFloatInt = 1u << 24;

// N / 10^k for N up to 2^24 and k up to 10: both are exact floats, so the
// one division is rounded once, as the decimal itself would be.
float ShortDecimal(std::uint32_t n, std::size_t k) {
    const float value = static_cast<float>(n) / kPow10f[k];
    return value;
}

// The shortest plain decimal of a float that is no whole number, below
// 100000 in magnitude, when it has at most 7 digits after the point and a
// value of at most 2^24 in their last place: the nearest decimal with k
// digits, for the least k that reads back to the same float. That is what
// the float formatter writes, found without its search. False when the
// formatter has to decide (powers of two, whose rounding interval is
// lopsided; a value halfway between two decimals; more digits).
bool AppendShortDecimal(TextSink& out, float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    if ((bits & 0x007FFFFFu) == 0) return false;
    const float magnitude = value < 0 ? -value : value;
    std::uint32_t unit = 1;
    for (std::size_t k = 1; k <= 7; ++k) {
        unit *= 10;
        const double scaled = static_cast<double>(magnitude) * unit;  // exact: 24 + 17 bits
        if (scaled > kExactFloatInt) return false;
        const auto below = static_cast<std::uint32_t>(scaled);
        const double rest = scaled - below;
        if (rest == 0.5) return false;
        const std::uint32_t n = rest < 0.5 ? below : below + 1;
        if (ShortDecimal(n, k) != magnitude) continue;
        // The whole part, then the k digits after the point written backwards.
        char* p = out.Room(kNumberRoom);
        if (value < 0) *p++ = '-';
        p = std::to_chars(p, p + kNumberRoom - 1, n / unit).ptr;
        *p++ = '.';
        std::uint32_t fraction = n % unit;
        for (std::size_t i = k; i > 0; --i, fraction /= 10) p[i - 1] = static_cast<char>('0' + fraction % 10);
        out.Advance(p + k);
        return true;
    }
    return false;
}

// The shortest plain decimal of a float below 100000 in magnitude when it
// has at most 3 digits after the point (2 from 2^14 up): whole numbers,
// eighths (2.5, 0.25, 12.375) and short decimals (0.35, 602.58) are most of
// the game's floats. Below 2^14 a float's rounding interval is narrower than
// 0.001 (from 2^14 to 100000, than 0.01), so it holds at most one decimal
// with that many places: the nearest, N / 1000, when that reads back to the
// float. Then the formatter's shortest form is N's digits, trailing zeros
// after the point dropped. No branch on the kind of number or its length,
// which a processor could not foresee. False when more places are needed.
bool AppendShortFloat(TextSink& out, std::uint32_t bits) {
    // In integers, which keep the chain of dependent steps short: the float
    // is M / 2^S with M of 24 bits. N = round(scale * M / 2^S), and N / scale
    // reads back to the float when |N * 2^S - scale * M| is below scale / 2,
    // half a float step in the same units (on it, when the float's last bit
    // is 0: ties go to even). A power of two has a smaller step below: there
    // only an exact N is taken. Below 2^-16 no decimal of 3 places but 0 is
    // near a float, and subnormals are smaller still.
    const std::uint32_t biased = bits >> 23 & 0xFF;
    const int shift = 150 - static_cast<int>(biased);
    if ((bits & 0x7FFFFFFFu) != 0 && (biased == 0 || shift > 40)) return false;
    const bool wide = biased >= 127 + 14;
    const int places = wide ? 2 : 3;
    const std::uint64_t scale = wide ? 100 : 1000;
    const std::uint64_t mantissa = biased == 0 ? 0 : (bits & 0x007FFFFFu) | 0x00800000u;  // 0 for 0
    const std::uint64_t scaled = scale * mantissa;  // below 2^34
    const int s = biased == 0 ? 0 : shift;
    const std::uint64_t rounded = (scaled + (std::uint64_t{1} << s >> 1)) >> s;
    const std::int64_t off = static_cast<std::int64_t>(rounded << s) - static_cast<std::int64_t>(scaled);
    const std::uint64_t distance = static_cast<std::uint64_t>(off < 0 ? -off : off);
    const std::uint64_t half = scale / 2;
    const bool even = (bits & 1) == 0;
    const bool powerOfTwo = (bits & 0x007FFFFFu) == 0;
    const bool near = (distance < half) | ((distance == half) & even);
    if (!near || (powerOfTwo && distance != 0)) return false;
    const auto n = static_cast<std::uint32_t>(rounded);
    const int k = places - (n % 10 == 0) - (n % 100 == 0) - (!wide & (n % 1000 == 0));
    // The whole part ("0.05" needs places + 1 digits), a point and k digits.
    char* p = out.Room(kNumberRoom);
    *p = '-';
    p += bits >> 31;
    const int total = std::max(DigitCount(n), places + 1);
    const int whole = total - places;
    const std::uint64_t digits = EightDigits(n) >> 8 * (8 - total);
    PutEight(p, digits);
    p[whole] = '.';
    PutEight(p + whole + 1, digits >> 8 * whole);
    out.Advance(p + whole + (k == 0 ? 0 : k + 1));
    return true;
}

// "-?DIGITS(.DIGITS)?" of a value the division in ShortDecimal gives
// exactly; `point` tells whether it had a decimal point.
bool ParseShortDecimal(std::string_view text, std::uint32_t& bits, bool& point) {
    const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    std::uint32_t n = 0;
    std::size_t i = sign;
    std::size_t at = std::string_view::npos;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            n = n * 10 + static_cast<std::uint32_t>(c - '0');
            if (n > kExactFloatInt) return false;
        } else if (c == '.' && at == std::string_view::npos && i > sign) {
            at = i;
        } else {
            return false;
        }
    }
    point = at != std::string_view::npos;
    const std::size_t k = point ? text.size() - at - 1 : 0;
    if (i == sign || (point && k == 0) || k >= std::size(kPow10f)) return false;
    const float value = ShortDecimal(n, k);
    bits = std::bit_cast<std::uint32_t>(sign ? -value : value);
    return true;
}

// Texts, codes and lists: cells a spreadsheet must keep as text.
bool IsTextual(ValueType type) {
    switch (type) {
    case ValueType::Text:
    case ValueType::Code4:
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::RecordList: return true;
    default: return false;
    }
}

constexpr FieldSpec kFloatPart{0, ValueType::Float32, ""};
constexpr FieldSpec kBytePart{0, ValueType::Byte, ""};

// The next character of UTF-8 text, lower-cased for Latin and Cyrillic
// letters; 0 at the end or for a broken sequence.
char32_t NextLower(std::string_view text, std::size_t& i) {
    if (i >= text.size()) return 0;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        ++i;
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    }
    if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
        char32_t cp = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
        i += 2;
        if (cp >= 0x410 && cp <= 0x42F) cp += 0x20;
        else if (cp == 0x401) cp = 0x451;
        return cp;
    }
    i = text.size();
    return 0;
}

bool IsLetter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 0x430 && c <= 0x44F) || c == 0x451; }

// The whole text is the word, ignoring case.
bool EqualsLetters(std::string_view text, std::u32string_view word) {
    std::size_t i = 0;
    for (const char32_t w : word)
        if (NextLower(text, i) != w) return false;
    return i == text.size();
}

// The text begins with a word whose first three letters are a month's.
bool StartsWithMonth(std::string_view text) {
    static constexpr std::u32string_view kMonths[] = {
        U"jan", U"feb", U"mar", U"apr", U"may", U"jun", U"jul", U"aug", U"sep", U"oct", U"nov", U"dec",
        U"\u044f\u043d\u0432", U"\u0444\u0435\u0432", U"\u043c\u0430\u0440", U"\u0430\u043f\u0440", U"\u043c\u0430\u0439", U"\u043c\u0430\u044f",
        U"\u0438\u044e\u043d", U"\u0438\u044e\u043b", U"\u0430\u0432\u0433", U"\u0441\u0435\u043d", U"\u043e\u043a\u0442", U"\u043d\u043e\u044f",
        U"\u0434\u0435\u043a"};
    // Three letters as one number (each below 2^11), looked up at once.
    static constexpr auto Key = [](char32_t a, char32_t b, char32_t c) {
        return std::uint64_t{a} | std::uint64_t{b} << 21 | std::uint64_t{c} << 42;
    };
    static constexpr auto kKeys = [] {
        std::array<std::uint64_t, std::size(kMonths)> keys{};
        for (std::size_t m = 0; m < keys.size(); ++m) keys[m] = Key(kMonths[m][0], kMonths[m][1], kMonths[m][2]);
        std::sort(keys.begin(), keys.end());
        return keys;
    }();
    std::size_t i = 0;
    char32_t first[3];
    for (char32_t& c : first) {
        c = NextLower(text, i);
        if (!IsLetter(c)) return false;
    }
    return std::binary_search(kKeys.begin(), kKeys.end(), Key(first[0], first[1], first[2]));
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool IsSimple(ValueType type) {
    switch (type) {
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::Nested:
    case ValueType::RecordList: return false;
    default: return true;
    }
}

bool CanonicalText(std::span<const std::uint8_t> p) {
    if (p.empty() || p.back() != 0) return false;
    return std::memchr(p.data(), 0, p.size() - 1) == nullptr;
}

// The code's bytes before its padding, or -1 when not a padded code.
int Code4Length(std::span<const std::uint8_t> p) {
    if (p.size() != 4) return -1;
    int n = 0;
    while (n < 4 && p[static_cast<std::size_t>(n)] != 0) ++n;
    for (int i = n; i < 4; ++i)
        if (p[static_cast<std::size_t>(i)] != 0) return -1;
    return n;
}

// Calls visit(field, payload) for each field of `record` in a payload that
// holds every one once, in order, in the writer's framing, and nothing
// else. False as soon as it does not, or a visit says no. (A visit that
// takes the payload by value copies it in one 16-byte move, which waits for
// the cursor's two 8-byte stores to land: take it by reference.)
template <typename Visit>
bool ForEachField(const RecordSpec& record, std::span<const std::uint8_t> payload, Visit&& visit) {
    NodeCursor cursor(payload);
    NodeView node;
    for (const FieldSpec& field : record.fields) {
        if (!IsSimple(field.type)) return false;
        if (!cursor.Next(node) || node.header.tag != field.tag || !node.header.Canonical() || !visit(field, node.payload))
            return false;
    }
    return cursor.AtEnd();
}

// Calls visit(payload) for each item of a list (tag 1, the writer's
// framing). False as soon as an item is not one, or a visit says no.
template <typename Visit>
bool ForEachItem(std::span<const std::uint8_t> payload, Visit&& visit) {
    NodeCursor cursor(payload);
    NodeView node;
    while (cursor.Next(node))
        if (node.header.tag != 1 || !node.header.Canonical() || !visit(node.payload)) return false;
    return cursor.Failure().empty();
}

bool AppendTyped(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> p, std::string_view seps);

bool AppendTypedFields(TextSink& out, const RecordSpec& record, std::span<const std::uint8_t> payload, char sep,
                       std::string_view seps) {
    bool first = true;
    return ForEachField(record, payload, [&](const FieldSpec& field, const std::span<const std::uint8_t>& p) {
        if (!first) out.Add(sep);
        first = false;
        return AppendTyped(out, field, p, seps);
    });
}

// A text or a code of a list item, or of a cell.
bool AppendTextValue(TextSink& out, ValueType type, std::span<const std::uint8_t> p, std::string_view seps) {
    if (type == ValueType::Text) {
        if (!CanonicalText(p)) return false;
        AppendText(out, p.first(p.size() - 1), seps);
        return true;
    }
    const int n = Code4Length(p);
    if (n < 0) return false;
    AppendText(out, p.first(static_cast<std::size_t>(n)), seps);
    return true;
}

// A number cell (of a single number), or false when the payload's size is
// not the number's.
bool AppendNumberValue(TextSink& out, ValueType type, std::span<const std::uint8_t> p) {
    if (p.size() != (type == ValueType::Byte ? 1u : 4u)) return false;
    switch (type) {
    case ValueType::Int32: AppendNumber(out, static_cast<std::int32_t>(LoadLe32(p.data()))); return true;
    case ValueType::Float32: AppendFloat(out, LoadLe32(p.data())); return true;
    case ValueType::Byte: AppendNumber(out, unsigned{p[0]}); return true;
    default: AppendNumber(out, LoadLe32(p.data())); return true;
    }
}

bool IsNumber(ValueType type) {
    return type == ValueType::Int32 || type == ValueType::UInt32 || type == ValueType::Bits5 ||
           type == ValueType::Float32 || type == ValueType::Byte;
}

// Appends the typed text of a payload, checking as it goes that the payload
// is canonical (IsCanonical): one walk of a list, not two. False when it is
// not, with part of the text appended.
bool AppendTyped(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> p, std::string_view seps) {
    switch (field.type) {
    case ValueType::Text:
    case ValueType::Code4: return AppendTextValue(out, field.type, p, seps);
    case ValueType::Int32:
    case ValueType::UInt32:
    case ValueType::Bits5:
    case ValueType::Float32:
    case ValueType::Byte: return AppendNumberValue(out, field.type, p);
    case ValueType::Float32Array:
        if (p.size() != 4u * field.count) return false;
        for (std::size_t i = 0; i < p.size(); i += 4) {
            if (i) out.Add(' ');
            AppendFloat(out, LoadLe32(p.data() + i));
        }
        return true;
    case ValueType::ByteArray:
        if (p.size() != field.count) return false;
        for (std::size_t i = 0; i < p.size(); ++i) {
            if (i) out.Add(' ');
            AppendNumber(out, unsigned{p[i]});
        }
        return true;
    case ValueType::Raw:
        if (p.size() != field.count) return false;
        AppendHex(out, p);
        return true;
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::RecordList: {
        if (field.type == ValueType::RecordList && !field.record) return false;
        const std::size_t start = out.Size();
        std::size_t items = 0;
        const bool canonical = ForEachItem(p, [&](const std::span<const std::uint8_t>& item) {
            if (items++) out.Add('|');
            if (field.type == ValueType::TextList) return AppendTextValue(out, ValueType::Text, item, "|");
            if (field.type == ValueType::Code4List) return AppendTextValue(out, ValueType::Code4, item, "|");
            return AppendTypedFields(out, *field.record, item, ';', "|;");
        });
        // One empty item must differ from no items.
        if (canonical && items == 1 && out.Size() == start) out.Add(kTextMark);
        return canonical;
    }
    case ValueType::Nested: return field.record && AppendTypedFields(out, *field.record, p, '|', "|");
    }
    return false;
}

[[noreturn]] void Bad(std::string expected) { throw CellProblem{std::move(expected)}; }

// Calls `part` for each piece of `text` between unescaped `sep`s.
template <typename F>
void SplitEscaped(std::string_view text, char sep, F&& part) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == sep) {
            part(text.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    part(text.substr(begin));
}

void ParseValue(std::string_view cell, const FieldSpec& field, std::vector<std::uint8_t>& out, NumberStyle* style);

// A float cell; a comma that could separate thousands is refused unless a
// table's style is there to settle it at the table's end. `expected` makes
// the message, only for a bad cell.
template <typename Expected>
std::uint32_t FloatCell(std::string_view cell, NumberStyle* style, const Expected& expected) {
    std::uint32_t bits = 0;
    // A plain decimal, as unpack writes most floats, shows only its point.
    bool point = false;
    if (ParseShortDecimal(cell, bits, point)) {
        if (style && point) style->decimalPoint = true;
        return bits;
    }
    const std::string_view number = NumberText(cell);
    // A cell kept as text (\e) was never a spreadsheet's number: it shows nothing of the table's style.
    if (number.size() < cell.size() && cell.find(kTextMark) != std::string_view::npos) style = nullptr;
    if (AmbiguousComma(number)) {
        if (!style) Bad(std::string(kAmbiguousComma));
        style->ambiguous = true;
    } else if (style && number.find(',') != std::string_view::npos) {
        style->decimalComma = true;
    } else if (style && number.find('.') != std::string_view::npos) {
        style->decimalPoint = true;
    }
    if (!ParseFloatText(number, bits)) Bad(expected());
    return bits;
}

void ParseTextValue(std::string_view cell, std::vector<std::uint8_t>& out, const char* expected) {
    if (ParseTextNoting(cell, out)) Bad(expected);
}

void ParseCode4(std::string_view cell, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    ParseTextValue(cell, out, "a code without the byte 00");
    if (out.size() - start > 4) Bad("a code of at most 4 bytes");
    out.resize(start + 4, 0);
}

void ParseFields(std::string_view text, const RecordSpec& record, char sep, std::vector<std::uint8_t>& out, NumberStyle* style) {
    std::size_t index = 0;
    SplitEscaped(text, sep, [&](std::string_view part) {
        if (index >= record.fields.size()) {
            ++index;
            return;
        }
        const FieldSpec& sub = record.fields[index++];
        const std::size_t start = BeginNode(out, sub.tag);
        ParseValue(part, sub, out, style);
        if (!FinishNode(out, start)) Bad("a shorter value");
    });
    if (index != record.fields.size())
        Bad(std::to_string(record.fields.size()) + " values separated by '" + std::string(1, sep) + "' (" +
            std::string(record.name) + ")");
}

void ParseValues(std::string_view cell, std::size_t count, const char* what, auto&& one) {
    if (count == 0 && cell.empty()) return;
    std::size_t n = 0;
    SplitEscaped(cell, ' ', [&](std::string_view part) {
        if (n++ < count) one(part);
    });
    if (n != count) Bad(std::to_string(count) + " " + what + " separated by single spaces");
}

void ParseValue(std::string_view cell, const FieldSpec& field, std::vector<std::uint8_t>& out, NumberStyle* style) {
    switch (field.type) {
    case ValueType::Text:
        ParseTextValue(cell, out, "a text without the byte 00");
        out.push_back(0);
        return;
    case ValueType::Int32: {
        std::int32_t v = 0;
        if (!ParseNumber(NumberText(cell), v)) Bad("a whole number from -2147483648 to 2147483647");
        StoreLe32(out, static_cast<std::uint32_t>(v));
        return;
    }
    case ValueType::UInt32:
    case ValueType::Bits5: {
        std::uint32_t v = 0;
        if (!ParseNumber(NumberText(cell), v)) Bad("a whole number from 0 to 4294967295");
        StoreLe32(out, v);
        return;
    }
    case ValueType::Float32: {
        StoreLe32(out, FloatCell(cell, style, [] { return std::string("a number such as 1.5, -0, inf or nan:0x7FC00000"); }));
        return;
    }
    case ValueType::Float32Array:
        ParseValues(cell, field.count, "numbers", [&](std::string_view part) {
            StoreLe32(out, FloatCell(part, style, [&field] { return std::to_string(field.count) + " numbers separated by single spaces"; }));
        });
        return;
    case ValueType::Byte: {
        std::uint8_t v = 0;
        if (!ParseNumber(NumberText(cell), v)) Bad("a whole number from 0 to 255");
        out.push_back(v);
        return;
    }
    case ValueType::ByteArray:
        ParseValues(cell, field.count, "whole numbers from 0 to 255", [&](std::string_view part) {
            std::uint8_t v = 0;
            if (!ParseNumber(part, v))
                Bad(std::to_string(field.count) + " whole numbers from 0 to 255 separated by single spaces");
            out.push_back(v);
        });
        return;
    case ValueType::Code4: ParseCode4(cell, out); return;
    case ValueType::Raw: {
        const std::size_t start = out.size();
        if (!ParseHex(cell, out) || out.size() - start != field.count)
            Bad(std::to_string(field.count) + " bytes as " + std::to_string(2 * field.count) + " hex digits");
        return;
    }
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::RecordList: {
        if (cell.empty()) return;
        SplitEscaped(cell, '|', [&](std::string_view part) {
            const std::size_t start = BeginNode(out, 1);
            if (field.type == ValueType::TextList) {
                ParseTextValue(part, out, "texts without the byte 00");
                out.push_back(0);
            } else if (field.type == ValueType::Code4List) {
                ParseCode4(part, out);
            } else {
                // "\e" alone is an item whose one field is empty.
                ParseFields(part == "\\e" ? std::string_view() : part, *field.record, ';', out, style);
            }
            if (!FinishNode(out, start)) Bad("a shorter value");
        });
        return;
    }
    case ValueType::Nested: ParseFields(cell, *field.record, '|', out, style); return;
    }
}

}  // namespace

bool IsCanonical(const FieldSpec& field, std::span<const std::uint8_t> p) {
    const auto canonical = [](const FieldSpec& part, const std::span<const std::uint8_t>& q) { return IsCanonical(part, q); };
    switch (field.type) {
    case ValueType::Text: return CanonicalText(p);
    case ValueType::Int32:
    case ValueType::UInt32:
    case ValueType::Float32:
    case ValueType::Bits5: return p.size() == 4;
    case ValueType::Float32Array: return p.size() == 4u * field.count;
    case ValueType::Byte: return p.size() == 1;
    case ValueType::ByteArray:
    case ValueType::Raw: return p.size() == field.count;
    case ValueType::Code4: return Code4Length(p) >= 0;
    case ValueType::TextList: return ForEachItem(p, CanonicalText);
    case ValueType::Code4List:
        return ForEachItem(p, [](const std::span<const std::uint8_t>& item) { return Code4Length(item) >= 0; });
    case ValueType::Nested: return field.record && ForEachField(*field.record, p, canonical);
    case ValueType::RecordList:
        return field.record && ForEachItem(p, [&](const std::span<const std::uint8_t>& item) {
                   return ForEachField(*field.record, item, canonical);
               });
    }
    return false;
}

void AppendCell(std::string& out, const FieldSpec& field, std::span<const std::uint8_t> payload) {
    TextSink sink(out);
    AppendCell(sink, field, payload);
}

void AppendCell(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> payload) {
    // Numbers, most cells of a table, straight away.
    if (IsNumber(field.type) && AppendNumberValue(out, field.type, payload)) return;
    const std::size_t start = out.Size();
    // Raw bytes are always hex after '#': bare digits would be a number to a spreadsheet.
    if (field.type == ValueType::Raw || !AppendTyped(out, field, payload, {})) {
        out.Truncate(start);
        out.Add(kHexMarker);
        AppendHex(out, payload);
        return;
    }
    if (out.Size() == start || !IsTextual(field.type)) return;
    // A typed cell must not read as hex, nor as a cell a spreadsheet quoted,
    // nor as anything but text to a spreadsheet.
    if (out[start] == kHexMarker) {
        out.Insert(start, "\\");
    } else if (out[start] == '"') {
        out[start] = '\\';
        out.Insert(start + 1, "x22");
    } else if (MightNotStayText(out.Since(start))) {
        out.Insert(start, kTextMark);
    }
}

void AppendParts(std::string& out, const FieldSpec& field, std::span<const std::uint8_t> payload) {
    TextSink sink(out);
    AppendParts(sink, field, payload);
}

void AppendParts(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> payload) {
    const std::size_t count = ColumnCount(field);
    if (!IsCanonical(field, payload)) {
        out.Add(kHexMarker);
        AppendHex(out, payload);
        out.Add(count - 1, '\t');
        return;
    }
    switch (field.type) {
    case ValueType::Float32Array:
        for (std::size_t i = 0; i < count; ++i) {
            if (i) out.Add('\t');
            AppendFloat(out, LoadLe32(payload.data() + 4 * i));
        }
        return;
    case ValueType::ByteArray:
        for (std::size_t i = 0; i < count; ++i) {
            if (i) out.Add('\t');
            AppendNumber(out, unsigned{payload[i]});
        }
        return;
    default: {
        NodeCursor cursor(payload);
        NodeView node;
        for (std::size_t i = 0; i < count; ++i) {
            cursor.Next(node);
            if (i) out.Add('\t');
            AppendCell(out, field.record->fields[i], node.payload);
        }
    }
    }
}

void ParseParts(std::span<const std::string_view> cells, const FieldSpec& field, std::vector<std::uint8_t>& out,
                NumberStyle* style) {
    if (!cells.empty() && !cells[0].empty() && cells[0][0] == kHexMarker) {
        for (std::size_t i = 1; i < cells.size(); ++i)
            if (!cells[i].empty())
                throw CellProblem{"an empty cell: the field's bytes are given as hex after '#' in its first column", i};
        if (!ParseHex(cells[0].substr(1), out)) Bad("hex digits after '#'");
        return;
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        try {
            if (field.type == ValueType::Nested) {
                const FieldSpec& sub = field.record->fields[i];
                const std::size_t start = BeginNode(out, sub.tag);
                ParseCell(cells[i], sub, out, style);
                if (!FinishNode(out, start)) Bad("a shorter value");
            } else {
                ParseValue(cells[i], field.type == ValueType::Float32Array ? kFloatPart : kBytePart, out, style);
            }
        } catch (CellProblem& problem) {
            problem.part = i;
            throw;
        }
    }
}

bool MightNotStayText(std::string_view text) {
    if (text.empty()) return false;
    const auto c0 = static_cast<unsigned char>(text[0]);
    // Formulas, and the apostrophe some spreadsheets take as "text follows".
    if (c0 == '=' || c0 == '+' || c0 == '-' || c0 == '@' || c0 == '\'') return true;
    // Blanks around a value may be trimmed, and around digits make a number.
    const auto blank = [](std::string_view t, bool atEnd) {
        if (t.empty()) return false;
        const char c = atEnd ? t.back() : t.front();
        if (c == ' ') return true;
        return atEnd ? t.ends_with("\xC2\xA0") : t.starts_with("\xC2\xA0");
    };
    if (blank(text, false) || blank(text, true)) return true;
    // Numbers, dates, times, fractions, percents and amounts start with a
    // digit, a decimal separator, a parenthesis or a currency sign; "Jan 5"
    // and "Май 2020" with a month. Each of them holds a digit (and none of
    // them is a boolean), so most texts are done with after one look.
    if (c0 >= '0' && c0 <= '9') return true;
    const bool sign = c0 == '.' || c0 == ',' || c0 == '(' || c0 == '$' ||
                      ((c0 == 0xE2 || c0 == 0xC2) &&
                       (text.starts_with("\xE2\x82\xAC") || text.starts_with("\xE2\x82\xBD") ||
                        text.starts_with("\xC2\xA3") || text.starts_with("\xC2\xA5")));
    // A month's name starts with a Latin or Cyrillic letter (lead byte D0 or D1).
    const bool letter = ((c0 | 0x20) >= 'a' && (c0 | 0x20) <= 'z') || c0 == 0xD0 || c0 == 0xD1;
    if ((sign || letter) && std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        (sign || StartsWithMonth(text)))
        return true;
    // Booleans, in English and Russian (at most 12 bytes in UTF-8), start
    // with t, f or a Cyrillic letter (lead byte D0).
    if (text.size() > 12 || !(c0 == 't' || c0 == 'T' || c0 == 'f' || c0 == 'F' || c0 == 0xD0)) return false;
    return EqualsLetters(text, U"true") || EqualsLetters(text, U"false") || EqualsLetters(text, U"\u0438\u0441\u0442\u0438\u043d\u0430") ||
           EqualsLetters(text, U"\u043b\u043e\u0436\u044c");
}

void ParseCell(std::string_view cell, const FieldSpec& field, std::vector<std::uint8_t>& out, NumberStyle* style) {
    if (!cell.empty() && cell[0] == kHexMarker) {
        if (!ParseHex(cell.substr(1), out)) Bad("hex digits after '#'");
        return;
    }
    ParseValue(cell, field, out, style);
}

std::string_view UnquoteQuotedCell(std::string_view cell, std::string& scratch) {
    const char* expected = "a quoted cell: \"...\" with every inner quote doubled";
    if (cell.size() < 2 || cell.back() != '"') Bad(expected);
    scratch.clear();
    for (std::size_t i = 1; i + 1 < cell.size(); ++i) {
        if (cell[i] == '"') {
            if (i + 2 >= cell.size() || cell[i + 1] != '"') Bad(expected);
            ++i;
        }
        scratch += cell[i];
    }
    return scratch;
}

void AppendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    TextSink sink(out);
    AppendHex(sink, bytes);
}

void AppendHex(TextSink& out, std::span<const std::uint8_t> bytes) {
    char* p = out.Room(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        *p++ = kHexDigits[b >> 4];
        *p++ = kHexDigits[b & 15];
    }
    out.Advance(p);
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2) return false;
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            out.resize(start);
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

void AppendText(std::string& out, std::span<const std::uint8_t> cp1251, std::string_view separators) {
    TextSink sink(out);
    AppendText(sink, cp1251, separators);
}

void AppendText(TextSink& out, std::span<const std::uint8_t> cp1251, std::string_view separators) {
    // A byte takes at most 4 characters (\xHH). Each goes out as its
    // table entry's 4 bytes, of which its size count: no branch per byte.
    const std::array<ByteText, 256>* table = separators.empty()   ? &kByteTexts
                                             : separators == "|"  ? &kItemByteTexts
                                             : separators == "|;" ? &kFieldByteTexts
                                                                  : nullptr;
    std::array<ByteText, 256> other;
    if (table == nullptr) {
        other = MakeByteTexts(separators);
        table = &other;
    }
    char* p = out.Room(4 * cp1251.size());
    for (const std::uint8_t b : cp1251) {
        const ByteText& t = (*table)[b];
        std::memcpy(p, t.text, sizeof t.text);
        p += t.size;
    }
    out.Advance(p);
}

void ParseText(std::string_view text, std::vector<std::uint8_t>& out) { ParseTextNoting(text, out); }

bool ParseTextNoting(std::string_view text, std::vector<std::uint8_t>& out) {
    bool zero = false;
    const std::size_t n = text.size();
    // Every character gives at most one byte: room for all of them is made
    // once, and what was written is kept, a bad cell's too.
    struct Bytes {
        std::vector<std::uint8_t>& out;
        std::uint8_t* next;
        ~Bytes() { out.resize(static_cast<std::size_t>(next - out.data())); }
        void push_back(std::uint8_t b) { *next++ = b; }
    };
    const std::size_t start = out.size();
    out.resize(start + n);
    Bytes bytes{out, out.data() + start};
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            if (i + 1 >= n) Bad("an escape after '\\' (\\\\ \\t \\r \\n \\xHH \\| \\; \\# \\e)");
            const char e = text[i + 1];
            i += 2;
            switch (e) {
            case '\\': bytes.push_back('\\'); break;
            case 't': bytes.push_back('\t'); break;
            case 'r': bytes.push_back('\r'); break;
            case 'n': bytes.push_back('\n'); break;
            case '|': bytes.push_back('|'); break;
            case ';': bytes.push_back(';'); break;
            case '#': bytes.push_back('#'); break;
            case 'e': break;
            case 'x': {
                const int hi = i < n ? HexValue(text[i]) : -1;
                const int lo = i + 1 < n ? HexValue(text[i + 1]) : -1;
                if (hi < 0 || lo < 0) Bad("two hex digits after \\x");
                zero |= hi == 0 && lo == 0;
                bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
                i += 2;
                break;
            }
            default: Bad("an escape after '\\' (\\\\ \\t \\r \\n \\xHH \\| \\; \\# \\e); write a backslash as \\\\");
            }
            continue;
        }
        if (c < 0x80) {
            // A run of plain ASCII goes in one piece.
            zero |= c == 0;
            std::size_t end = i + 1;
            while (end < n) {
                const auto d = static_cast<unsigned char>(text[end]);
                if (d >= 0x80 || d == '\\' || d == 0) break;
                ++end;
            }
            std::memcpy(bytes.next, text.data() + i, end - i);
            bytes.next += end - i;
            i = end;
            continue;
        }
        // The Russian alphabet (U+0410-044F, two bytes) maps onto C0-FF.
        if ((c == 0xD0 || c == 0xD1) && i + 1 < n) {
            const std::uint32_t cp = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            if ((static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80 && cp >= 0x410 && cp <= 0x44F) {
                bytes.push_back(static_cast<std::uint8_t>(0xC0 + (cp - 0x410)));
                i += 2;
                continue;
            }
        }
        // One UTF-8 sequence, checked strictly (no overlong forms, no surrogates).
        std::uint32_t cp = 0;
        std::size_t len = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1Fu;
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0Fu;
            len = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07u;
            len = 4;
        } else {
            Bad("UTF-8 text");
        }
        if (i + len > n) Bad("UTF-8 text");
        for (std::size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) Bad("UTF-8 text");
            cp = cp << 6 | (cc & 0x3Fu);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            Bad("UTF-8 text");
        const int b = Cp1251Byte(cp);
        if (b < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            Bad(std::string("characters that Windows-1251 has (") + code + " is not one of them)");
        }
        bytes.push_back(static_cast<std::uint8_t>(b));
        i += len;
    }
    return zero;
}

void AppendFloat(std::string& out, std::uint32_t bits) {
    TextSink sink(out);
    AppendFloat(sink, bits);
}

namespace {

// The floats AppendShortFloat leaves, out of line: the common path keeps a
// small frame.
[[gnu::noinline]] void AppendOtherFloat(TextSink& out, std::uint32_t bits) {
    if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0) {
        // No decimal carries a NaN's payload; its bits do.
        char* p = out.Room(14);
        std::memcpy(p, "nan:0x", 6);
        p += 6;
        for (int shift = 28; shift >= 0; shift -= 4) *p++ = kHexDigits[bits >> shift & 15];
        out.Advance(p);
        return;
    }
    // -0 and -inf would be a formula or the number 0 to a spreadsheet.
    if (bits == 0x80000000u) {
        out.Add("\\e-0");
        return;
    }
    if (bits == 0xFF800000u) {
        out.Add("\\e-inf");
        return;
    }
    const float value = std::bit_cast<float>(bits);
    if (value > -100000.0f && value < 100000.0f && AppendShortDecimal(out, value)) return;
    // People write 400000, not 4e+05. A spreadsheet shows about 11
    // characters and saves what it shows: a longer plain form would come
    // back rounded, so that value stays text. From 1e12 up and below 1e-10
    // the plain form has 12 characters or more: no need to make it.
    const float magnitude = value < 0 ? -value : value;
    if (!(magnitude >= 1e12f && magnitude <= std::numeric_limits<float>::max()) && !(magnitude < 1e-10f && magnitude != 0)) {
        char text[128];
        const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
        if (static_cast<std::size_t>(result.ptr - text) <= kMaxPlainFloat) {
            out.Add(std::string_view(text, static_cast<std::size_t>(result.ptr - text)));
            return;
        }
    }
    out.Add(kTextMark);
    AppendNumber(out, value);
}

}  // namespace

void AppendFloat(TextSink& out, std::uint32_t bits) {
    // -0 keeps its sign as "\e-0"; NaN is never below.
    const float value = std::bit_cast<float>(bits);
    if (!(std::fabs(value) < 100000.0f && bits != 0x80000000u && AppendShortFloat(out, bits))) AppendOtherFloat(out, bits);
}

std::string_view NumberText(std::string_view cell) {
    for (;;) {
        if (cell.starts_with(' ')) cell.remove_prefix(1);
        else if (cell.starts_with("\xC2\xA0")) cell.remove_prefix(2);
        else if (cell.ends_with(' ')) cell.remove_suffix(1);
        else if (cell.ends_with("\xC2\xA0")) cell.remove_suffix(2);
        else break;
    }
    if (cell.starts_with(kTextMark)) cell.remove_prefix(kTextMark.size());
    if (cell.size() > 1 && cell[0] == '+' && cell[1] != '-' && cell[1] != '+') cell.remove_prefix(1);
    return cell;
}

bool AmbiguousComma(std::string_view number) {
    if (number.starts_with('-')) number.remove_prefix(1);
    const std::size_t comma = number.find(',');
    if (comma == std::string_view::npos || comma == 0 || comma > 3 || number.size() != comma + 4 || number[0] == '0')
        return false;
    for (std::size_t i = 0; i < number.size(); ++i)
        if (i != comma && (number[i] < '0' || number[i] > '9')) return false;
    return true;
}

bool ParseFloat(std::string_view text, std::uint32_t& bits) {
    text = NumberText(text);
    return !AmbiguousComma(text) && ParseFloatText(text, bits);
}

bool ParseFloatText(std::string_view text, std::uint32_t& bits) {
    if (text.starts_with("nan:0x") || text.starts_with("nan:0X")) {
        const std::string_view digits = text.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t v = 0;
        for (const char c : digits) {
            const int d = HexValue(c);
            if (d < 0) return false;
            v = v << 4 | static_cast<std::uint32_t>(d);
        }
        if ((v & 0x7F800000u) != 0x7F800000u || (v & 0x007FFFFFu) == 0) return false;
        bits = v;
        return true;
    }
    // Most of the game's floats are whole numbers or short decimals: with
    // at most 2^24 as digits and 10 after the point, one division gives
    // the float without the decimal search. "-0" keeps its sign.
    bool point = false;
    if (ParseShortDecimal(text, bits, point)) return true;
    // Spreadsheets in many locales write a decimal comma.
    bool comma = false;
    bool dot = false;
    for (const char c : text) {
        comma |= c == ',';
        dot |= c == '.';
    }
    char local[64];
    if (comma && !dot && text.size() < sizeof local) {
        std::memcpy(local, text.data(), text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
            if (local[i] == ',') local[i] = '.';
        text = std::string_view(local, text.size());
        if (ParseShortDecimal(text, bits, point)) return true;
    }
    float value = 0;
    if (text.empty()) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    bits = std::bit_cast<std::uint32_t>(value);
    // "nan" without a pattern: the usual quiet NaN, sign kept.
    if (value != value) bits = (text[0] == '-' ? 0xFFC00000u : 0x7FC00000u);
    return true;
}

}  // namespace gamedb
