// Windows-1251 <-> UTF-8 for member names, and the code page's lower case.
#include <gtest/gtest.h>

#include <string>

#include "archive/cp1251.h"

using resarc::Cp1251ToUtf8;
using resarc::Utf8ToCp1251;

TEST(ArchiveCp1251, EveryByteSurvivesUtf8AndBack) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(utf8), all);
}

TEST(ArchiveCp1251, KnownCharacters) {
    struct Case {
        std::string cp1251;
        const char* utf8;
    };
    const Case kCases[] = {
        {"\xC0\xE0\xDF\xFF", "АаЯя"},
        {"\xA8\xB8", "Ёё"},
        {"\xB9", "№"},
        {"\x88", "€"},
        {"\x98", "\xC2\x98"},   // no character in the code page: U+0098 keeps the byte
        {"\xA5\xB4\xAA\xBA\xAF\xBF\xB2\xB3", "ҐґЄєЇїІі"},
        {"z3q1\\map.txt", "z3q1\\map.txt"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8);
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
    }
}

TEST(ArchiveCp1251, RefusesWhatTheCodePageCannotHold) {
    const char* const kCases[] = {
        "日本",              // not in the code page
        "\xC3\xA9",         // é, not in the code page
        "\xF0\x9F\x98\x80", // outside the BMP
        "\xC0\x80",         // overlong
        "\xED\xA0\x80",     // surrogate
        "\xD0",             // cut short
        "\xD0\x41",         // bad continuation
        "\x80",             // stray continuation
        "\xFF",
    };
    for (const char* utf8 : kCases) EXPECT_EQ(Utf8ToCp1251(utf8), std::nullopt) << utf8;
}

TEST(ArchiveCp1251, LowerCase) {
    const std::string capitals = *Utf8ToCp1251("ABZАБЯЁЂЃЉЊЌЋЏЎЈҐЄЇІЅ");
    const std::string smalls = *Utf8ToCp1251("abzабяёђѓљњќћџўјґєїіѕ");
    ASSERT_EQ(capitals.size(), smalls.size());
    for (std::size_t i = 0; i < capitals.size(); ++i) {
        const auto capital = static_cast<unsigned char>(capitals[i]);
        const auto small = static_cast<unsigned char>(smalls[i]);
        EXPECT_EQ(resarc::Cp1251Lower(capital), small) << i;
        EXPECT_EQ(resarc::Cp1251Lower(small), small) << i;
    }
    for (const char kept : std::string("1\\\x98\xB9\xA0\x88")) {
        EXPECT_EQ(resarc::Cp1251Lower(static_cast<unsigned char>(kept)), static_cast<unsigned char>(kept));
    }
    EXPECT_EQ(resarc::AsciiLower(0xC0), 0xC0);
    EXPECT_EQ(resarc::AsciiLower('Q'), 'q');
}
