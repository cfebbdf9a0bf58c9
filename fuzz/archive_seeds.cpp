// Writes a small seed corpus for archive_fuzzer: sound archives with chains,
// empty members and Cyrillic names.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "archive/cp1251.h"

using resarc::Member;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: archive_seeds DIR\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        const auto member = [](std::string name, std::string data) {
            return Member{std::move(name), 0x3ACAF33C, std::move(data)};
        };
        resarc::WriteArchive(dir / "empty.res", {});
        resarc::WriteArchive(dir / "one.res", std::vector<Member>{member("a", "x")});
        resarc::WriteArchive(dir / "quest.mq",
                             std::vector<Member>{member("briefing z3q1_1", std::string(70, 'b')),
                                                 member("briefing z3q1_2", std::string(25, 'c')),
                                                 member("quest z3q1", std::string(34, 'q')),
                                                 member("z3q1\\map.txt", std::string(18, 'm')),
                                                 member("z3q1\\quest.reg", std::string(37, 'r'))});
        resarc::WriteArchive(dir / "chain.res",
                             std::vector<Member>{member("ad", "1"), member("bc", ""), member("cb", "3"),
                                                 member("DA", "4")});
        resarc::WriteArchive(dir / "cyrillic.res",
                             std::vector<Member>{member(*resarc::Utf8ToCp1251("Данные\\Предметы.idb"), "idb"),
                                                 member(*resarc::Utf8ToCp1251("данные\\ПРЕДМЕТЫ.IDB"), ""),
                                                 member(*resarc::Utf8ToCp1251("Ёлка"), "ё")});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "archive_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
