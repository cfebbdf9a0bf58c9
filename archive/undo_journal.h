// The undo journal of an in-place change (see archive/in_place.h) and the
// writer at offsets both use. Internal to the archive library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace resarc::journal {

// Writes at offsets of an open file. Every write is made in two halves with
// the hook before each, so tests can stop a change inside a write too.
class Output {
public:
    Output(std::FILE* file, std::string name, const std::function<void()>& hook)
        : file_(file), name_(std::move(name)), hook_(hook) {}

    void At(std::uint64_t offset);
    void Put(std::string_view bytes);
    void PutZeros(std::uint64_t length);
    void Hook() const {
        if (hook_) hook_();
    }

private:
    void PutWhole(std::string_view bytes);

    std::FILE* file_;
    std::string name_;
    const std::function<void()>& hook_;
};

// A stretch of the archive whose old bytes the journal keeps.
struct Stretch {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Sorted, merged, and cut to the old file.
std::vector<Stretch> Normalise(std::vector<Stretch> stretches, std::uint64_t oldSize);

// Flushes, and with `durable` waits until the data is on the disk.
bool Flush(std::FILE* file, bool durable);

// Writes the journal of `archive` under a temporary name, flushes it and
// renames it into place: it exists only whole.
void Write(const std::filesystem::path& archive, std::uint64_t oldSize, const std::vector<Stretch>& stretches,
           const std::function<void()>& hook, bool durable);

}  // namespace resarc::journal
