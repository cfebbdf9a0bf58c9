// idb2txt: converts an items database into six tab-separated tables.
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
    "                         user's locale\n"
    "  --quiet                print nothing on success\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 the conversion failed, 2 bad usage or DATABASE is\n"
    "not an items database (nothing is written then).\n";

void Print(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

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
            Print(stdout, kUsage);
            return kExitOk;
        } else if (a == "--version") {
            Print(stdout, "idb2txt " IDB2TXT_VERSION "\n");
            return kExitOk;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.starts_with("--decimal-separator=")) {
            settings.decimalSeparator = std::string(a.substr(std::string_view("--decimal-separator=").size()));
            if (settings.decimalSeparator.empty()) return UsageError("--decimal-separator needs a character");
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

    if (const std::string problem = archiveInput.inArchive ? std::string() : idb::SignatureProblem(database);
        !problem.empty()) {
        Error(idb::QuotePath(database) + " is not an items database: " + problem);
        return kExitUsage;
    }

    try {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) {
            throw idb::ConversionError(idb::FailureKind::CreateFolder, folder,
                                       "cannot create folder " + idb::QuotePath(folder) + ": " + error.message(), error);
        }

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
    } catch (const std::exception& e) {
        Error(e.what());
        return kExitFailure;
    }
}

}  // namespace

#ifdef _WIN32
// Wide arguments keep file names outside the ANSI code page intact.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u8string utf8 = std::filesystem::path(argv[i]).u8string();
        args.emplace_back(utf8.begin(), utf8.end());
    }
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
