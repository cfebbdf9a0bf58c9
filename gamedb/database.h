// How every command opens its DATABASE argument and decides the kind.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "gamedb/byte_io.h"
#include "gamedb/schema.h"

namespace gamedb {

struct OpenedDatabase {
    std::unique_ptr<ByteSource> source;
    const KindSpec* kind = nullptr;
    std::string label;                 // as messages name it
    std::filesystem::path path;        // the file that holds it
};

// Opens `arg` (UTF-8 path). The kind is `kindName` when given, else it comes
// from the file name. Throws Error when the file cannot be opened, and
// UsageError when the kind is unknown or cannot be told.
OpenedDatabase OpenDatabase(std::string_view arg, std::string_view kindName = {});

// The kind for an argument: `kindName` when given, else from the name;
// throws UsageError when neither tells it.
const KindSpec& KindForArgument(std::string_view arg, std::string_view kindName = {});

// A wrong command line rather than a failure (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace gamedb
