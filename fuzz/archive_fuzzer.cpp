// Feeds arbitrary bytes to the archive reader as an archive in memory. A
// damaged archive must end in ArchiveError; any other exception escapes and
// aborts, which the fuzzer reports as a crash, as it does sanitizer
// findings, leaks and hangs. What opens must read, look up and plan a
// rewrite of every member, and take one member replaced in place: the
// result is read again and must hold the new data there and every other
// member as it was, at its offset, with its time and slot.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/fresh_layout.h"
#include "archive/in_place.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void ReplaceOne(const resarc::Archive& before, const std::string& bytes, std::uint8_t choice) {
    if (before.Entries().empty()) return;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("archive_fuzzer-" + std::to_string(::getpid()) + ".res");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fclose(file) == 0);

    // The member the lookup finds by that name (names may repeat).
    const resarc::Entry& target = *before.Find(before.Entries()[choice % before.Entries().size()].name);
    const std::size_t sizes[] = {target.size, target.size / 2, target.size + 1, target.size + 100};
    const std::string data(sizes[(choice >> 4) % 4], static_cast<char>(choice | 1));
    resarc::UpdateOptions options;
    options.copyUpTo = (choice & 8) ? 0 : UINT64_MAX;
    std::vector<resarc::Edit> edits;
    edits.push_back(resarc::Edit{resarc::EditKind::kReplace, resarc::Member{target.name, 0, data}});
    resarc::UpdateArchive(path, path, std::move(edits), options);

    const resarc::Archive after = resarc::Archive::Open(path);
    Require(after.Entries().size() == before.Entries().size());
    std::vector<const resarc::Entry*> bySlot(after.Entries().size());
    for (const resarc::Entry& entry : after.Entries()) bySlot[entry.slot] = &entry;
    for (const resarc::Entry& old : before.Entries()) {
        const resarc::Entry& now = *bySlot[old.slot];
        Require(now.name == old.name && now.nameOffset == old.nameOffset);
        if (old.slot == target.slot) {
            Require(after.Read(now) == data);
        } else {
            Require(now.offset == old.offset && now.time == old.time && after.Read(now) == before.Read(old));
        }
    }
    std::filesystem::remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        const resarc::Archive archive = resarc::Archive::FromMemory(bytes, "fuzz.res");
        for (const resarc::Entry& entry : archive.Entries()) {
            if (archive.Read(entry).size() != entry.size) std::abort();
            const resarc::Entry* found = archive.Find(entry.name);
            if (!found || !resarc::SameName(found->name, entry.name)) std::abort();
            if (!archive.FindUtf8(resarc::Cp1251ToUtf8(entry.name))) std::abort();
            (void)resarc::SafeRelativePath(entry.name);
        }
        const resarc::Layout layout = resarc::PlanArchive(archive.Members(), "fuzz.res");
        if (layout.slots.size() != archive.Entries().size()) std::abort();
        // A sound archive must take the change: an error there is a finding.
        try {
            ReplaceOne(archive, bytes, size > 0 ? data[size - 1] : 0);
        } catch (const resarc::ArchiveError&) {
            std::abort();
        }
    } catch (const resarc::ArchiveError&) {
    }
    return 0;
}
