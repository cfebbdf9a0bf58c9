// Appends text to a string through a pointer into room made ahead, so that
// the many short pieces of a table row (a number, a tab, a text) cost no
// library call each. While a sink writes, the string is longer than the
// text (the room after it); the string takes the text's length at Finish or
// when the sink goes. Nothing else may touch the string meanwhile.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace gamedb {

class TextSink {
public:
    explicit TextSink(std::string& text) : text_(text), size_(text.size()) {}
    ~TextSink() { Finish(); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    // Room for `n` more bytes, valid until the next call that makes room;
    // what is written there counts once Advance is given its end.
    char* Room(std::size_t n) {
        if (text_.size() - size_ < n) Grow(n);
        return text_.data() + size_;
    }
    void Advance(const char* end) { size_ = static_cast<std::size_t>(end - text_.data()); }

    void Add(char c) {
        *Room(1) = c;
        ++size_;
    }
    void Add(std::string_view s) {
        std::memcpy(Room(s.size()), s.data(), s.size());
        size_ += s.size();
    }
    void Add(std::size_t n, char c) {
        std::memset(Room(n), c, n);
        size_ += n;
    }
    void Insert(std::size_t at, std::string_view s) {
        Room(s.size());
        char* const p = text_.data() + at;
        std::memmove(p + s.size(), p, size_ - at);
        std::memcpy(p, s.data(), s.size());
        size_ += s.size();
    }

    std::size_t Size() const { return size_; }
    char& operator[](std::size_t i) { return text_[i]; }
    std::string_view Since(std::size_t start) const { return std::string_view(text_).substr(start, size_ - start); }
    // Forgets what was written after `size` (a cell written again another way, a flushed buffer).
    void Truncate(std::size_t size) { size_ = size; }
    void Finish() { text_.resize(size_); }

private:
    // The string's own growth doubles its capacity; the slack saves a call
    // per piece where one string takes many cells.
    void Grow(std::size_t n) { text_.resize(size_ + std::max<std::size_t>(n, 256)); }

    std::string& text_;
    std::size_t size_;
};

}  // namespace gamedb
