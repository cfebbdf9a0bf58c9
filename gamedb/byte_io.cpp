#include "gamedb/byte_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "gamedb/error.h"

namespace gamedb {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

[[noreturn]] void Fail(const std::string& label, std::uint64_t offset, const std::string& problem) {
    Place place;
    place.file = label;
    place.offset = static_cast<long long>(offset);
    throw Error(place, problem);
}

}  // namespace

std::string QuotedPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return "\"" + std::string(utf8.begin(), utf8.end()) + "\"";
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void ReserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n) {
    if (n <= buffer.capacity()) return;
    buffer.reserve(n);
#if defined(MADV_HUGEPAGE)
    // Only the whole large pages inside the room; a refusal is no error.
    constexpr std::uintptr_t kLargePage = 2u << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t last = (begin + buffer.capacity()) & ~(kLargePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

void ByteSource::Read(std::span<std::uint8_t> out, const char* what) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t got = ReadSome(out.subspan(done));
        if (got == 0)
            Fail(Label(), Position(), std::string("unexpected end of data while reading ") + what + " (" +
                                          std::to_string(out.size() - done) + " bytes missing)");
        done += got;
    }
}

// Callers check n against what the parent node has left; this guards the
// allocation once more against the source's own size.
void ByteSource::CheckRemaining(std::size_t n, const char* what) const {
    if (n > Remaining())
        Fail(Label(), Position(), std::string("unexpected end of data while reading ") + what + " of " +
                                      std::to_string(n) + " bytes");
}

void ByteSource::ReadInto(std::vector<std::uint8_t>& buffer, std::size_t n, const char* what) {
    CheckRemaining(n, what);
    buffer.resize(n);
    Read(buffer, what);
}

std::span<std::uint8_t> ByteSource::ReadAppend(std::vector<std::uint8_t>& buffer, std::size_t n, const char* what) {
    CheckRemaining(n, what);
    const std::size_t at = buffer.size();
    buffer.resize(at + n);
    const std::span<std::uint8_t> bytes = std::span(buffer).subspan(at);
    Read(bytes, what);
    return bytes;
}

void ByteSource::Skip(std::uint64_t n, const char* what) {
    std::uint8_t scratch[4096];
    while (n > 0) {
        const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof scratch));
        Read(std::span(scratch, step), what);
        n -= step;
    }
}

FileRegionSource::FileRegionSource(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length,
                                   std::string label)
    : label_(label.empty() ? QuotedPath(path) : std::move(label)) {
    std::error_code error;
    file_ = idb::OpenForRead(path, error);
    if (!file_) Fail(label_, 0, "cannot open: " + error.message());
    const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
    if (error) Fail(label_, 0, "cannot read the size: " + error.message());
    if (offset > fileSize) Fail(label_, offset, "the region starts after the end of the file");
    length_ = std::min<std::uint64_t>(length, fileSize - offset);
    if (length != UINT64_MAX && length_ < length)
        Fail(label_, offset, "the file ends " + std::to_string(length - length_) + " bytes before the region");
    if (offset > 0) {
        if (!idb::SeekFile(file_.Get(), offset)) Fail(label_, offset, "cannot seek to the region");
    }
    buffer_.resize(kBufferSize);
}

std::size_t FileRegionSource::ReadSome(std::span<std::uint8_t> out) {
    if (out.empty() || position_ >= length_) return 0;
    const auto readFile = [this](std::uint8_t* to, std::size_t most) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(most, length_ - position_));
        const std::size_t got = std::fread(to, 1, want, file_.Get());
        if (got == 0) {
            if (std::ferror(file_.Get())) Fail(label_, position_, "read error");
            Fail(label_, position_, "the file became shorter while being read");
        }
        return got;
    };
    if (bufferPos_ == bufferEnd_ && out.size() >= buffer_.size()) {
        // A large read (a whole block) goes straight to the caller: one copy less.
        const std::size_t got = readFile(out.data(), out.size());
        position_ += got;
        return got;
    }
    if (bufferPos_ == bufferEnd_) {
        bufferEnd_ = readFile(buffer_.data(), buffer_.size());
        bufferPos_ = 0;
    }
    const std::size_t n = std::min(out.size(), bufferEnd_ - bufferPos_);
    std::memcpy(out.data(), buffer_.data() + bufferPos_, n);
    bufferPos_ += n;
    position_ += n;
    return n;
}

MemorySource::MemorySource(std::span<const std::uint8_t> bytes, std::string label)
    : bytes_(bytes), label_(std::move(label)) {}

std::size_t MemorySource::ReadSome(std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), bytes_.size() - position_);
    if (n) std::memcpy(out.data(), bytes_.data() + position_, n);
    position_ += n;
    return n;
}

void MemorySink::Write(std::span<const std::uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

void MemorySink::Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset) throw std::logic_error("patch past the end");
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

FileSink::FileSink(const std::filesystem::path& path) : path_(path) {
    std::error_code error;
    file_ = idb::OpenNewForWrite(path, error);
    if (!file_) Fail(QuotedPath(path), 0, "cannot create: " + error.message());
    // The sink buffers: a second buffer in the C library would split each
    // piece into two system calls.
    std::setvbuf(file_.Get(), nullptr, _IONBF, 0);
    buffer_.reserve(kBufferSize);
}

FileSink::~FileSink() = default;

void FileSink::Flush() {
    if (buffer_.empty()) return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_.Get()) != buffer_.size())
        Fail(QuotedPath(path_), position_, "write error (disk full?)");
    buffer_.clear();
}

void FileSink::Write(std::span<const std::uint8_t> bytes) {
    if (!file_) throw std::logic_error("write after close");
    if (buffer_.size() + bytes.size() > kBufferSize) Flush();
    if (bytes.size() >= kBufferSize) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_.Get()) != bytes.size())
            Fail(QuotedPath(path_), position_, "write error (disk full?)");
    } else {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }
    position_ += bytes.size();
}

void FileSink::Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    Flush();
    const bool sought = idb::SeekFile(file_.Get(), offset);
    if (!sought || std::fwrite(bytes.data(), 1, bytes.size(), file_.Get()) != bytes.size())
        Fail(QuotedPath(path_), offset, "cannot rewrite the size");
    if (!idb::SeekFileEnd(file_.Get())) Fail(QuotedPath(path_), position_, "cannot seek to the end");
}

void FileSink::Close() {
    if (!file_) return;
    Flush();
    if (!file_.Close()) Fail(QuotedPath(path_), position_, "write error at close (disk full?)");
}

void FailAt(const std::filesystem::path& path, const std::string& problem) {
    Place place;
    place.file = QuotedPath(path);
    throw Error(place, problem);
}

}  // namespace gamedb
