#include "dialogs/cls_dialog.h"

#include <algorithm>
#include <limits>
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

constexpr std::uint32_t kColorRecordSize = 36;
// Initial colour, full open, prevent full open, help button.
constexpr std::uint32_t kColorFlagsKept = 0xF;

constexpr std::uint32_t kFontDialogRecordSize = 60;
constexpr std::int32_t kBoldWeight = 700;
// Screen fonts, start from the font record, show effects.
constexpr std::uint32_t kFontDialogFlags = 0x1 | 0x40 | 0x100;
constexpr std::uint16_t kScreenFontType = 0x2000;
constexpr std::uint16_t kBoldFontType = 0x100;

constexpr std::uint32_t kPrinterRecordSize = 66;
constexpr std::uint16_t kDeviceModeSize = 122;
// Leaves out the hook, template and template-handle bits: the record has none.
constexpr std::uint32_t kPrinterFlagsKept = 0x1C0FFF;
constexpr std::uint32_t kDeviceModeOrientation = 0x1;
constexpr std::uint32_t kDeviceModeDuplex = 0x1000;
constexpr std::uint16_t kDeviceNamesHeader = 8;
constexpr std::uint32_t kMessageExclamationOk = 48;

constexpr std::uint32_t kRestartFlagsKept = 0x7;  // log off, shut down, reboot (and force)
constexpr std::uint32_t kPropertiesPrinter = 1;
constexpr std::uint32_t kPropertiesFile = 2;
constexpr std::int32_t kHelpData = 257;

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

// 32 bits or std::out_of_range: the system's records have no room for more.
std::int32_t Narrow(std::int64_t value, const char* what) {
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range(std::string(what) + " does not fit 32 bits");
    }
    return static_cast<std::int32_t>(value);
}

// The cell height for a size in points: size × 1.3 rounded half to even,
// worked on the exact decimal 13/10. In binary 1.3 is inexact, so a
// floating product can land a hair off a tie (or off a whole number) and round the
// wrong way.
std::int64_t FontHeightOf(std::int64_t size) {
    const std::int64_t product = size * 13;
    std::int64_t quotient = product / 10;  // toward zero
    const std::int64_t remainder = product % 10 < 0 ? -(product % 10) : product % 10;
    if (remainder > 5 || (remainder == 5 && quotient % 2 != 0)) quotient += product < 0 ? -1 : 1;
    return quotient;
}

PrinterDeviceNames DeviceNamesOf(const PrinterSettings& printer) {
    std::wstring text = printer.driverName + L'\0' + printer.deviceName + L'\0' + printer.portName + L'\0';
    if (text.size() > std::numeric_limits<std::uint16_t>::max() - kDeviceNamesHeader) {
        throw std::length_error("the printer's names are too long for its device-names record");
    }
    PrinterDeviceNames names;
    names.driverOffset = kDeviceNamesHeader;
    names.deviceOffset = static_cast<std::uint16_t>(names.driverOffset + printer.driverName.size() + 1);
    names.outputOffset = static_cast<std::uint16_t>(names.deviceOffset + printer.deviceName.size() + 1);
    names.defaultFlag = 0;
    // At least the usual text area, and never too small for the names.
    text.resize(std::max(text.size(), DeviceNamesTextSize), L'\0');
    names.text = std::move(text);
    return names;
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
    lastResult_ = platform_.OpenFileDialog(fileRecord_);
    TakeFileResult(lastResult_, fileRecord_, cancelError_, fileName_, fileTitle_);
}

void ClsDialog::ShowSave() {
    InitOFN();
    lastResult_ = platform_.SaveFileDialog(fileRecord_);
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

void ClsDialog::ShowShutDown() {
    platform_.ShutDownDialog(owner_);
}

void ClsDialog::ShowRestart() {
    platform_.RestartDialog(owner_, dialogPrompt_, static_cast<std::uint32_t>(flags_) & kRestartFlagsKept);
}

void ClsDialog::ShowRun(std::intptr_t /*hIcon*/) {
    RunDialogRecord record;
    record.owner = owner_;
    record.icon = icon_;
    record.title = dialogTitle_;
    record.prompt = dialogPrompt_;
    record.flags = (static_cast<std::uint32_t>(flags_) & 0xF0) / 16;
    platform_.RunDialog(record);
}

int ClsDialog::ShowFormat(std::int32_t iDrive, std::int32_t iCapacity, std::int32_t iFormatType) {
    return platform_.FormatDrive(owner_, static_cast<std::uint32_t>(iDrive), static_cast<std::uint32_t>(iCapacity),
                                 static_cast<std::uint32_t>(iFormatType));
}

// The dialog works on a copy of FileName, so FileName is left as it was
// whatever the dialog writes. The copy's buffer is declared at its true
// size: an icon from another file the user browses to is read from that
// file, and the dialog never writes past the buffer.
void ClsDialog::ShowIcon(bool LargeIcon) {
    if (!fileName_.empty() && fileName_.back() == L'\\') return;
    if (fileName_.size() > PathBufferSize) {
        throw std::invalid_argument("the icon file name is longer than " + std::to_string(PathBufferSize) +
                                    " characters");
    }
    IconPickRecord record;
    record.file = fileName_;
    record.file.resize(PathBufferSize, L'\0');
    record.index = 0;
    // 1 is a choice; -1 is a dialog that failed to show (Wine has only a stub
    // returning it), where no icon was chosen at all.
    if (platform_.ChangeIconDialog(record) <= 0) return;
    const std::wstring file = record.file.substr(0, record.file.find(L'\0'));
    if (const std::intptr_t icon = platform_.ExtractChosenIcon(file, record.index, LargeIcon)) icon_ = icon;
}

void ClsDialog::ShowObjectProp(std::wstring sObjectName, std::wstring sTab) {
    switch ((static_cast<std::uint32_t>(flags_) & 0xF00) / 256) {
    case 1:
        platform_.ObjectProperties(owner_, kPropertiesPrinter, sObjectName, sTab);
        break;
    case 2:
        platform_.ObjectProperties(owner_, kPropertiesFile, sObjectName, sTab);
        break;
    case 7:
        platform_.ObjectProperties(owner_, kPropertiesFile, L"c:\\recycled", sTab);
        break;
    case 8:
        platform_.StartProgram(L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0");
        break;
    default:
        platform_.ObjectProperties(owner_, kPropertiesFile, L"", sTab);
        break;
    }
}

void ClsDialog::ShowAbout() {
    if (appName_.empty()) appName_.assign(1, L'\0');
    platform_.AboutBox(owner_, appName_, dialogPrompt_, icon_);
}

void ClsDialog::ShowHelp() {
    helpKey_ = kHelpData;
    lastResult_ = platform_.HelpWindow(owner_, helpFile_, static_cast<std::uint32_t>(helpCommand_),
                                       static_cast<std::uint32_t>(helpKey_));
}

void ClsDialog::ShowColor() {
    ColorDialogRecord record;
    record.structSize = kColorRecordSize;
    record.owner = owner_;
    record.color = static_cast<std::uint32_t>(rgbResult_);
    record.customColors.fill(0xFFFFFFFFu);  // the user's custom colours are not kept between calls
    record.flags = static_cast<std::uint32_t>(flags_) & kColorFlagsKept;
    lastResult_ = platform_.ColorDialog(record);
    if (lastResult_ != 0) {
        rgbResult_ = static_cast<std::int32_t>(record.color);
    } else if (cancelError_) {
        throw DialogCancelled();
    }
}

void ClsDialog::ShowFont() {
    if (fontName_.size() > FaceNameLimit) {
        throw std::out_of_range("the font name is longer than " + std::to_string(FaceNameLimit) + " characters");
    }
    FontDialogRecord record;
    record.structSize = kFontDialogRecordSize;
    record.owner = owner_;
    record.font.height = Narrow(FontHeightOf(fontSize_), "the font height");
    record.font.weight = bold_ ? kBoldWeight : 0;
    record.font.italic = italic_ ? 1 : 0;
    record.font.underline = underline_ ? 1 : 0;
    record.font.strikeOut = strikeThru_ ? 1 : 0;
    record.font.faceName = fontName_;
    record.pointSize = Narrow(std::int64_t{fontSize_} * 10, "the font size in tenths of a point");
    record.flags = kFontDialogFlags;
    record.color = static_cast<std::uint32_t>(rgbResult_);
    record.fontType = kScreenFontType;

    lastResult_ = platform_.FontDialog(record);
    if (lastResult_ == 0) {
        if (cancelError_) throw DialogCancelled();
        return;
    }
    italic_ = record.font.italic != 0;
    underline_ = record.font.underline != 0;
    strikeThru_ = record.font.strikeOut != 0;
    fontSize_ = record.pointSize / 10;
    rgbResult_ = static_cast<std::int32_t>(record.color);
    bold_ = (record.fontType & kBoldFontType) != 0;

    // The name the system actually gave the font, not the one typed. Its
    // length may count the closing NUL, which is not part of the name; a
    // failed call (0) keeps the old name.
    if (auto face = platform_.FontFace(owner_, record.font)) {
        lastResult_ = face->length;
        if (face->length > 0) {
            const std::size_t length = std::min(static_cast<std::size_t>(face->length), face->buffer.size());
            const std::wstring name = face->buffer.substr(0, length);
            fontName_ = name.substr(0, name.find(L'\0'));
        }
    }
}

// The owner is left alone: the record's device-context field is no window,
// and passing it as the owner of later dialogs would make them fail.
void ClsDialog::ShowPrinter() {
    // Only finding the current printer has its own handler: with no printer
    // the user is told and the dialog still opens (the system then offers to
    // install one).
    if (!printer_) {
        PrinterLookup lookup = platform_.DefaultPrinter();
        if (lookup.printer) {
            printer_ = std::move(lookup.printer);
        } else {
            platform_.ShowMessage(owner_, lookup.error, L"Printer Error", kMessageExclamationOk);
        }
    }
    const PrinterSettings current = printer_.value_or(PrinterSettings{});

    PrinterDialogRecord record;
    record.structSize = kPrinterRecordSize;
    record.owner = owner_;
    record.flags = static_cast<std::uint32_t>(flags_) & kPrinterFlagsKept;
    // The field keeps its last character for the NUL.
    record.deviceMode.deviceName = current.deviceName.substr(0, DeviceNameSize - 1);
    record.deviceMode.size = kDeviceModeSize;
    record.deviceMode.fields = kDeviceModeOrientation | kDeviceModeDuplex;
    record.deviceMode.orientation = current.orientation;
    record.deviceMode.duplex = current.duplex;
    record.deviceNames = DeviceNamesOf(current);

    lastResult_ = platform_.PrinterDialog(record);
    if (lastResult_ == 0) {
        if (cancelError_) throw DialogCancelled();
        return;
    }

    const PrinterDeviceMode& chosen = record.deviceMode;
    const std::size_t end = chosen.deviceName.find(L'\0');
    if (end == std::wstring::npos) throw std::invalid_argument("the chosen printer's device name has no end");
    const std::wstring chosenName = platform_.UpperCase(chosen.deviceName.substr(0, end));
    if (chosenName != current.deviceName) {
        // The field holds only the start of a long name: match on that start.
        for (const PrinterSettings& installed : platform_.InstalledPrinters()) {
            if (platform_.UpperCase(installed.deviceName.substr(0, DeviceNameSize - 1)) == chosenName) {
                printer_ = installed;
            }
        }
    }
    if (printer_) {
        printer_->copies = chosen.copies;
        printer_->duplex = chosen.duplex;
        printer_->orientation = chosen.orientation;
    }
}

}  // namespace dlg
