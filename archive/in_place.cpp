#include "archive/in_place.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>
#include <variant>

#include "archive/archive_bits.h"
#include "archive/file_ops.h"
#include "archive/file_util.h"
#include "archive/fresh_layout.h"
#include "archive/undo_journal.h"
#include "export/file_io.h"

namespace resarc {

using bits::AlignUp;
using bits::Fail;
using bits::kMaxOffset;
using bits::Quoted;

namespace {

// ---------------------------------------------------------------------------
// Planning

// One stretch of the result: bytes, zeros, or a member's new data.
struct Piece {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::string bytes;
    const Member* member = nullptr;
    bool zeros = false;
};

struct Plan {
    std::vector<Piece> pieces;  // in write order; a later piece wins
    std::uint64_t newSize = 0;
    UpdateResult result;
};

// Whether `member` holds exactly the bytes of `entry`; stops at the first difference.
bool SameBytes(const Archive& archive, const Entry& entry, const Member& member) {
    if (member.Size() != entry.size) return false;
    struct Differs {};
    std::string mine;
    std::uint64_t at = 0;
    try {
        // The new data is read alongside, piece by piece, never whole.
        idb::ScopedFile file;
        const auto* region = std::get_if<FileRegion>(&member.data);
        if (region) {
            std::error_code error;
            file = idb::OpenForRead(region->path, error);
            if (!file || !idb::SeekFile(file.Get(), region->offset)) {
                throw ArchiveError("cannot read \"" + PathToUtf8(region->path) + "\": " +
                                   (error ? error.message() : LastErrorText()));
            }
        }
        archive.Stream(entry, [&](std::string_view piece) {
            if (region) {
                mine.resize(piece.size());
                if (std::fread(mine.data(), 1, mine.size(), file.Get()) != mine.size()) {
                    throw ArchiveError("\"" + PathToUtf8(region->path) + "\" ends early");
                }
            } else {
                mine = std::get<std::string>(member.data).substr(static_cast<std::size_t>(at), piece.size());
            }
            if (mine != piece) throw Differs{};
            at += piece.size();
        });
    } catch (const Differs&) {
        return false;
    }
    return true;
}

Plan MakePlan(const Archive& archive, std::vector<Edit>& edits, const std::filesystem::path& source) {
    const std::string& label = archive.DisplayName();
    const std::span<const Entry> entries = archive.Entries();
    const std::size_t n = entries.size();
    std::vector<const Member*> replacement(n, nullptr);
    std::vector<bool> removed(n, false);
    std::vector<const Member*> added;
    Plan plan;

    const auto existing = [&](std::string_view name) -> std::optional<std::size_t> {
        const Entry* found = archive.Find(name);
        if (!found || removed[static_cast<std::size_t>(found - entries.data())]) return std::nullopt;
        return static_cast<std::size_t>(found - entries.data());
    };
    const auto checkSource = [&](const Member& member) {
        const auto* region = std::get_if<FileRegion>(&member.data);
        // Writing in place would change what is being read.
        if (region && idb::SameFile(region->path, source)) {
            Fail(label, "the new data of " + Quoted(member.name) + " would be read from the archive itself");
        }
        if (member.Size() > kMaxOffset) Fail(label, "the member " + Quoted(member.name) + " is larger than 4 GiB");
    };
    for (Edit& edit : edits) {
        Member& member = edit.member;
        const std::optional<std::size_t> index = existing(member.name);
        switch (edit.kind) {
        case EditKind::kReplace:
            if (!index) Fail(label, "has no member " + Quoted(member.name) + " to replace");
            checkSource(member);
            member.name = entries[*index].name;
            member.time = CurrentTime();
            replacement[*index] = SameBytes(archive, entries[*index], member) ? nullptr : &member;
            break;
        case EditKind::kAdd:
            if (member.name.empty()) Fail(label, "a member needs a name");
            if (member.name.size() > 0xFFFF) Fail(label, "a member name is longer than 65535 bytes");
            if (index || std::any_of(added.begin(), added.end(),
                                     [&](const Member* m) { return SameName(m->name, member.name); })) {
                Fail(label, "already has a member " + Quoted(member.name) + " (replace it instead)");
            }
            checkSource(member);
            member.time = CurrentTime();
            added.push_back(&member);
            break;
        case EditKind::kRemove:
            if (!index) Fail(label, "has no member " + Quoted(member.name) + " to remove");
            removed[*index] = true;
            replacement[*index] = nullptr;
            plan.result.changed.push_back(entries[*index].name);
            break;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (replacement[i]) plan.result.changed.push_back(entries[i].name);
    }
    for (const Member* member : added) plan.result.changed.push_back(member->name);
    const bool countChanged = !added.empty() || std::find(removed.begin(), removed.end(), true) != removed.end();
    plan.result.tableRebuilt = countChanged;
    plan.newSize = archive.FileSize();
    if (plan.result.changed.empty()) return plan;

    // Where each member ends up. A member's space reaches the next member
    // with data (empty members hold no bytes) or the table; an empty member
    // that sits where another's data starts has none.
    const bool aligned = archive.Aligned();
    const std::uint64_t step = aligned ? kAlignment : 1;
    std::vector<std::uint64_t> offset(n), size(n), spaceEnd(n), previousEnd(n);
    std::vector<bool> moved(n, false);
    std::uint64_t bound = archive.TableOffset();
    for (std::size_t i = n; i-- > 0;) {
        spaceEnd[i] = bound;
        if (entries[i].size > 0) bound = entries[i].offset;
    }
    bound = kHeaderSize;
    for (std::size_t i = 0; i < n; ++i) {
        previousEnd[i] = bound;
        bound = std::max<std::uint64_t>(bound, std::uint64_t{entries[i].offset} + entries[i].size);
    }
    std::uint64_t tailStart = kHeaderSize;
    for (std::size_t i = 0; i < n; ++i) {
        offset[i] = entries[i].offset;
        size[i] = replacement[i] ? replacement[i]->Size() : entries[i].size;
        if (removed[i]) continue;
        const bool fits = size[i] == 0 || (offset[i] >= previousEnd[i] && offset[i] + size[i] <= spaceEnd[i]);
        if (replacement[i] && !fits) {
            moved[i] = true;
            plan.result.moved.push_back(entries[i].name);
            continue;
        }
        tailStart = std::max(tailStart, offset[i] + size[i]);
        if (!replacement[i]) continue;
        plan.pieces.push_back(Piece{offset[i], size[i], {}, replacement[i]});
        // The rest of its old bytes would otherwise read as a stale tail.
        if (size[i] < entries[i].size) plan.pieces.push_back(Piece{offset[i] + size[i], entries[i].size - size[i], {}, nullptr, true});
    }

    // After the last member: moved members in data order, then added ones.
    std::uint64_t position = AlignUp(tailStart, step);
    const auto append = [&](const Member& member, std::uint64_t& at) {
        at = position;
        const std::uint64_t end = position + member.Size();
        if (end > kMaxOffset) Fail(label, "the member " + Quoted(member.name) + " would end past 4 GiB, the format's limit");
        plan.pieces.push_back(Piece{position, member.Size(), {}, &member});
        position = AlignUp(end, step);
        if (position > end) plan.pieces.push_back(Piece{end, position - end, {}, nullptr, true});
    };
    bool appended = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (moved[i]) append(*replacement[i], offset[i]), appended = true;
    }
    std::vector<std::uint64_t> addedOffset(added.size());
    for (std::size_t k = 0; k < added.size(); ++k) append(*added[k], addedOffset[k]), appended = true;

    // The table and pool: kept where they are when only data inside the
    // old space changed, else written after the data.
    struct Final {
        std::string_view name;
        std::uint64_t offset, size;
        std::int32_t time;
        std::uint32_t slot, nameOffset;
        std::int32_t next;
    };
    std::vector<Final> finals;
    std::vector<std::size_t> poolOrder;
    for (std::size_t i = 0; i < n; ++i) {
        if (removed[i]) continue;
        finals.push_back(Final{entries[i].name, offset[i], size[i], replacement[i] ? replacement[i]->time : entries[i].time,
                               entries[i].slot, entries[i].nameOffset, archive.NextOfSlot()[entries[i].slot]});
    }
    for (std::size_t k = 0; k < added.size(); ++k) {
        finals.push_back(Final{added[k]->name, addedOffset[k], added[k]->Size(), added[k]->time, 0, 0, -1});
    }
    const auto count = static_cast<std::uint32_t>(finals.size());
    std::string pool;
    std::uint64_t namesSize = archive.NamesSize();
    if (countChanged) {
        // The recipe's slots in data order; the pool in its old order, added names last.
        std::vector<std::size_t> order(count);
        for (std::size_t i = 0; i < count; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return finals[a].offset < finals[b].offset; });
        std::vector<std::string_view> names;
        for (const std::size_t i : order) names.push_back(finals[i].name);
        const SlotPlan slots = AssignSlots(names);
        for (std::size_t k = 0; k < count; ++k) {
            finals[order[k]].slot = slots.slots[k];
            finals[order[k]].next = slots.nextOfSlot[slots.slots[k]];
        }
        const std::size_t kept = count - added.size();
        std::vector<std::size_t> byPool(count);
        for (std::size_t i = 0; i < count; ++i) byPool[i] = i;
        std::stable_sort(byPool.begin(), byPool.begin() + static_cast<std::ptrdiff_t>(kept),
                         [&](std::size_t a, std::size_t b) { return finals[a].nameOffset < finals[b].nameOffset; });
        for (const std::size_t i : byPool) {
            finals[i].nameOffset = static_cast<std::uint32_t>(pool.size());
            pool += finals[i].name;
            if (pool.size() > kMaxOffset) Fail(label, "the name pool would pass 4 GiB");
        }
        namesSize = pool.size();
    }
    const bool tableMoves = appended || countChanged;
    const std::uint64_t tableOffset = tableMoves ? position : archive.TableOffset();
    plan.newSize = tableOffset + std::uint64_t{count} * kEntrySize + namesSize;
    if (plan.newSize > kMaxOffset) Fail(label, "the archive would pass 4 GiB, the format's limit");

    const auto encode = [](const Final& f) {
        return bits::EncodeEntry(f.next, static_cast<std::uint32_t>(f.size), static_cast<std::uint32_t>(f.offset),
                                 f.time, f.name.size(), f.nameOffset);
    };
    if (tableMoves) {
        std::string table(std::size_t{count} * kEntrySize, '\0');
        for (const Final& f : finals) table.replace(std::size_t{f.slot} * kEntrySize, kEntrySize, encode(f));
        if (!countChanged) {
            // The same names in the same places: the pool as it is.
            const std::uint64_t poolAt = std::uint64_t{archive.TableOffset()} + n * kEntrySize;
            bits::StreamRegion(FileRegion{source, poolAt, archive.NamesSize()}, "the name pool of \"" + label + "\"",
                               [&pool](std::string_view piece) { pool += piece; });
        }
        plan.pieces.push_back(Piece{tableOffset, table.size() + pool.size(), table + pool});
        plan.pieces.push_back(Piece{0, kHeaderSize,
                                    bits::EncodeHeader(count, static_cast<std::uint32_t>(tableOffset),
                                                       static_cast<std::uint32_t>(namesSize))});
    } else {
        for (std::size_t i = 0, f = 0; i < n; ++i, ++f) {
            if (replacement[i]) {
                plan.pieces.push_back(Piece{tableOffset + std::uint64_t{finals[f].slot} * kEntrySize, kEntrySize, encode(finals[f])});
            }
        }
    }
    return plan;
}

void WritePieces(journal::Output& out, const std::vector<Piece>& pieces) {
    for (const Piece& piece : pieces) {
        out.At(piece.offset);
        if (piece.member) bits::StreamMember(*piece.member, [&out](std::string_view bytes) { out.Put(bytes); });
        else if (piece.zeros) out.PutZeros(piece.length);
        else out.Put(piece.bytes);
    }
}

void ChangeInPlace(const std::filesystem::path& path, const std::string& label, std::uint64_t oldSize,
                   const Plan& plan, const UpdateOptions& options) {
    std::vector<journal::Stretch> stretches;
    for (const Piece& piece : plan.pieces) stretches.push_back(journal::Stretch{piece.offset, piece.length});
    if (plan.newSize < oldSize) stretches.push_back(journal::Stretch{plan.newSize, oldSize - plan.newSize});
    journal::Write(path, oldSize, journal::Normalise(std::move(stretches), oldSize), options.beforeWrite, options.durable);
    try {
        std::error_code error;
        idb::ScopedFile file = OpenForUpdate(path, error);
        if (!file) Fail(label, "cannot open for writing: " + error.message());
        journal::Output out(file.Get(), label, options.beforeWrite);
        WritePieces(out, plan.pieces);
        out.Hook();
        if (plan.newSize < oldSize && !TruncateFile(file.Get(), plan.newSize)) Fail(label, "cannot cut to its new size: " + LastErrorText());
        out.Hook();
        errno = 0;
        if (!journal::Flush(file.Get(), options.durable) || !file.Close()) Fail(label, "cannot write: " + LastErrorText());
        out.Hook();
        std::filesystem::remove(JournalPath(path), error);
        if (error) Fail(label, "cannot remove the undo journal: " + error.message());
    } catch (const std::exception& failure) {
        if (!options.rollBackOnFailure) throw;
        try {
            RollBackInterruptedChange(path);
        } catch (const ArchiveError& rollBack) {
            throw ArchiveError(std::string(failure.what()) + "; then putting the old bytes back failed: " + rollBack.what());
        }
        throw;
    }
}

void ChangeThroughCopy(const std::filesystem::path& source, const std::filesystem::path& target, std::uint64_t oldSize,
                       const Plan& plan, const UpdateOptions& options) {
    TempOutput output(target);
    journal::Output out(output.Get(), PathToUtf8(target), options.beforeWrite);
    bits::StreamRegion(FileRegion{source, 0, std::min(oldSize, plan.newSize)}, "the archive",
                       [&out](std::string_view bytes) { out.Put(bytes); });
    WritePieces(out, plan.pieces);
    out.Hook();
    output.Commit();
}

}  // namespace

UpdateResult UpdateArchive(const std::filesystem::path& source, const std::filesystem::path& target,
                           std::vector<Edit> edits, const UpdateOptions& options) {
    const Archive archive = Archive::Open(source);
    const bool sameFile = source == target || idb::SameFile(source, target);
    std::error_code error;
    if (!sameFile && std::filesystem::is_directory(target, error)) {
        Fail(PathToUtf8(target), "is a folder; expected the archive file to write");
    }
    Plan plan = MakePlan(archive, edits, source);
    if (plan.result.changed.empty() && sameFile) return plan.result;
    plan.result.written = true;
    const std::uint64_t oldSize = archive.FileSize();
    if (sameFile && oldSize > options.copyUpTo) {
        plan.result.inPlace = true;
        ChangeInPlace(source, archive.DisplayName(), oldSize, plan, options);
    } else {
        ChangeThroughCopy(source, target, oldSize, plan, options);
    }
    return plan.result;
}

}  // namespace resarc
