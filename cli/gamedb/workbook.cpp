// Workbooks on the command line, and a file dropped on the program.
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "archive/file_util.h"
#include "cli/gamedb/commands.h"
#include "gamedb/archive_folder.h"
#include "gamedb/archive_member.h"
#include "gamedb/byte_io.h"
#include "gamedb/check_set.h"
#include "gamedb/community.h"
#include "gamedb/database.h"
#include "gamedb/error.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"
#include "gamedb/workbook_folder.h"

#ifdef _WIN32
#include <windows.h>
#include <conio.h>
#endif

namespace gamedb::cli {
namespace fs = std::filesystem;
namespace {

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

// A workbook in the way is replaced only when it holds nothing a person
// could have changed since unpack wrote it.
void RefuseReplacingWorkbook(const fs::path& book) {
    if (!Exists(book)) return;
    std::string problem;
    if (!HasIndexSheet(book)) {
        problem = "is not a workbook that gamedb unpack wrote; unpacking would replace it";
    } else {
        std::string list;
        for (const std::string& name : EditedWorkbookTables(book)) list += (list.empty() ? "" : ", ") + name;
        if (list.empty()) return;
        problem = "holds tables changed since they were unpacked: " + list + "; unpacking would replace them";
    }
    FailAt(book, problem + " (save it elsewhere, or give --force to replace it)");
}

// `name.ext` -> `name (2).ext`, ... : the first name not taken.
fs::path FreeName(const fs::path& wanted) {
    fs::path path = wanted;
    for (int n = 2; Exists(path); ++n)
        path = wanted.parent_path() / PathFromUtf8(resarc::PathToUtf8(wanted.stem()) + " (" + std::to_string(n) + ")" +
                                                  resarc::PathToUtf8(wanted.extension()));
    return path;
}

// Copies `file` to a new `file.bak` (or `file.2.bak`, ...) and returns its path.
fs::path KeepBackup(const fs::path& file) {
    fs::path backup = file;
    backup += ".bak";
    for (int n = 2; Exists(backup); ++n) {
        backup = file;
        backup += "." + std::to_string(n) + ".bak";
    }
    FileRegionSource source(file, 0, UINT64_MAX, QuotedPath(file));
    FileSink sink(backup);
    std::vector<std::uint8_t> block;
    while (source.Remaining() > 0) {
        source.ReadInto(block, static_cast<std::size_t>(std::min<std::uint64_t>(source.Remaining(), 1 << 20)), "the file");
        sink.Write(block);
    }
    sink.Close();
    return backup;
}

// Where a workbook's tables came from, as its manifest or archive record says.
std::string RecordedSource(const fs::path& book) {
    WorkbookInputFolder in(book);
    const std::string source =
        in.Has(std::string(kArchiveManifestName)) ? RecordedArchive(in) : ReadProvenance(in).source;
    if (source.empty())
        FailAt(book, "does not record the database or archive it came from; pack it with: gamedb pack " +
                       QuotedPath(book) + " DATABASE");
    return source;
}

bool IsCommunityLayout(const fs::path& book) {
    try {
        workbook::WorkbookReader reader(book);
        return IsCommunityWorkbook(reader);
    } catch (const workbook::Error&) {
        return false;
    }
}

// Whether the window the program runs in closes when it ends: Windows made
// one for it alone, as for a file dropped on the program.
bool OwnWindow() {
#ifdef _WIN32
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
#else
    return false;
#endif
}

void WaitForKey() {
#ifdef _WIN32
    std::fputs("\nPress any key to close this window.\n", stderr);
    _getch();
#endif
}

}  // namespace

int UnpackToWorkbook(const Invocation& invocation, const std::string& source, const fs::path& book) {
    PrepareTarget(book);
    if (!invocation.force) RefuseReplacingWorkbook(book);
    const fs::path sourcePath = PathFromUtf8(source);
    if (!SplitMemberArgument(source) && IsArchiveFile(sourcePath)) {
        WorkbookOutputFolder out(book, {sourcePath});
        const ArchiveFolderSummary summary = UnpackArchive(sourcePath, out);
        if (!invocation.quiet)
            Report("unpacked " + QuotedPath(sourcePath) + " into " + QuotedPath(book) + ": " +
                   std::to_string(summary.databases) + " databases as sheets; the other members stay in the archive");
        return kExitOk;
    }
    OpenedDatabase database = OpenDatabase(source, invocation.kind);
    WorkbookOutputFolder out(book, {database.path});
    return UnpackRecorded(invocation, database, source, out, book);
}

int PackWorkbook(const Invocation& given, const fs::path& book, const std::string& targetArg) {
    // The commands' messages name the operands; a dropped file has only one.
    Invocation invocation = given;
    invocation.operands = {resarc::PathToUtf8(book), targetArg};
    const fs::path target = PathFromUtf8(targetArg);
    const auto member = SplitMemberArgument(targetArg);
    PrepareTarget(member ? PathFromUtf8(member->archive) : target);
    WorkbookInputFolder in(book);
    try {
        if (in.Has(std::string(kArchiveManifestName))) {
            if (member)
                throw UsageError(QuotedPath(book) + " holds a whole archive; pack it into the archive, not into a member");
            const int status = ReportPackedArchive(invocation, PackArchive(in, target, false));
            ReportPackReferences(invocation, [&] { return std::optional(LoadSetFromArchive(target)); }, nullptr);
            return status;
        }
        const KindSpec& kind = CheckedKind(invocation, in);
        if (member) {
            const int status = PackIntoMember(invocation, in, *member);
            ReportPackReferences(invocation, [&] { return std::optional(LoadSetFromArchive(PathFromUtf8(member->archive))); }, &kind);
            return status;
        }
        ReportPacked(invocation, QuotedPath(book), target, PackWithReport(invocation, in, target));
        return kExitOk;
    } catch (const Error& error) {
        throw in.Locate(error);
    }
}

int RunDropped(const Invocation& invocation, const std::string& path) {
    const bool wait = OwnWindow();
    int status = kExitFailure;
    try {
        const fs::path file = PathFromUtf8(path);
        if (IsWorkbookPath(file)) {
            if (!HasIndexSheet(file) && IsCommunityLayout(file))
                FailAt(file, "is a workbook in the community's layout, which does not record the archive it was made "
                             "from; pack it with: gamedb pack " + QuotedPath(file) + " ARCHIVE");
            const std::string source = RecordedSource(file);
            const auto member = SplitMemberArgument(source);
            const fs::path target = member ? PathFromUtf8(member->archive) : PathFromUtf8(source);
            if (!fs::is_regular_file(target))
                FailAt(target, "is not there to pack into (the workbook came from it); pack it with: gamedb pack " +
                                 QuotedPath(file) + " DATABASE");
            // Nothing was replaced when pack failed: the copy is not needed.
            RemovedUnlessKept backup(KeepBackup(target));
            status = PackWorkbook(invocation, file, source);
            if (status == kExitOk) {
                backup.Keep();
                if (!invocation.quiet) Report("the previous " + QuotedPath(target) + " is kept as " + QuotedPath(backup.Path()));
            }
        } else {
            fs::path book = file;
            book.replace_extension(".xlsx");
            status = UnpackToWorkbook(invocation, path, FreeName(book));
        }
    } catch (const UsageError& error) {
        Report(error.what());
        status = kExitUsage;
    } catch (const std::exception& error) {
        Report(error.what());
        status = kExitFailure;
    }
    if (wait) WaitForKey();
    return status;
}

}  // namespace gamedb::cli
