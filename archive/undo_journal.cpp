#include "archive/undo_journal.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "archive/archive_bits.h"
#include "archive/file_ops.h"
#include "archive/file_util.h"
#include "archive/in_place.h"
#include "export/file_io.h"

namespace resarc {

namespace journal {

using bits::kChunk;

void Output::At(std::uint64_t offset) {
    if (!idb::SeekFile(file_, offset)) {
        throw ArchiveError("cannot write \"" + name_ + "\" at offset " + std::to_string(offset) + ": " +
                           LastErrorText());
    }
}

void Output::Put(std::string_view bytes) {
    const std::size_t half = bytes.size() / 2;
    PutWhole(bytes.substr(0, half));
    PutWhole(bytes.substr(half));
}

void Output::PutZeros(std::uint64_t length) {
    static const std::string kZeros(kChunk, '\0');
    for (; length > 0; length -= std::min<std::uint64_t>(length, kChunk)) {
        Put(std::string_view(kZeros).substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunk))));
    }
}

void Output::PutWhole(std::string_view bytes) {
    if (bytes.empty()) return;
    Hook();
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        throw ArchiveError("cannot write \"" + name_ + "\": " + LastErrorText());
    }
}

// The journal: "RESUNDO1", the old size (u64), the number of stretches
// (u32), each stretch as offset (u64), length (u64) and its old bytes, then
// an FNV-1a 64 checksum of all that (u64). Little-endian throughout.

namespace {

constexpr std::string_view kJournalMagic = "RESUNDO1";

class Checksum {
public:
    void Add(std::string_view bytes) {
        for (const char c : bytes) value_ = (value_ ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    }
    std::uint64_t Value() const { return value_; }

private:
    std::uint64_t value_ = 0xCBF29CE484222325ull;
};

std::string Le64(std::uint64_t value) {
    std::string out;
    for (int shift = 0; shift < 64; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}

std::uint64_t ReadLe64(std::string_view bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return value;
}

// Reads the journal's stretches; with `archive` open, also writes them back.
std::uint64_t ReadJournal(const std::filesystem::path& journal, std::FILE* archive) {
    const std::string name = PathToUtf8(journal);
    const auto damaged = [&name](const std::string& what) -> ArchiveError {
        return ArchiveError("the undo journal \"" + name + "\" is damaged (" + what +
                            "); the archive beside it may be half-changed");
    };
    std::error_code error;
    idb::ScopedFile file = idb::OpenForRead(journal, error);
    if (!file) throw ArchiveError("cannot open the undo journal \"" + name + "\": " + error.message());
    const std::uint64_t journalSize = std::filesystem::file_size(journal, error);
    if (error) throw ArchiveError("cannot read the undo journal \"" + name + "\": " + error.message());
    Checksum sum;
    std::uint64_t consumed = 0;
    const auto read = [&](std::uint64_t length) {
        if (length > journalSize - consumed) throw damaged("it ends early");
        std::string bytes(static_cast<std::size_t>(length), '\0');
        if (std::fread(bytes.data(), 1, bytes.size(), file.Get()) != bytes.size()) throw damaged("it ends early");
        consumed += length;
        return bytes;
    };
    const auto summed = [&](std::uint64_t length) {
        std::string bytes = read(length);
        sum.Add(bytes);
        return bytes;
    };
    if (summed(8) != kJournalMagic) throw damaged("wrong signature");
    const std::uint64_t oldSize = ReadLe64(summed(8));
    const std::uint32_t count = bits::Le32(summed(4).data());
    std::optional<Output> out;
    const std::function<void()> noHook;
    if (archive) out.emplace(archive, name, noHook);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t offset = ReadLe64(summed(8));
        const std::uint64_t length = ReadLe64(summed(8));
        if (offset > oldSize || length > oldSize - offset) throw damaged("a stretch lies past the old size");
        if (out) out->At(offset);
        for (std::uint64_t left = length; left > 0;) {
            const std::string piece = summed(std::min<std::uint64_t>(left, kChunk));
            if (out) out->Put(piece);
            left -= piece.size();
        }
    }
    if (ReadLe64(read(8)) != sum.Value() || consumed != journalSize) throw damaged("wrong checksum");
    return oldSize;
}

}  // namespace

// Sorted, merged, and cut to the old file.
std::vector<Stretch> Normalise(std::vector<Stretch> stretches, std::uint64_t oldSize) {
    std::sort(stretches.begin(), stretches.end(),
              [](const Stretch& a, const Stretch& b) { return a.offset < b.offset; });
    std::vector<Stretch> merged;
    for (Stretch s : stretches) {
        if (s.offset >= oldSize || s.length == 0) continue;
        s.length = std::min(s.length, oldSize - s.offset);
        if (!merged.empty() && merged.back().offset + merged.back().length >= s.offset) {
            Stretch& last = merged.back();
            last.length = std::max(last.offset + last.length, s.offset + s.length) - last.offset;
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

bool Flush(std::FILE* file, bool durable) { return durable ? SyncFile(file) : std::fflush(file) == 0; }

void Write(const std::filesystem::path& archive, std::uint64_t oldSize, const std::vector<Stretch>& stretches,
           const std::function<void()>& hook, bool durable) {
    const std::filesystem::path path = JournalPath(archive);
    TempOutput output(path);
    Output out(output.Get(), PathToUtf8(path), hook);
    Checksum sum;
    const auto put = [&](std::string_view bytes) {
        sum.Add(bytes);
        out.Put(bytes);
    };
    put(kJournalMagic);
    put(Le64(oldSize));
    std::string count;
    bits::PutLe32(count, static_cast<std::uint32_t>(stretches.size()));
    put(count);
    for (const Stretch& s : stretches) {
        put(Le64(s.offset));
        put(Le64(s.length));
        bits::StreamRegion(FileRegion{archive, s.offset, s.length}, "the bytes to keep in the undo journal", put);
    }
    out.Put(Le64(sum.Value()));
    // The journal must be on the disk before the archive is touched.
    out.Hook();
    if (!Flush(output.Get(), durable)) throw ArchiveError("cannot write \"" + PathToUtf8(path) + "\": " + LastErrorText());
    output.Commit();
}

}  // namespace journal

std::filesystem::path JournalPath(const std::filesystem::path& archive) {
    std::filesystem::path journal = archive;
    journal += "~undo";
    return journal;
}

bool RollBackInterruptedChange(const std::filesystem::path& archive) {
    const std::filesystem::path journalPath = JournalPath(archive);
    std::error_code error;
    if (!std::filesystem::exists(journalPath, error)) return false;
    const std::string name = PathToUtf8(archive);
    journal::ReadJournal(journalPath, nullptr);  // whole and sound before anything is written
    idb::ScopedFile file = OpenForUpdate(archive, error);
    if (!file) bits::Fail(name, "cannot open to undo an interrupted change: " + error.message());
    const std::uint64_t oldSize = journal::ReadJournal(journalPath, file.Get());
    errno = 0;
    if (!TruncateFile(file.Get(), oldSize) || !SyncFile(file.Get()) || !file.Close()) {
        bits::Fail(name, "cannot undo an interrupted change: " + LastErrorText());
    }
    std::filesystem::remove(journalPath, error);
    if (error) bits::Fail(name, "cannot remove the undo journal: " + error.message());
    return true;
}

}  // namespace resarc
