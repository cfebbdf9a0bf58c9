#include "gamedb/line_reader.h"

#include <algorithm>
#include <cstring>

#include "gamedb/error.h"

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
    if (!started_) {
        started_ = true;
        std::uint8_t mark[2];
        std::size_t n = 0;
        while (n < 2) {
            const std::size_t got = source_.ReadSome(std::span(mark + n, 2 - n));
            if (got == 0) break;
            n += got;
        }
        if (n == 2 && mark[0] == 0xFF && mark[1] == 0xFE) utf16_ = 1;
        else if (n == 2 && mark[0] == 0xFE && mark[1] == 0xFF) utf16_ = 2;
        else {
            for (std::size_t k = 0; k < n; ++k) buffer_[end_ + k] = mark[k];
            end_ += n;
            if (n < 2) eof_ = true;
            if (n > 0) return true;
        }
    }
    const std::size_t got = utf16_ ? ReadUtf16(buffer_.size() - end_)
                                   : source_.ReadSome(std::span(buffer_.data() + end_, buffer_.size() - end_));
    if (got == 0) eof_ = true;
    end_ += got;
    return got > 0;
}

// Decodes up to a third of `room` bytes of UTF-16 into UTF-8 behind end_
// (every unit gives at most 3 bytes); returns the bytes produced, 0 at the end.
std::size_t LineReader::ReadUtf16(std::size_t room) {
    const auto fail = [this](const char* problem) {
        Place place;
        place.file = source_.Label();
        throw Error(place, problem);
    };
    for (;;) {
        const std::size_t pending = raw_.size();
        raw_.resize(pending + room / 3);
        const std::size_t got = source_.ReadSome(std::span(raw_.data() + pending, raw_.size() - pending));
        raw_.resize(pending + got);
        if (got == 0) {
            if (!raw_.empty()) fail("the UTF-16 text ends in the middle of a character");
            return 0;
        }
        std::uint8_t* out = buffer_.data() + end_;
        std::size_t i = 0;
        const auto unit = [this](std::size_t at) {
            return utf16_ == 1 ? static_cast<std::uint32_t>(raw_[at] | raw_[at + 1] << 8)
                               : static_cast<std::uint32_t>(raw_[at] << 8 | raw_[at + 1]);
        };
        while (i + 1 < raw_.size()) {
            std::uint32_t cp = unit(i);
            std::size_t used = 2;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (i + 3 >= raw_.size()) break;  // the pair's second half comes with the next read
                const std::uint32_t low = unit(i + 2);
                if (low < 0xDC00 || low > 0xDFFF) fail("broken UTF-16 text (a lone surrogate)");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                used = 4;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                fail("broken UTF-16 text (a lone surrogate)");
            }
            if (cp < 0x80) {
                *out++ = static_cast<std::uint8_t>(cp);
            } else if (cp < 0x800) {
                *out++ = static_cast<std::uint8_t>(0xC0 | cp >> 6);
                *out++ = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                *out++ = static_cast<std::uint8_t>(0xE0 | cp >> 12);
                *out++ = static_cast<std::uint8_t>(0x80 | (cp >> 6 & 0x3F));
                *out++ = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
            } else {
                *out++ = static_cast<std::uint8_t>(0xF0 | cp >> 18);
                *out++ = static_cast<std::uint8_t>(0x80 | (cp >> 12 & 0x3F));
                *out++ = static_cast<std::uint8_t>(0x80 | (cp >> 6 & 0x3F));
                *out++ = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
            }
            i += used;
        }
        raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(i));
        const std::size_t produced = static_cast<std::size_t>(out - (buffer_.data() + end_));
        if (produced > 0) return produced;
    }
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
