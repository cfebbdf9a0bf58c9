#include "archive/cp1251.h"

#include <array>
#include <cstdint>

namespace resarc {

namespace {

// The characters of bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

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
        const auto byte = static_cast<unsigned char>(ch);
        AppendUtf8(out, byte < 0x80 ? byte : kHigh[byte - 0x80u]);
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
        if (*c < 0x80) {
            out += static_cast<char>(*c);
            continue;
        }
        // The Cyrillic alphabet is one run; the rest is a short search.
        if (*c >= 0x0410 && *c <= 0x044F) {
            out += static_cast<char>(0xC0 + (*c - 0x0410));
            continue;
        }
        std::size_t i = 0;
        while (i < 0x40 && kHigh[i] != *c) ++i;
        if (i == 0x40) return std::nullopt;
        out += static_cast<char>(0x80 + i);
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
