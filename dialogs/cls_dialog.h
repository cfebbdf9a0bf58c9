// The dialog object: properties in, one Show operation, results read back
// from the properties. The records it hands to the system are built here in
// plain C++; only DialogPlatform touches comdlg32, shell32 and ole32.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace dlg {

// Raised by a cancelled dialog when CancelError is true. Its error number is 0.
class DialogCancelled : public std::exception {
public:
    int Number() const noexcept { return 0; }
    const char* what() const noexcept override { return "the dialog was cancelled"; }
};

// The file dialog record as InitOFN fills it (the system's OPENFILENAME,
// with its strings kept as wide text; embedded NULs are significant).
struct FileDialogRecord {
    std::uint32_t structSize = 0;  // 76: the layout without the later extension fields
    std::intptr_t owner = 0;
    std::wstring filter;       // "desc\0pattern\0...\0\0"
    std::int32_t filterIndex = 0;
    std::wstring file;         // exactly FileBufferSize characters, NUL-padded
    std::wstring fileTitle;    // exactly FileBufferSize NULs
    std::wstring initialDir;
    std::wstring title;
    std::uint32_t flags = 0;
    std::wstring defaultExt;
};

// The folder-browse record (the system's BROWSEINFO), built fresh each call.
struct FolderDialogRecord {
    std::intptr_t owner = 0;
    std::wstring rootPath;  // TopFolder with one NUL appended
    std::wstring prompt;
    std::uint32_t flags = 0;
};

// What the dialog object needs from the system. Windows implements it over
// the common dialogs and the shell; tests script it.
class DialogPlatform {
public:
    virtual ~DialogPlatform() = default;
    // The folder that holds the program's executable, without a trailing "\".
    virtual std::wstring ModuleFolder() = 0;
    // Shows the file-open (or save) dialog over the record; the system writes
    // the chosen path and title into record.file and record.fileTitle.
    // Returns the system's result: non-zero when a file was confirmed.
    virtual int GetOpenFileName(FileDialogRecord& record) = 0;
    virtual int GetSaveFileName(FileDialogRecord& record) = 0;
    // Shows the folder dialog. Returns the 260-character path buffer of the
    // choice, or nothing when cancelled or the choice has no file-system path.
    virtual std::optional<std::wstring> BrowseForFolder(const FolderDialogRecord& record) = 0;
};

inline constexpr std::size_t FileBufferSize = 255;
inline constexpr std::size_t PathBufferSize = 260;

class ClsDialog {
public:
    explicit ClsDialog(DialogPlatform& platform) : platform_(platform) {}

    bool CancelError() const { return cancelError_; }
    void CancelError(bool vData) { cancelError_ = vData; }
    std::intptr_t hOwner() const { return owner_; }
    void hOwner(std::intptr_t New_hOwner) { owner_ = New_hOwner; }
    std::int32_t flags() const { return flags_; }
    void flags(std::int32_t New_Flags) { flags_ = New_Flags; }
    const std::wstring& DialogTitle() const { return dialogTitle_; }
    void DialogTitle(std::wstring sTitle) { dialogTitle_ = std::move(sTitle); }
    const std::wstring& DialogPrompt() const { return dialogPrompt_; }
    void DialogPrompt(std::wstring New_Prompt) { dialogPrompt_ = std::move(New_Prompt); }
    const std::wstring& AppName() const { return appName_; }
    void AppName(std::wstring New_AppName) { appName_ = std::move(New_AppName); }
    std::intptr_t hIcon() const { return icon_; }
    void hIcon(std::intptr_t vData) { icon_ = vData; }
    bool Bold() const { return bold_; }
    void Bold(bool bBold) { bold_ = bBold; }
    const std::wstring& FontName() const { return fontName_; }
    void FontName(std::wstring sName) { fontName_ = std::move(sName); }
    std::int32_t FontSize() const { return fontSize_; }
    void FontSize(std::int32_t lSize) { fontSize_ = lSize; }
    bool Italic() const { return italic_; }
    void Italic(bool BItalic) { italic_ = BItalic; }
    bool StrikeThru() const { return strikeThru_; }
    void StrikeThru(bool bStrikethru) { strikeThru_ = bStrikethru; }
    bool Underline() const { return underline_; }
    void Underline(bool bUnderline) { underline_ = bUnderline; }
    const std::wstring& DefaultExt() const { return defaultExt_; }
    void DefaultExt(std::wstring sDefExt) { defaultExt_ = std::move(sDefExt); }
    const std::wstring& FileName() const { return fileName_; }
    void FileName(std::wstring sFileName) { fileName_ = std::move(sFileName); }
    const std::wstring& FileTitle() const { return fileTitle_; }
    void FileTitle(std::wstring sTitle) { fileTitle_ = std::move(sTitle); }
    const std::wstring& Filter() const { return filter_; }
    void Filter(std::wstring sFilter) { filter_ = std::move(sFilter); }
    std::int32_t FilterIndex() const { return filterIndex_; }
    void FilterIndex(std::int32_t lIndex) { filterIndex_ = lIndex; }
    const std::wstring& InitDir() const { return initDir_; }
    void InitDir(std::wstring sDir) { initDir_ = std::move(sDir); }
    std::int32_t HelpCommand() const { return helpCommand_; }
    void HelpCommand(std::int32_t lCommand) { helpCommand_ = lCommand; }
    const std::wstring& HelpFile() const { return helpFile_; }
    void HelpFile(std::wstring sFile) { helpFile_ = std::move(sFile); }
    std::int32_t HelpKey() const { return helpKey_; }
    void HelpKey(std::int32_t sKey) { helpKey_ = sKey; }
    std::int32_t RGBResult() const { return rgbResult_; }
    void RGBResult(std::int32_t lValue) { rgbResult_ = lValue; }

    // Fills the file dialog record from the properties. A FileName of more
    // than 255 characters throws std::invalid_argument.
    void InitOFN();
    // File-open dialog; the choice lands in FileName and FileTitle, which a
    // cancel leaves unchanged (or, with CancelError, throws DialogCancelled).
    void ShowOpen();
    void ShowSave();
    // Folder dialog rooted at TopFolder; the choice lands in InitDir, which a
    // cancel leaves unchanged. CancelError plays no part here.
    void ShowFolder(std::wstring TopFolder);

    // The record as the last InitOFN left it.
    const FileDialogRecord& FileRecord() const { return fileRecord_; }
    // The return value of the last dialog call.
    int LastResult() const { return lastResult_; }

private:
    DialogPlatform& platform_;
    bool cancelError_ = false;
    std::intptr_t owner_ = 0;
    std::int32_t flags_ = 0;
    std::wstring dialogTitle_;
    std::wstring dialogPrompt_;
    std::wstring appName_;
    std::intptr_t icon_ = 0;
    bool bold_ = false;
    std::wstring fontName_;
    std::int32_t fontSize_ = 0;
    bool italic_ = false;
    bool strikeThru_ = false;
    bool underline_ = false;
    std::wstring defaultExt_;
    std::wstring fileName_;
    std::wstring fileTitle_;
    std::wstring filter_;
    std::int32_t filterIndex_ = 0;
    std::wstring initDir_;
    std::int32_t helpCommand_ = 0;
    std::wstring helpFile_;
    std::int32_t helpKey_ = 0;
    std::int32_t rgbResult_ = 0;
    FileDialogRecord fileRecord_;
    int lastResult_ = 0;
};

}  // namespace dlg
