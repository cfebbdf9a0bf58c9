#include "gamedb/file_seek.h"

#include <sys/types.h>

namespace gamedb {

bool SeekFile(std::FILE* file, std::uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool SeekFileEnd(std::FILE* file) { return fseeko(file, 0, SEEK_END) == 0; }

}  // namespace gamedb
