// idb2txt: converts an items database into six tab-separated tables.
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/archive_input.h"
#include "cli/utf8_args.h"
#include "export/conversion_error.h"
#include "export/idb_reader.h"
#include "export/table_writer.h"
#include "shell/conversion_run.h"

#ifndef IDB2TXT_VERSION
#define IDB2TXT_VERSION "0.0.0"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: idb2txt [--decimal-separator=C] [--quiet] DATABASE [OUTPUT_DIR]\n"
    "\n"
    "Converts an items database (Items.idb) into six tab-separated tables:\n"
    "Materials.txt, Weapons.txt, Armors.txt, QuickItems.txt, QuestItems.txt and\n"
    "LootItems.txt, written to OUTPUT_DIR (default: the current folder; created\n"
    "when missing). Tables of the same names are replaced.\n"
    "DATABASE may also be a resource archive holding one *.idb, or ARCHIVE:MEMBER.\n"
    "\n"
    "Options:\n"
    "  --decimal-separator=C  put C in numbers instead of the separator of the\n"
    "                         user's locale; C is one character, not a digit,\n"
    "                         sign, E, blank, Tab, line break or other control\n"
    "                         character, which would break a number or a table\n"
    "  --quiet                print nothing on success\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "DATABASE is read once, front to back: a pipe or /dev/stdin works.\n"
    "\n"
    "Exit status: 0 success, 1 the conversion failed, 2 bad usage, DATABASE\n"
    "cannot be opened or is not an items database, or a table would be DATABASE\n"
    "itself (nothing is written then).\n";

void Print(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

// Help and version go to stdout; a full device or a closed pipe is a failure.
int PrintResult(std::string_view text) {
    errno = 0;
    Print(stdout, text);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int reason = errno ? errno : EIO;
        Print(stderr, "idb2txt: cannot write to standard output: " +
                          std::error_code(reason, std::generic_category()).message() + "\n");
        return 1;
    }
    return 0;
}

// One character (one UTF-8 sequence) that cannot be taken for part of a
// number or end a cell or a row.
bool UsableDecimalSeparator(std::string_view text) {
    if (text.empty()) return false;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        if (text.size() != 1) return false;
        const char c = text[0];
        const bool control = lead < 0x20 || lead == 0x7F;
        const bool numeric = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'E' || c == 'e';
        return !control && !numeric && c != ' ';
    }
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    if (length == 0 || text.size() != length) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0u) != 0x80u) return false;
    }
    // C1 controls (U+0080..U+009F) and the no-break space are no better than their ASCII kin.
    if (lead == 0xC2) {
        const auto second = static_cast<unsigned char>(text[1]);
        if (second <= 0xA0) return false;
    }
    return true;
}

void Error(std::string_view message) {
    Print(stderr, "idb2txt: ");
    Print(stderr, message);
    Print(stderr, "\n");
}

int UsageError(std::string_view message) {
    Error(message);
    Print(stderr, "Try 'idb2txt --help'.\n");
    return kExitUsage;
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string LocaleDecimalSeparator() {
    std::setlocale(LC_ALL, "");
    const std::lconv* conventions = std::localeconv();
    std::string separator = conventions && conventions->decimal_point && *conventions->decimal_point
                                ? conventions->decimal_point
                                : ".";
    // Only the separator is wanted; numbers must not follow the locale otherwise.
    std::setlocale(LC_ALL, "C");
    return separator;
}

int Run(const std::vector<std::string>& args) {
    idb::ConversionSettings settings;
    bool quiet = false;
    bool separatorGiven = false;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        const std::string_view a = arg;
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            operands.push_back(arg);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            return PrintResult(kUsage) == 0 ? kExitOk : kExitFailure;
        } else if (a == "--version") {
            return PrintResult("idb2txt " IDB2TXT_VERSION "\n") == 0 ? kExitOk : kExitFailure;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.starts_with("--decimal-separator=")) {
            settings.decimalSeparator = std::string(a.substr(std::string_view("--decimal-separator=").size()));
            if (settings.decimalSeparator.empty()) return UsageError("--decimal-separator needs a character");
            if (!UsableDecimalSeparator(settings.decimalSeparator)) {
                return UsageError("--decimal-separator takes one character that is not a digit, sign, E, blank, "
                                  "Tab, line break or other control character");
            }
            separatorGiven = true;
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (operands.empty()) return UsageError("no DATABASE given");
    if (operands.size() > 2) return UsageError("too many arguments");
    if (!separatorGiven) settings.decimalSeparator = LocaleDecimalSeparator();

    const idb::ArchiveInput archiveInput = idb::ResolveArchiveInput(operands[0]);
    if (!archiveInput.problem.empty()) {
        Error(archiveInput.problem);
        return kExitUsage;
    }
    const std::filesystem::path database = archiveInput.inArchive ? archiveInput.path : PathFromUtf8(operands[0]);
    const std::filesystem::path folder = operands.size() > 1 ? PathFromUtf8(operands[1]) : std::filesystem::path(".");

    try {
        // The run checks the first byte on the one stream it reads, and
        // creates the folder only once nothing can refuse the run.
        settings.createOutputFolder = true;
        const auto start = std::chrono::steady_clock::now();
        const idb::ConversionSummary summary = idb::ConvertDatabase(database, folder, settings, archiveInput.region);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

        if (!quiet) {
            const std::string& label = archiveInput.inArchive ? archiveInput.region.label : idb::QuotePath(database);
            std::string line = "converted " + label + " into " + idb::QuotePath(folder) + ":";
            for (int i = 0; i < idb::kCategoryCount; ++i) {
                const auto& info = idb::Categories()[static_cast<std::size_t>(i)];
                line += (i ? ", " : " ") + std::string(info.name) + " " +
                        std::to_string(summary.rows[static_cast<std::size_t>(i)]);
            }
            line += " rows in " + idb::FormatDouble(elapsed.count(), ".") + " s";
            Error(line);
        }
        return kExitOk;
    } catch (const idb::NotDatabaseError& e) {
        Error(e.what());
        return kExitUsage;
    } catch (const idb::TableIsDatabaseError& e) {
        Error(e.what());
        return kExitUsage;
    } catch (const idb::ConversionError& e) {
        Error(e.what());
        return e.Kind() == idb::FailureKind::OpenDatabase ? kExitUsage : kExitFailure;
    } catch (const std::exception& e) {
        Error(e.what());
        return kExitFailure;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(idb::Utf8Arguments(argc, argv)); }
#else
int main(int argc, char** argv) { return Run(idb::Utf8Arguments(argc, argv)); }
#endif
