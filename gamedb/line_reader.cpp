#include "gamedb/line_reader.h"

#include <algorithm>
#include <cstring>

namespace gamedb {

bool LineReader::Fill() {
    if (eof_) return false;
    // Keep the unfinished line, then read more behind it.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < 32 * 1024) buffer_.resize(std::max<std::size_t>(64 * 1024, buffer_.size() * 2));
    const std::size_t got = source_.ReadSome(std::span(buffer_.data() + end_, buffer_.size() - end_));
    if (got == 0) eof_ = true;
    end_ += got;
    return got > 0;
}

bool LineReader::Next(std::string_view& line) {
    std::size_t scanned = begin_;
    for (;;) {
        const void* found = scanned < end_ ? std::memchr(buffer_.data() + scanned, '\n', end_ - scanned) : nullptr;
        if (found) {
            const std::size_t newline = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer_.data());
            line = std::string_view(reinterpret_cast<const char*>(buffer_.data() + begin_), newline - begin_);
            begin_ = newline + 1;
            break;
        }
        const std::size_t offset = end_ - begin_;
        if (!Fill()) {
            if (begin_ == end_) return false;
            // The last line has no line end.
            line = std::string_view(reinterpret_cast<const char*>(buffer_.data() + begin_), end_ - begin_);
            begin_ = end_;
            break;
        }
        scanned = begin_ + offset;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (++lineNumber_ == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    return true;
}

}  // namespace gamedb
