// Changes to an existing archive that keep what did not change: every other
// member keeps its bytes and its offset, the table its slots and `next`
// links, the pool its order, the stored times, holes and padding (or its
// absence) stay. This is how the game's own tool changed its archives.
//
// - A replacement with the member's own bytes is no change. With no change
//   at all the archive is not written (its modification time stays).
// - A changed member that fits in the space it had (up to the next member or
//   the table) is written there and the rest of its old bytes become 00; one
//   that does not fit goes after the last member, aligned as the archive's
//   members are, its old bytes left as a hole, and the table and pool are
//   written after it.
// - Adding or removing a member changes the number of slots: the table is
//   then rebuilt by the fresh-layout recipe (archive/fresh_layout.h), the
//   pool keeping the order of the members that stay, added names last.
//   Added members go after the last member; a removed one's bytes stay as a
//   hole (`res compact` drops holes).
//
// Never half-written. Small archives, and any target other than the source,
// are written whole to a temporary file renamed over the target. A large
// archive is changed in place under an undo journal: the old bytes of every
// stretch about to be overwritten or cut off, and the old size, go first to
// `ARCHIVE~undo` (written under a temporary name, flushed to the disk, then
// renamed); then the archive is written and flushed, and the journal
// removed. A failure on the way puts the old bytes back at once; a process
// killed on the way leaves the journal, and the next Archive::Open of the
// archive puts them back before reading. The journal itself lives in
// archive/undo_journal.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace resarc {

enum class EditKind { kReplace, kAdd, kRemove };

// `member.name` names the member (any case spelling for replace and
// remove); replace and add take `member.data`. Changed and added members
// get the current time.
struct Edit {
    EditKind kind = EditKind::kReplace;
    Member member;
};

struct UpdateOptions {
    // Archives of at most this many bytes are rewritten whole through a
    // temporary file, which readers never see half-written.
    std::uint64_t copyUpTo = 16 * 1024 * 1024;
    // Called before every write to the archive, the journal or the
    // temporary file; tests throw from it to stop the change there.
    std::function<void()> beforeWrite;
    // Whether the journal and the changed archive are put on the disk
    // (fsync) before going on, so that a power cut leaves the old archive or
    // the new one too; tests that need no power-cut safety save the time.
    bool durable = true;
    // Whether a failure puts the old bytes back at once; tests of a killed
    // process leave that to the next Archive::Open.
    bool rollBackOnFailure = true;
};

struct UpdateResult {
    bool written = false;       // false: nothing changed, the target untouched
    bool inPlace = false;       // changed under the journal rather than copied
    bool tableRebuilt = false;  // the number of members changed
    std::vector<std::string> changed;  // names replaced, added or removed (Windows-1251)
    std::vector<std::string> moved;    // of those, written after the last member
};

// Applies `edits` to the archive at `source` and writes the result to
// `target`, which may be `source` itself. Throws ArchiveError (naming the
// archive and the member) when an edit does not apply, a replacement would
// be read from the archive itself, or a read or write fails; the target is
// then as it was.
UpdateResult UpdateArchive(const std::filesystem::path& source, const std::filesystem::path& target,
                           std::vector<Edit> edits, const UpdateOptions& options = {});

// The undo journal of `archive`.
std::filesystem::path JournalPath(const std::filesystem::path& archive);
// Puts back what an interrupted in-place change overwrote, when its journal
// is there; true when it did. Throws ArchiveError when the journal cannot be
// read or applied (both are then left as they are).
bool RollBackInterruptedChange(const std::filesystem::path& archive);

}  // namespace resarc
