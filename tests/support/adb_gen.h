// Random animation databases (*.adb) of the three record layouts, written
// byte by byte from the format's facts (not from the library's layout
// tables): valid files as the game's are, and, by rate, the oddities a
// reader must keep (bytes after a name, an index off its position, forms
// bits that disagree with the event fields, unknown bits, odd floats).
// Deterministic for a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gamedb::testing {

using AdbBytes = std::vector<std::uint8_t>;

// Where the fields of an 88-byte record are; an 84-byte record has no
// probability and the fields after it 4 bytes earlier.
namespace adb88 {
inline constexpr int kIndex = 16, kCode = 20, kForms = 24, kProbability = 28, kLastFrame = 32, kMove = 36,
                     kHide = 40, kStep = 48, kHit = 64, kSfxFrame = 68, kSfxIds = 72;
}
// The offset of an 88-byte field in a record of `recordSize` bytes.
int AdbOffset(int recordSize, int offset88);

struct AdbGenOptions {
    std::uint64_t seed = 1;
    int recordSize = 0;          // 88, 84 or 36; 0: one at random (mostly 88)
    int minClips = 0;
    int maxClips = 12;
    double irregularRate = 0;    // per clip and oddity: 0 gives a file as the game writes it
};

struct AdbGen {
    int recordSize = 88;
    std::string modelName;       // Windows-1251 bytes
    AdbBytes modelTail;          // after the name's 00
    std::uint32_t heights[3] = {};
    std::vector<AdbBytes> clips; // each recordSize bytes
};

AdbGen GenerateAdb(const AdbGenOptions& options);
AdbBytes SerializeAdb(const AdbGen& adb);

std::uint32_t GetWord(const AdbBytes& record, int offset);
void PutWord(AdbBytes& record, int offset, std::uint32_t value);

}  // namespace gamedb::testing
