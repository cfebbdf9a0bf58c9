// The dialog object: properties in, one Show operation, results read back
// from the properties. The records it hands to the system are built here in
// plain C++; only DialogPlatform touches comdlg32, shell32, ole32, gdi32 and
// the print spooler.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

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

// The colour dialog record (the system's CHOOSECOLOR), built fresh each call.
struct ColorDialogRecord {
    std::uint32_t structSize = 0;  // 36
    std::intptr_t owner = 0;
    std::uint32_t color = 0;       // in: the start colour; out: the chosen one (0x00BBGGRR)
    std::array<std::uint32_t, 16> customColors{};
    std::uint32_t flags = 0;
};

// The font record (the system's LOGFONT).
struct FontRecord {
    std::int32_t height = 0;
    std::int32_t width = 0;
    std::int32_t escapement = 0;
    std::int32_t orientation = 0;
    std::int32_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t underline = 0;
    std::uint8_t strikeOut = 0;
    std::uint8_t charSet = 0;
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 0;
    std::wstring faceName;  // without its NUL
};

// The font dialog record (the system's CHOOSEFONT); font, pointSize, color
// and fontType come back filled by the system.
struct FontDialogRecord {
    std::uint32_t structSize = 0;  // 60
    std::intptr_t owner = 0;       // the system takes the display context of this window
    FontRecord font;
    std::int32_t pointSize = 0;    // tenths of a point
    std::uint32_t flags = 0;
    std::uint32_t color = 0;
    std::uint16_t fontType = 0;
    std::int32_t sizeMin = 0;
    std::int32_t sizeMax = 0;
};

// The face name of a font made from a font record, as GetTextFace gave it.
struct TextFace {
    int length = 0;       // its result
    std::wstring buffer;  // the whole buffer
};

// Device-mode fields the printer dialog starts from (the system's DEVMODE).
struct PrinterDeviceMode {
    std::wstring deviceName;  // in: at most DeviceNameSize - 1 characters; out: the whole field
    std::uint16_t size = 0;   // 122, the ANSI layout; the Windows half uses its wide record's size
    std::uint32_t fields = 0;
    std::int16_t orientation = 0;
    std::int16_t copies = 0;
    std::int16_t duplex = 0;
};

// The device-names record (the system's DEVNAMES). Offsets count characters
// from the start of the record, so in the wide form the four-word header
// takes the first four characters and characters 4 to 7 stay zero.
struct PrinterDeviceNames {
    std::uint16_t driverOffset = 0;
    std::uint16_t deviceOffset = 0;
    std::uint16_t outputOffset = 0;
    std::uint16_t defaultFlag = 0;
    std::wstring text;  // the names from driverOffset on, NUL-separated, zero-padded
};

// The printer dialog record (the system's PRINTDLG); deviceMode comes back
// as the user left it.
struct PrinterDialogRecord {
    std::uint32_t structSize = 0;  // 66
    std::intptr_t owner = 0;
    PrinterDeviceMode deviceMode;
    PrinterDeviceNames deviceNames;
    std::uint32_t flags = 0;
};

// The program's current printer: its own record, filled from the system's
// default printer and switched by ShowPrinter without touching the system's.
struct PrinterSettings {
    std::wstring deviceName;
    std::wstring driverName;
    std::wstring portName;
    std::int16_t orientation = 0;
    std::int16_t copies = 0;
    std::int16_t duplex = 0;
};

// The system's default printer, or why there is none.
struct PrinterLookup {
    std::optional<PrinterSettings> printer;
    std::wstring error;  // a description for the user
};

// The change-icon dialog's buffer and index, both written back by the system.
struct IconPickRecord {
    std::wstring file;  // PathBufferSize characters, NUL-padded
    std::int32_t index = 0;
};

// The Run dialog's inputs.
struct RunDialogRecord {
    std::intptr_t owner = 0;
    std::intptr_t icon = 0;
    std::wstring title;
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
    virtual int OpenFileDialog(FileDialogRecord& record) = 0;
    virtual int SaveFileDialog(FileDialogRecord& record) = 0;
    // Shows the folder dialog. Returns the 260-character path buffer of the
    // choice, or nothing when cancelled or the choice has no file-system path.
    virtual std::optional<std::wstring> BrowseForFolder(const FolderDialogRecord& record) = 0;

    // The other dialogs. By default they do nothing and report 0, so a fake
    // scripts only what its test uses. Calls that return int give the
    // system's result.
    virtual void ShutDownDialog(std::intptr_t /*owner*/) {}
    virtual void RestartDialog(std::intptr_t /*owner*/, const std::wstring& /*prompt*/, std::uint32_t /*flags*/) {}
    virtual void RunDialog(const RunDialogRecord& /*record*/) {}
    virtual int FormatDrive(std::intptr_t /*owner*/, std::uint32_t /*drive*/, std::uint32_t /*capacity*/,
                            std::uint32_t /*options*/) {
        return 0;
    }
    // Change-icon dialog over record.file; 1 when an icon was chosen, 0 when
    // cancelled, -1 when the dialog could not be shown.
    virtual int ChangeIconDialog(IconPickRecord& /*record*/) { return 0; }
    // A copy of icon number index of the file, large or small, that the
    // caller owns; 0 when the file has no such icon.
    virtual std::intptr_t ExtractChosenIcon(const std::wstring& /*file*/, std::int32_t /*index*/, bool /*large*/) {
        return 0;
    }
    virtual void ObjectProperties(std::intptr_t /*owner*/, std::uint32_t /*type*/, const std::wstring& /*object*/,
                                  const std::wstring& /*tab*/) {}
    // Starts a program in a normal window with the focus, not waiting for it.
    virtual void StartProgram(const std::wstring& /*commandLine*/) {}
    virtual void AboutBox(std::intptr_t /*owner*/, const std::wstring& /*appName*/, const std::wstring& /*otherText*/,
                          std::intptr_t /*icon*/) {}
    virtual int HelpWindow(std::intptr_t /*owner*/, const std::wstring& /*file*/, std::uint32_t /*command*/,
                           std::uint32_t /*data*/) {
        return 0;
    }
    virtual int ColorDialog(ColorDialogRecord& /*record*/) { return 0; }
    virtual int FontDialog(FontDialogRecord& /*record*/) { return 0; }
    // Makes a font from the record, selects it into the owner's display
    // context and asks for its face name (80-character buffer, limit 79).
    // Nothing when no font could be made.
    virtual std::optional<TextFace> FontFace(std::intptr_t /*owner*/, const FontRecord& /*font*/) {
        return std::nullopt;
    }
    virtual int PrinterDialog(PrinterDialogRecord& /*record*/) { return 0; }
    virtual PrinterLookup DefaultPrinter() { return {std::nullopt, L"No printer is installed."}; }
    virtual std::vector<PrinterSettings> InstalledPrinters() { return {}; }
    // Upper case as the system's user interface has it; the default knows ASCII only.
    virtual std::wstring UpperCase(std::wstring text) {
        for (wchar_t& c : text) {
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        }
        return text;
    }
    virtual void ShowMessage(std::intptr_t /*owner*/, const std::wstring& /*text*/, const std::wstring& /*title*/,
                             std::uint32_t /*style*/) {}
};

inline constexpr std::size_t FileBufferSize = 255;
inline constexpr std::size_t PathBufferSize = 260;
inline constexpr std::size_t FaceNameLimit = 32;     // characters of FontName
inline constexpr std::size_t DeviceNameSize = 32;    // the device-mode record's name field
inline constexpr std::size_t DeviceNamesTextSize = 100;
inline constexpr std::size_t FaceBufferSize = 80;

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

    // System shut-down dialog. Never confirm it in a test.
    void ShowShutDown();
    // System restart dialog with DialogPrompt and the flags' low three bits.
    void ShowRestart();
    // System Run dialog. The argument is not used: the icon is hIcon's.
    void ShowRun(std::intptr_t hIcon);
    // Drive format dialog; gives the system's result.
    int ShowFormat(std::int32_t iDrive, std::int32_t iCapacity, std::int32_t iFormatType);
    // Change-icon dialog over FileName, which it leaves as it was; the chosen
    // icon lands in hIcon and belongs to the caller. Does nothing for a
    // FileName ending in "\"; a FileName of more than 260 characters
    // throws std::invalid_argument.
    void ShowIcon(bool LargeIcon);
    // Properties of the object the flags' bits 8-11 select, or the display settings.
    void ShowObjectProp(std::wstring sObjectName, std::wstring sTab);
    // System About box. An empty AppName becomes one NUL and stays so.
    void ShowAbout();
    // Help window for HelpFile and HelpCommand; HelpKey becomes 257.
    void ShowHelp();
    // Colour dialog starting from RGBResult, where the choice lands.
    void ShowColor();
    // Font dialog over the font properties, where the choice lands. A
    // FontName of more than 32 characters, or a FontSize whose height or
    // tenths do not fit 32 bits, throws std::out_of_range.
    void ShowFont();
    // Printer dialog over the current printer, which a confirmed dialog
    // switches and sets. A returned device name with no NUL in its field
    // throws std::invalid_argument.
    void ShowPrinter();

    // The current printer; nothing until a ShowPrinter found one.
    const std::optional<PrinterSettings>& CurrentPrinter() const { return printer_; }
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
    std::optional<PrinterSettings> printer_;
};

}  // namespace dlg
