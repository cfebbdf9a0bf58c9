#include "dialogs/cls_dialog.h"

#include <stdexcept>
#include <utility>

namespace dlg {

namespace {

constexpr std::uint32_t kFileRecordSize = 76;
// Hook, template and template handle: the record carries none of them, so the
// system must not be told to look for them.
constexpr std::uint32_t kFileFlagsCleared = 0x20 | 0x40 | 0x80;
// File-system folders only, computers, printers, files.
constexpr std::uint32_t kFolderFlagsKept = 0x7001;
constexpr std::uint32_t kFolderOnlyFileSystem = 0x0001;
constexpr std::uint32_t kFolderBrowseForComputer = 0x1000;

// The text before the first NUL, or nothing when the buffer holds no NUL
// (the system did not terminate it, so it is not a result to trust).
std::optional<std::wstring> TextBeforeNul(const std::wstring& buffer) {
    const std::size_t end = buffer.find(L'\0');
    if (end == std::wstring::npos) return std::nullopt;
    return buffer.substr(0, end);
}

// Reads a confirmed dialog's buffers back into FileName and FileTitle; a
// cancel or failure leaves both alone.
void TakeFileResult(int result, const FileDialogRecord& record, bool cancelError, std::wstring& fileName,
                    std::wstring& fileTitle) {
    if (result > 0) {
        if (auto title = TextBeforeNul(record.fileTitle)) fileTitle = std::move(*title);
        if (auto name = TextBeforeNul(record.file)) fileName = std::move(*name);
        return;
    }
    if (cancelError) throw DialogCancelled();
}

}  // namespace

// A FileName of exactly 255 characters is accepted and fills the buffer with
// no NUL left in it. The system reads the buffer as a terminated string, so
// the Windows layer always hands it one more NUL slot than the 255 it
// declares; the dialog then shows the name and writes back at most 254
// characters and a NUL. Only a longer name, which cannot fit at all, fails.
void ClsDialog::InitOFN() {
    if (fileName_.size() > FileBufferSize) {
        throw std::invalid_argument("the file name is longer than " + std::to_string(FileBufferSize) +
                                    " characters");
    }
    FileDialogRecord record;
    record.structSize = kFileRecordSize;
    record.owner = owner_;
    record.flags = static_cast<std::uint32_t>(flags_) & ~kFileFlagsCleared;
    record.defaultExt = defaultExt_;
    record.initialDir = initDir_.empty() ? platform_.ModuleFolder() : initDir_;

    record.file = fileName_;
    record.file.resize(FileBufferSize, L'\0');
    record.fileTitle.assign(FileBufferSize, L'\0');

    // "desc|pattern|desc|pattern" becomes the system's NUL-separated list,
    // closed by an empty entry.
    record.filter = filter_;
    for (wchar_t& c : record.filter) {
        if (c == L'|') c = L'\0';
    }
    record.filter.append(2, L'\0');

    record.filterIndex = filterIndex_;
    record.title = dialogTitle_;
    fileRecord_ = std::move(record);
}

void ClsDialog::ShowOpen() {
    InitOFN();
    lastResult_ = platform_.GetOpenFileName(fileRecord_);
    TakeFileResult(lastResult_, fileRecord_, cancelError_, fileName_, fileTitle_);
}

void ClsDialog::ShowSave() {
    InitOFN();
    lastResult_ = platform_.GetSaveFileName(fileRecord_);
    TakeFileResult(lastResult_, fileRecord_, cancelError_, fileName_, fileTitle_);
}

void ClsDialog::ShowFolder(std::wstring TopFolder) {
    FolderDialogRecord record;
    record.owner = owner_;
    record.rootPath = std::move(TopFolder);
    record.rootPath.push_back(L'\0');
    record.prompt = dialogPrompt_;
    // Computers, printers or files need the caller's own bits; anything
    // else browses file-system folders only.
    const std::uint32_t kept = static_cast<std::uint32_t>(flags_) & kFolderFlagsKept;
    record.flags = kept >= kFolderBrowseForComputer ? kept : kFolderOnlyFileSystem;

    // A path buffer filled to the brim still names the folder chosen.
    if (auto path = platform_.BrowseForFolder(record)) initDir_ = path->substr(0, path->find(L'\0'));
}

}  // namespace dlg
