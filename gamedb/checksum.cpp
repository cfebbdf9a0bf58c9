#include "gamedb/checksum.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <vector>

#ifdef IDB_CRC32_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace gamedb {

void Crc32::Add(std::span<const std::uint8_t> bytes) {
#ifdef IDB_CRC32_LIBDEFLATE
    // libdeflate_crc32 continues a zlib crc32 value and gives zlib's values;
    // like zlib's, it starts again at 0 when given no buffer (an empty span's).
    if (!bytes.empty()) value_ = libdeflate_crc32(value_, bytes.data(), bytes.size());
#else
    // zlib takes a uInt length: feed huge spans in pieces.
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1u << 30);
        value_ = static_cast<std::uint32_t>(crc32(value_, bytes.data(), static_cast<uInt>(n)));
        bytes = bytes.subspan(n);
    }
#endif
}

void Crc32::Add(std::string_view bytes) {
    Add(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string ChecksumText(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

bool ParseChecksum(std::string_view text, std::uint32_t& value) {
    if (text.size() != 8) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::uint32_t ChecksumRest(ByteSource& source) {
    Crc32 crc;
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (;;) {
        const std::size_t n = source.ReadSome(chunk);
        if (n == 0) break;
        crc.Add(std::span(chunk.data(), n));
    }
    return crc.Value();
}

std::size_t ChecksummingSource::ReadSome(std::span<std::uint8_t> out) {
    constexpr std::size_t kPiece = 64 * 1024;
    if (out.empty()) return 0;
    if (next_ == end_) {
        crc_.Add(std::span(buffer_).first(end_));
        next_ = end_ = 0;
        if (out.size() >= kPiece) {
            // A large read goes straight to the caller.
            const std::size_t n = inner_.ReadSome(out);
            crc_.Add(out.first(n));
            return n;
        }
        buffer_.resize(kPiece);
        end_ = inner_.ReadSome(buffer_);
    }
    const std::size_t n = std::min(out.size(), end_ - next_);
    std::memcpy(out.data(), buffer_.data() + next_, n);
    next_ += n;
    return n;
}

std::uint32_t ChecksummingSource::Value() const {
    Crc32 crc = crc_;
    crc.Add(std::span(buffer_).first(next_));
    return crc.Value();
}

}  // namespace gamedb
