#include "archive/cp1251.h"

#include <array>
#include <cstdint>

namespace resarc {

namespace {

// The non-ASCII characters of bytes 0x80..0xBF that have a lower-case
// partner in the code page: capital byte, small byte.
constexpr std::array<std::array<unsigned char, 2>, 15> kHighCapitals = {{
    {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
    {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3},
    {0xBD, 0xBE},
}};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of `utf8` at `pos`, advancing `pos`; nullopt when the
// bytes there are not well-formed UTF-8 (overlong forms and surrogates too).
std::optional<char32_t> NextCodePoint(std::string_view utf8, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int more = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) more = 1, c = lead & 0x1Fu, least = 0x80;
    else if ((lead & 0xF0) == 0xE0) more = 2, c = lead & 0x0Fu, least = 0x800;
    else if ((lead & 0xF8) == 0xF0) more = 3, c = lead & 0x07u, least = 0x10000;
    else return std::nullopt;
    if (utf8.size() - pos <= static_cast<std::size_t>(more)) return std::nullopt;
    for (int i = 1; i <= more; ++i) {
        const unsigned char next = byte(pos + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    pos += static_cast<std::size_t>(more) + 1;
    return c;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (const char ch : cp1251) {
        AppendUtf8(out, Cp1251Char(static_cast<unsigned char>(ch)));
    }
    return out;
}

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::optional<char32_t> c = NextCodePoint(utf8, pos);
        if (!c) return std::nullopt;
        const int byte = Cp1251Byte(*c);
        if (byte < 0) return std::nullopt;
        out += static_cast<char>(byte);
    }
    return out;
}

unsigned char Cp1251Lower(unsigned char byte) {
    if (byte < 0x80) return AsciiLower(byte);
    if (byte >= 0xC0 && byte <= 0xDF) return static_cast<unsigned char>(byte + 0x20);
    for (const auto& pair : kHighCapitals) {
        if (pair[0] == byte) return pair[1];
    }
    return byte;
}

}  // namespace resarc
