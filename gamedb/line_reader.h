// Lines of a table or manifest: a leading byte-order mark is skipped, CR LF
// and LF both end a line. A file that starts with a UTF-16 byte-order mark
// (spreadsheets save "Unicode text" so) is read as UTF-8 all the same, and
// so is a file without a mark that is not UTF-8: it is read as Windows-1251
// (a spreadsheet's "Text (Tab delimited)" in a Russian Windows).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"

namespace gamedb {

class LineReader {
public:
    explicit LineReader(ByteSource& source) : source_(source) {}
    // The next line without its end; false at the end of the source. The
    // view is valid until the next call.
    bool Next(std::string_view& line);
    // The next line that is not empty, split at its Tabs: a row of a table
    // or manifest (spreadsheets add blank lines at the end). False at the
    // end; the views are valid until the next call.
    bool NextCells(std::vector<std::string_view>& cells);
    // 1 for the first line.
    long long LineNumber() const { return lineNumber_; }
    // Whether the text turned out not to be UTF-8 and is read as Windows-1251.
    bool ReadAsCp1251() const { return encoding_ == Encoding::Cp1251; }

private:
    bool Fill();
    std::size_t ReadUtf16(std::size_t room);
    std::size_t ReadCp1251(std::size_t room);
    void Decide();

    ByteSource& source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    long long lineNumber_ = 0;
    bool eof_ = false;
    bool started_ = false;
    int utf16_ = 0;                      // 0 no, 1 little-endian, 2 big-endian
    std::vector<std::uint8_t> raw_;      // UTF-16 or Windows-1251 bytes not decoded yet
    // Without a byte-order mark the text is UTF-8 until a byte shows it is
    // not; bytes before `undecided_` are known to be ASCII.
    enum class Encoding { Undecided, Utf8, Cp1251 } encoding_ = Encoding::Undecided;
    std::size_t undecided_ = 0;
};

// The cells of a line between its Tabs; a line without a Tab is one cell.
void SplitTabs(std::string_view line, std::vector<std::string_view>& cells);

}  // namespace gamedb
