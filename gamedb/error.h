// The one error type of the game-database library. Its message is complete
// English naming where the failure is; the parts are kept apart as well so
// that a front end (or the check command) can word or sort them itself.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace gamedb {

// Where a failure happened. Empty strings and negative numbers mean "not known
// / does not apply".
struct Place {
    std::string file;            // the database or table as the user named it
    std::string block;           // block name, e.g. "weapons" or "block 9"
    long long record = -1;       // record number within its block, from 1
    std::string field;           // field name, e.g. "price (tag 7)"
    long long offset = -1;       // byte offset in the database
    // Table (pack) side.
    long long row = -1;          // line number in the table, the header is line 1
    std::string column;          // column name
    bool hasCell = false;        // whether `cell` holds the offending text
    std::string cell;            // the offending cell text
    std::string expected;        // what the cell should have held
};

class Error : public std::runtime_error {
public:
    // `problem` says what is wrong ("node overruns its record by 3 bytes").
    Error(Place place, const std::string& problem);

    const Place& Where() const noexcept { return place_; }
    // The problem alone, without the place.
    const std::string& Problem() const noexcept { return problem_; }

private:
    Place place_;
    std::string problem_;
};

// The message an Error carries: the place, then the problem.
std::string FormatError(const Place& place, const std::string& problem);
// "0x1F3 (499)": how messages show byte offsets.
std::string FormatOffset(std::uint64_t offset);

}  // namespace gamedb
