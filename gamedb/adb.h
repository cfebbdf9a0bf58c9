// Animation databases (*.adb, kind "anims"): a 44-byte header and clip
// records of one fixed size (88, 84 or 36 bytes), no tagged nodes, no
// trailer. The layouts and the cells of the clips table are data here, as
// the tagged kinds' layouts are in schema.cpp; one clip is one table row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/check.h"
#include "gamedb/diff.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/schema.h"
#include "gamedb/unpack.h"

namespace gamedb {

inline constexpr std::size_t kAdbHeaderSize = 44;
inline constexpr std::size_t kAdbClipNameSize = 16;
inline constexpr std::size_t kAdbModelNameSize = 24;
inline constexpr std::array<std::uint8_t, 4> kAdbMagic = {'A', 'D', 'B', 0};

// The kind "anims" (*.adb). Not among Kinds(), which are the tagged kinds;
// FindKind and KindForFileName know it.
const KindSpec& AnimKind();
bool IsAnimKind(const KindSpec& kind);

// How a column shows its bits.
enum class AdbCell : std::uint8_t {
    Name,     // the 16-byte clip name up to its terminator
    Number,   // unsigned decimal
    Float,    // the word as a single
    Enum,     // a value's name, or its number when it has none
    Set,      // bit names joined by '|', "none" for 0, "any" for all
};

struct AdbColumn {
    std::string_view name;
    AdbCell cell = AdbCell::Number;
    std::uint8_t offset = 0;        // of the 32-bit word within the record
    std::uint8_t shift = 0;
    std::uint8_t width = 32;
    std::span<const std::string_view> names = {};  // Enum: by value ("" none); Set: by bit
    bool link = false;              // one of the forms word's death link: all blank when it is 0
};

// The forms word's bits 0-3 say which event fields hold something.
struct AdbEvent {
    std::string_view name;
    std::uint8_t bit;
    std::uint8_t offset;            // of the first word that counts
    std::uint8_t words;             // how many words from there
};

struct AdbLayout {
    std::uint32_t recordSize = 0;
    std::span<const AdbColumn> columns;
    // -1: the layout has no such word.
    int codeOffset = -1;
    int formsOffset = -1;
    int lastFrameOffset = -1;
    int framesOffset = -1;          // the event frames that must not pass last_frame
    int frameWords = 0;
    std::span<const AdbEvent> events;
};

inline constexpr std::uint8_t kAdbIndexOffset = 16;

// 88, 84 and 36 bytes; nullptr for another size.
const AdbLayout* AdbLayoutFor(std::uint64_t recordSize);
std::span<const AdbLayout* const> AdbLayouts();

struct AdbHeader {
    std::uint32_t clipCount = 0;
    std::array<std::uint8_t, kAdbModelNameSize> modelName{};
    std::array<std::uint32_t, 3> heights{};   // float bits: min, mid, max
};

inline constexpr std::array<std::string_view, 3> kAdbHeightNames = {"height_min", "height_mid", "height_max"};

// Reads the header, decides the layout from the size, then hands out one
// record at a time. Throws Error with the offset for a wrong magic, a cut
// header and a clip count that does not fit the size.
class AdbReader {
public:
    explicit AdbReader(ByteSource& source);
    const AdbHeader& Header() const { return header_; }
    const AdbLayout& Layout() const { return *layout_; }
    // The next record; false after the last. Valid until the next call.
    bool Next(std::span<const std::uint8_t>& record, std::uint64_t& offset);

private:
    ByteSource& source_;
    AdbHeader header_;
    const AdbLayout* layout_ = nullptr;
    std::uint32_t read_ = 0;
    std::vector<std::uint8_t> buffer_;
};

std::uint32_t AdbWord(std::span<const std::uint8_t> record, std::size_t offset);
std::array<std::uint8_t, 4> AdbLe(std::uint32_t value);
std::uint32_t AdbBits(std::uint32_t word, std::uint8_t shift, std::uint8_t width);
// forms bits 0-3 as the event fields call for them.
std::uint32_t AdbEventBits(const AdbLayout& layout, std::span<const std::uint8_t> record);
// The name's bytes before its terminator (all 16 when there is none).
std::span<const std::uint8_t> AdbClipName(std::span<const std::uint8_t> record);

// The header's model name as a cell, and the bytes after its terminator as
// hex without the trailing 00s (what the manifest holds).
void AdbModelNameCells(const AdbHeader& header, std::string& name, std::string& tail);

// The cells of one clip: one per layout column, then ~extra. `position` is
// the clip's place in the file from 0 (the index it should have).
void AdbClipCells(const AdbLayout& layout, std::span<const std::uint8_t> record, std::size_t position,
                  std::vector<std::string>& cells);

// A cell that cannot be read; `column` names it.
struct AdbCellProblem {
    std::string column;
    std::string expected;
};

// Builds a record from cells given per layout column, then ~extra (empty
// views for absent ones). Throws AdbCellProblem.
void AdbParseClip(const AdbLayout& layout, std::span<const std::string_view> cells, std::size_t position,
                  std::vector<std::uint8_t>& record);

// The four commands for the kind; the generic entry points hand over to them.
UnpackSummary UnpackAnims(ByteSource& database, OutputFolder& out);
PackSummary PackAnims(InputFolder& in, ByteSink& out);
CheckSummary CheckAnims(ByteSource& source, const std::function<void(const CheckFinding&)>& report);
DiffResult DiffAnims(ByteSource& oldDb, ByteSource& newDb);

// Whether the folder's manifest names the kind anims (false when it has none).
bool IsAnimsFolder(InputFolder& in);
// The files pack reads from an anims folder: the manifest and the table.
std::vector<std::string> AnimsFolderFiles(InputFolder& in);

}  // namespace gamedb
