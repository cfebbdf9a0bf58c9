// Validates a database against its kind's schema and lists every problem
// with its byte offset; for an items database also tells how far idb2txt's
// own reading gets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/schema.h"

namespace gamedb {

struct CheckFinding {
    // A problem makes the database unlike what the game writes (exit 1); a
    // note only informs (how idb2txt reads the file).
    enum class Severity { Problem, Note };
    Severity severity = Severity::Problem;
    std::uint64_t offset = 0;   // of the node (or byte) concerned
    std::string block;          // "weapons", "block 9"; empty at file level
    long long record = -1;      // from 1 within its block
    std::string recordName;     // the record's key text when it has one
    std::string field;          // "price (tag 7)", "bored item 2, sound (tag 1)"
    std::string text;           // what is wrong
};

// One line: offset, place, what is wrong.
std::string FormatFinding(const CheckFinding& finding);

struct CheckSummary {
    long long problems = 0;
    long long notes = 0;
    long long blocks = 0;
    long long records = 0;
    long long fields = 0;
};

struct CheckOptions {
    // The file to run idb2txt's reading over, for an items database that is a
    // whole file on disk; empty skips it (archive members, other kinds).
    std::filesystem::path idb2txtFile;
};

// Reads the whole source once, front to back, holding one record at a time;
// reports each finding as it is found. Throws Error only when the source
// itself fails to read.
CheckSummary Check(ByteSource& source, const KindSpec& kind, const std::function<void(const CheckFinding&)>& report,
                   const CheckOptions& options = {});

// Where idb2txt's reading of one items category ends, compared with the real
// framing.
struct CategoryReach {
    enum class Outcome {
        All,        // every record read, and read where the file has it
        Skips,      // the counters end the category early: records left unread
        Misreads,   // a record read from the wrong place or not to its end
        Fails,      // idb2txt stops with an error
        NotReached  // an earlier category already lost idb2txt's place
    };
    std::string category;
    Outcome outcome = Outcome::All;
    long long records = 0;      // in the file
    long long read = 0;         // read as the file has them
    std::uint64_t offset = 0;   // of the first record not read properly
    std::string recordName;     // its name
    std::string text;           // the explanation, complete
};

// One record as the framing has it, for comparison with idb2txt's reading.
struct RecordExtent {
    std::uint64_t offset = 0;
    std::uint64_t end = 0;
    std::string name;
};

struct BlockExtent {
    std::uint8_t tag = 0;
    std::uint64_t offset = 0;   // of the block's tag
    std::vector<RecordExtent> records;
};

// Runs idb2txt's reader over `file` with the reads its six exporters make and
// compares every record it starts with the real framing in `blocks`.
std::vector<CategoryReach> SimulateIdb2txt(const std::filesystem::path& file, const std::vector<BlockExtent>& blocks);

}  // namespace gamedb
