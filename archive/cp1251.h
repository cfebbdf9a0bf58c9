// Windows-1251, the game's code page, to and from UTF-8.
//
// Byte 0x98 has no character in the code page; it maps to U+0098 so that
// every byte value survives a trip through UTF-8 and back.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace resarc {

// The characters of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in
// order. Constant, so that tables built from it are built by the compiler.
inline constexpr std::array<char16_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// The character of one byte.
constexpr char32_t Cp1251Char(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return 0x0410 + (byte - 0xC0u);
    return kCp1251High[byte - 0x80u];
}

// The byte of a character; -1 when the code page lacks it.
constexpr int Cp1251Byte(char32_t c) {
    if (c < 0x80) return static_cast<int>(c);
    // The Cyrillic alphabet is one run; the rest is a short search.
    if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < kCp1251High.size(); ++i)
        if (kCp1251High[i] == c) return static_cast<int>(0x80 + i);
    return -1;
}

// Every byte has a character, so this cannot fail.
std::string Cp1251ToUtf8(std::string_view cp1251);
// nullopt when the text is not valid UTF-8 or holds a character the code
// page lacks.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);

// Lower case of one byte: ASCII letters and the Cyrillic capitals.
unsigned char Cp1251Lower(unsigned char byte);
// Lower case of ASCII letters only; every other byte as it is.
inline unsigned char AsciiLower(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

}  // namespace resarc
