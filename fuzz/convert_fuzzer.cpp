// Feeds arbitrary bytes through a whole conversion. Damaged input must end
// in ConversionError; any other exception escapes and aborts, which the
// fuzzer reports as a crash, as it does sanitizer findings, leaks and hangs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "export/conversion_error.h"
#include "shell/conversion_run.h"

namespace fs = std::filesystem;

namespace {

// One folder per process, so parallel jobs do not share files.
fs::path workFolder;

void RemoveWorkFolder() {
    std::error_code ignored;
    fs::remove_all(workFolder, ignored);
}

void WriteInput(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror("convert_fuzzer: cannot write the input");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "convert_fuzzer.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("convert_fuzzer: cannot create a temporary folder");
        std::abort();
    }
    workFolder = pattern;
    fs::create_directory(workFolder / "out");
    std::atexit(RemoveWorkFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path input = workFolder / "Items.idb";
    WriteInput(input, data, size);
    try {
        idb::ConvertDatabase(input, workFolder / "out");
    } catch (const idb::IdbFormatError& error) {
        // Damage is found where the bytes are, never past the end.
        if (error.Offset() < 0 || static_cast<std::size_t>(error.Offset()) > size) __builtin_trap();
    } catch (const idb::ConversionError&) {
    }
    // The guard must be released on every way out, or the next run is refused.
    if (idb::ConversionRunning()) __builtin_trap();
    return 0;
}
