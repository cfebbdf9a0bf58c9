// 64-bit positioning of C streams: the call differs between the C runtimes.
#pragma once

#include <cstdint>
#include <cstdio>

namespace gamedb {

// Moves to `offset` from the start; false on failure.
bool SeekFile(std::FILE* file, std::uint64_t offset);
// Moves to the end; false on failure.
bool SeekFileEnd(std::FILE* file);

}  // namespace gamedb
