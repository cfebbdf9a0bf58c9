// check over a set of databases (several, a folder, an archive), and the
// reference warnings pack prints.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/gamedb/commands.h"
#include "gamedb/archive_member.h"
#include "gamedb/check.h"
#include "gamedb/check_set.h"
#include "gamedb/database.h"
#include "gamedb/error.h"

namespace gamedb::cli {
namespace {

namespace fs = std::filesystem;

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string Plural(long long n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool IsSetCheck(const Invocation& invocation) {
    if (invocation.operands.size() != 1) return true;
    const std::string& arg = invocation.operands[0];
    const fs::path path = PathFromUtf8(arg);
    std::error_code error;
    if (fs::is_directory(path, error)) return true;
    // An archive without databases keeps today's answer: name a member.
    return !SplitMemberArgument(arg) && IsArchiveFile(path) && !DatabaseMemberList(path).empty();
}

int RunCheckSet(const Invocation& invocation) {
    if (!invocation.kind.empty()) throw UsageError("--kind does not apply to a set: each database's kind comes from its name");
    const LoadedSet loaded = LoadSetFromArguments(invocation.operands);
    if (loaded.sources.empty()) throw UsageError("no database found in what was given (names such as Items.idb, units.udb, acks.db)");

    long long problems = 0;
    for (const SetSource& source : loaded.sources) {
        MemorySource bytes(source.bytes, source.label);
        CheckOptions options;
        if (source.kind->name == "items" && !source.file.empty()) options.idb2txtFile = source.file;
        const CheckSummary summary = Check(bytes, *source.kind,
                                           [&](const CheckFinding& finding) {
                                               if (finding.severity == CheckFinding::Severity::Problem || !invocation.quiet)
                                                   Print(source.label + ": " + FormatFinding(finding) + "\n");
                                           },
                                           options);
        problems += summary.problems;
        if (!invocation.quiet || summary.problems > 0)
            Print(source.label + " (" + std::string(source.kind->name) + (source.packedFromTables ? ", from tables" : "") +
                  "): " + std::to_string(summary.blocks) + " blocks, " + std::to_string(summary.records) + " records, " +
                  Plural(summary.problems, "problem", "problems") + "\n");
    }

    const DatabaseSet set = BuildSet(loaded);
    const SetCheckSummary summary = CheckSet(set, [&](const SetFinding& found) {
        SetFinding finding = found;
        if (invocation.strict && finding.severity == SetFinding::Severity::Warning) finding.severity = SetFinding::Severity::Error;
        if (finding.severity == SetFinding::Severity::Error || !invocation.quiet) Print(FormatSetFinding(finding) + "\n");
    });
    const long long errors = summary.errors + (invocation.strict ? summary.warnings : 0);
    const long long warnings = invocation.strict ? 0 : summary.warnings;
    if (!invocation.quiet || errors > 0) {
        std::string kinds;
        for (const auto& [kind, database] : set.byKind) kinds += (kinds.empty() ? "" : ", ") + kind;
        Print("set of " + Plural(static_cast<long long>(set.byKind.size()), "database", "databases") + " (" + kinds +
              (set.animations ? ", " + Plural(static_cast<long long>(set.animations->size()), "animation", "animations") : "") +
              "): " + Plural(summary.references, "reference", "references") + " checked, " +
              Plural(errors, "error", "errors") + ", " + Plural(warnings, "warning", "warnings") + ", " +
              Plural(summary.notes, "note", "notes") + "\n");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Report("cannot write the report to the standard output");
        return kExitFailure;
    }
    return problems > 0 || errors > 0 ? kExitFailure : kExitOk;
}

void ReportPackReferences(const Invocation& invocation, const std::function<std::optional<LoadedSet>()>& load,
                          const KindSpec* packed) {
    if (invocation.quiet) return;
    try {
        const std::optional<LoadedSet> loaded = load();
        if (!loaded || loaded->sources.size() < 2) return;
        long long shown = 0;
        CheckSet(BuildSet(*loaded), [&](const SetFinding& found) {
            if (found.severity == SetFinding::Severity::Note) return;
            if (packed != nullptr && std::find(found.kinds.begin(), found.kinds.end(), packed->name) == found.kinds.end()) return;
            SetFinding finding = found;
            finding.severity = SetFinding::Severity::Warning;
            Report(FormatSetFinding(finding));
            ++shown;
        });
        if (shown > 0)
            Report(Plural(shown, "reference warning", "reference warnings") +
                   " against the databases beside it (packed all the same; check the set for the whole report)");
    } catch (const std::exception& e) {
        Report("warning: references not checked: " + std::string(e.what()));
    }
}

}  // namespace gamedb::cli
