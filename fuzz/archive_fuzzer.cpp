// Feeds arbitrary bytes to the archive reader as an archive in memory. A
// damaged archive must end in ArchiveError; any other exception escapes and
// aborts, which the fuzzer reports as a crash, as it does sanitizer
// findings, leaks and hangs. What opens must read, look up and plan a
// rewrite of every member.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/archive.h"
#include "archive/cp1251.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const resarc::Archive archive =
            resarc::Archive::FromMemory(std::string(reinterpret_cast<const char*>(data), size), "fuzz.res");
        for (const resarc::Entry& entry : archive.Entries()) {
            if (archive.Read(entry).size() != entry.size) std::abort();
            const resarc::Entry* found = archive.Find(entry.name);
            if (!found || !resarc::SameName(found->name, entry.name)) std::abort();
            if (!archive.FindUtf8(resarc::Cp1251ToUtf8(entry.name))) std::abort();
            (void)resarc::SafeRelativePath(entry.name);
        }
        const resarc::Layout layout = resarc::PlanArchive(archive.Members(), "fuzz.res");
        if (layout.slots.size() != archive.Entries().size()) std::abort();
    } catch (const resarc::ArchiveError&) {
    }
    return 0;
}
