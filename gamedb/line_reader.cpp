#include "gamedb/line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "archive/cp1251.h"
#include "gamedb/error.h"

namespace gamedb {

bool LineReader::Fill() {
    if (eof_) return false;
    // Keep the unfinished line, then read more behind it.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        undecided_ -= std::min(undecided_, begin_);
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
            if (n == 2 && mark[0] == 0xEF && mark[1] == 0xBB) encoding_ = Encoding::Utf8;
            if (n < 2) {
                eof_ = true;
                Decide();
                return n > 0;
            }
        }
    }
    std::size_t got = 0;
    if (utf16_) got = ReadUtf16(buffer_.size() - end_);
    else if (encoding_ == Encoding::Cp1251) got = ReadCp1251(buffer_.size() - end_);
    else got = source_.ReadSome(std::span(buffer_.data() + end_, buffer_.size() - end_));
    if (got == 0) eof_ = true;
    end_ += got;
    Decide();
    return got > 0 || end_ > begin_;
}

namespace {

// The length of the UTF-8 sequence at `p` (valid, no overlong forms or
// surrogates); 0 when broken, -1 when cut off by `end`.
int Utf8Length(const std::uint8_t* p, const std::uint8_t* end) {
    const std::uint8_t c = *p;
    int len = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) len = 3;
    else if (c >= 0xF0 && c <= 0xF4) len = 4;
    else return 0;
    for (int k = 1; k < len; ++k) {
        if (p + k == end) return -1;
        if ((p[k] & 0xC0) != 0x80) return 0;
    }
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0) || (c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
        return 0;
    return len;
}

}  // namespace

// While every byte so far was ASCII, looks at the bytes read since: the
// first read that holds non-ASCII text decides. Text with a byte that
// cannot be UTF-8 is Windows-1251, decoded from its first non-ASCII byte.
void LineReader::Decide() {
    if (encoding_ != Encoding::Undecided || utf16_) return;
    std::size_t i = undecided_;
    while (i < end_ && buffer_[i] < 0x80) ++i;
    const std::size_t first = i;
    bool utf8 = false;
    while (i < end_) {
        if (buffer_[i] < 0x80) {
            ++i;
            continue;
        }
        const int len = Utf8Length(buffer_.data() + i, buffer_.data() + end_);
        if (len < 0 && !eof_) break;  // the rest comes with the next read
        if (len <= 0) {
            encoding_ = Encoding::Cp1251;
            raw_.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(first), buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
            end_ = first;
            end_ += ReadCp1251(0);
            return;
        }
        utf8 = true;
        i += static_cast<std::size_t>(len);
    }
    if (utf8) encoding_ = Encoding::Utf8;
    else undecided_ = first;
}

// Decodes Windows-1251 bytes into UTF-8 behind end_: what raw_ holds, else
// up to a third of `room` bytes read (every byte gives at most 3).
std::size_t LineReader::ReadCp1251(std::size_t room) {
    if (raw_.empty()) {
        raw_.resize(room / 3);
        raw_.resize(source_.ReadSome(raw_));
        if (raw_.empty()) return 0;
    }
    // Never more than the buffer holds; the rest waits in raw_.
    if (buffer_.size() - end_ < 3 * raw_.size()) buffer_.resize(end_ + 3 * raw_.size());
    std::uint8_t* out = buffer_.data() + end_;
    for (const std::uint8_t b : raw_) {
        const char32_t cp = resarc::Cp1251Char(b);
        if (cp < 0x80) {
            *out++ = static_cast<std::uint8_t>(cp);
        } else if (cp < 0x800) {
            *out++ = static_cast<std::uint8_t>(0xC0 | cp >> 6);
            *out++ = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        } else {
            *out++ = static_cast<std::uint8_t>(0xE0 | cp >> 12);
            *out++ = static_cast<std::uint8_t>(0x80 | (cp >> 6 & 0x3F));
            *out++ = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        }
    }
    raw_.clear();
    return static_cast<std::size_t>(out - (buffer_.data() + end_));
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

bool LineReader::NextCells(std::vector<std::string_view>& cells) {
    std::string_view line;
    do {
        if (!Next(line)) return false;
    } while (line.empty());
    SplitTabs(line, cells);
    return true;
}

// Eight bytes at a time, every Tab among them found from one mask: cells
// are mostly a few bytes, too short for a search call per cell to pay.
void SplitTabs(std::string_view line, std::vector<std::string_view>& cells) {
    cells.clear();
    const char* begin = line.data();
    const char* p = begin;
    const char* const end = begin + line.size();
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t x = word ^ 0x0909090909090909u;  // a Tab becomes 00
            // 80 in exactly the bytes that are 00.
            std::uint64_t tabs = ~(((x & kLow7) + kLow7) | x | kLow7);
            for (; tabs != 0; tabs &= tabs - 1) {
                const char* tab = p + (std::countr_zero(tabs) >> 3);
                cells.emplace_back(begin, static_cast<std::size_t>(tab - begin));
                begin = tab + 1;
            }
        }
    }
    for (; p != end; ++p) {
        if (*p != '\t') continue;
        cells.emplace_back(begin, static_cast<std::size_t>(p - begin));
        begin = p + 1;
    }
    cells.emplace_back(begin, static_cast<std::size_t>(end - begin));
}

}  // namespace gamedb
