// The check and diff commands.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/gamedb/commands.h"
#include "gamedb/adb.h"
#include "gamedb/check.h"
#include "gamedb/database.h"
#include "gamedb/diff.h"
#include "gamedb/error.h"

namespace gamedb::cli {
namespace {

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// idb2txt reads only whole files, so its reading is shown only for those.
bool WholeFile(const OpenedDatabase& database) {
    std::error_code error;
    const auto size = std::filesystem::file_size(database.path, error);
    return !error && size == database.source->Size();
}

// Both sides must be of one kind. A name that tells no kind takes the other
// side's, so that a renamed copy ("acks-mod.db") compares with "acks.db".
std::string DiffKind(const Invocation& invocation) {
    if (!invocation.kind.empty()) return invocation.kind;
    const KindSpec* a = KindForFileName(invocation.operands[0]);
    const KindSpec* b = KindForFileName(invocation.operands[1]);
    if (a != nullptr && b != nullptr && a != b)
        throw UsageError("cannot compare a database of " + std::string(a->name) + " with one of " +
                         std::string(b->name) + "; give --kind to compare them as one kind");
    if (a != nullptr) return std::string(a->name);
    if (b != nullptr) return std::string(b->name);
    return {};
}

}  // namespace

int RunCheck(const Invocation& invocation) {
    if (IsSetCheck(invocation)) return RunCheckSet(invocation);
    OpenedDatabase database = OpenDatabase(invocation.operands[0], invocation.kind);
    CheckOptions options;
    if (database.kind->name == "items" && WholeFile(database)) options.idb2txtFile = database.path;
    const CheckSummary summary =
        Check(*database.source, *database.kind,
              [&](const CheckFinding& finding) {
                  if (finding.severity == CheckFinding::Severity::Problem || !invocation.quiet)
                      Print(FormatFinding(finding) + "\n");
              },
              options);
    if (!invocation.quiet || summary.problems > 0)
        Print(database.label + " (" + std::string(database.kind->name) + "): " +
              (IsAnimKind(*database.kind) ? "" : std::to_string(summary.blocks) + " blocks, ") +
              std::to_string(summary.records) + (IsAnimKind(*database.kind) ? " clips, " : " records, ") + std::to_string(summary.problems) +
              (summary.problems == 1 ? " problem\n" : " problems\n"));
    if (StdoutFailed("the report")) return kExitFailure;
    return summary.problems > 0 ? kExitFailure : kExitOk;
}

// Like diff(1): 0 equal, 1 different, 2 trouble.
int RunDiff(const Invocation& invocation) {
    constexpr int kExitTrouble = 2;
    const std::string kind = DiffKind(invocation);
    try {
        OpenedDatabase before = OpenDatabase(invocation.operands[0], kind);
        OpenedDatabase after = OpenDatabase(invocation.operands[1], kind);
        const DiffResult diff = Diff(*before.source, *after.source, *before.kind);
        if (!invocation.quiet) Print(FormatDiff(diff));
        if (StdoutFailed("the report")) return kExitTrouble;
        return diff.Equal() ? kExitOk : kExitFailure;
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& e) {
        Report(e.what());
        return kExitTrouble;
    }
}

}  // namespace gamedb::cli
