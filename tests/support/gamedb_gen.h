// Random, valid game databases of every kind, built from the schema tables:
// for round-trip properties, the check and diff commands, fuzz seeds and the
// benchmark. Deterministic for a seed on every platform (no std
// distributions, whose results differ between standard libraries).
//
// A database is first a small model (blocks -> records -> fields holding raw
// payloads) so that tests can edit one value and serialise again; the
// irregularities real readers must survive can be switched on by rate.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/schema.h"

namespace gamedb::testing {

using Bytes = std::vector<std::uint8_t>;

struct GenField {
    std::uint8_t tag = 0;
    Bytes payload;
    bool longForm = false;  // 4-byte size although the payload is short
};

struct GenRecord {
    std::vector<GenField> fields;
    bool longForm = false;

    // The first field with `tag`; nullptr when absent.
    GenField* Find(std::uint8_t tag);
    const GenField* Find(std::uint8_t tag) const;
};

struct GenBlock {
    std::uint8_t tag = 0;
    std::vector<GenRecord> records;
    bool longForm = false;
};

struct GenDatabase {
    const KindSpec* kind = nullptr;
    std::vector<GenBlock> blocks;
    bool longForm = false;
    Bytes trailer = {0x00, 0x00, 0x02, 0x0C, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00};
    Bytes trailing;  // after the trailer

    GenBlock* FindBlock(std::uint8_t tag);
};

struct GenOptions {
    std::uint64_t seed = 1;
    // Records per block, inclusive range.
    int minRecords = 0;
    int maxRecords = 6;
    // Texts: characters before the terminator, list items per list.
    int maxTextLength = 24;
    int maxListItems = 4;
    // Share of float values that are -0, infinities, NaNs (any payload) or subnormals.
    double oddFloatRate = 0.15;
    // Share of the other floats with random bits (nine significant digits,
    // any exponent) rather than short decimals like 12.5 as most real values are.
    double anyFloatRate = 0.25;
    // Share of texts with bytes no real file holds (TAB, CR, LF, 0x98, 0x7F, ...).
    double exoticTextRate = 0.05;
    // Share of records whose key repeats an earlier one of the same block.
    double duplicateKeyRate = 0.1;
    // Share of texts, codes and raw fields that a spreadsheet could take for a
    // number, date, time, percent, boolean or formula (`007`, `1/2`, `=1`,
    // raw bytes whose hex is all digits).
    double lookalikeRate = 0;

    // Irregularities, as rates per node (0: a database exactly as the game writes it).
    double unknownTagRate = 0;    // an extra field with a tag the schema lacks
    double misfitRate = 0;        // a payload whose length does not fit its type
    double longFormRate = 0;      // a 4-byte size for a short payload, at any level
    double missingRate = 0;       // a schema field left out
    double swapRate = 0;          // two neighbouring fields swapped
    double repeatRate = 0;        // a field written twice
    Bytes trailing;               // bytes after the trailer

    // Everything irregular at once, at `rate` each, plus a few trailing bytes.
    static GenOptions Irregular(std::uint64_t seed, double rate = 0.05);
    // Values as the game's files hold them, for the benchmarks: no exotic
    // bytes, a few odd floats (as levers have), mostly short decimals.
    static GenOptions RealLike();
};

// splitmix64 over `state`: small, fast and the same everywhere.
inline std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

GenDatabase Generate(const KindSpec& kind, const GenOptions& options);

// Adds records round-robin over the blocks until the serialised size reaches
// `targetBytes`; for the benchmark.
GenDatabase GenerateOfSize(const KindSpec& kind, std::uint64_t targetBytes, const GenOptions& options);

// The bytes of the database, framed as stored (canonical sizes unless a
// node asks for the long form).
Bytes Serialize(const GenDatabase& database);
void WriteDatabase(const std::filesystem::path& path, const GenDatabase& database);
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
Bytes ReadBytes(const std::filesystem::path& path);

// Payload builders for hand-made fields.
void AppendNode(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> payload, bool longForm = false);
Bytes TextPayload(std::string_view cp1251);
Bytes Int32Payload(std::int32_t value);
Bytes FloatPayload(float value);
Bytes FloatBitsPayload(std::uint32_t bits);
// The record's key text without its terminator, or empty when the block has no key field.
std::string KeyOf(const BlockSpec& block, const GenRecord& record);

// The record as the schema lays it out, with every field fresh and random.
GenRecord RandomRecord(const RecordSpec& spec, std::uint64_t seed, const GenOptions& options = {});

}  // namespace gamedb::testing
