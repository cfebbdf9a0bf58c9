// Windows-1251, the game's code page, to and from UTF-8.
//
// Byte 0x98 has no character in the code page; it maps to U+0098 so that
// every byte value survives a trip through UTF-8 and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace resarc {

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
