#include "gamedb/file_seek.h"

namespace gamedb {

// The C runtime's fseek takes a 32-bit long even in 64-bit builds.
bool SeekFile(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

bool SeekFileEnd(std::FILE* file) { return _fseeki64(file, 0, SEEK_END) == 0; }

}  // namespace gamedb
