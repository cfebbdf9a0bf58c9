#include "dialogs/cls_dialog_win.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "win/scoped_win.h"

namespace dlg {

namespace {

// The record without the extension fields added after it: every version of
// the system accepts it, and it is what the dialog object describes.
constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR);
#if !defined(_WIN64)
static_assert(kOpenFileNameSize == 76, "the 32-bit file dialog record is 76 bytes");
static_assert(sizeof(BROWSEINFOW) == 32, "the 32-bit folder dialog record is 32 bytes");
static_assert(sizeof(CHOOSECOLORW) == 36, "the 32-bit colour dialog record is 36 bytes");
static_assert(sizeof(CHOOSEFONTW) == 60, "the 32-bit font dialog record is 60 bytes");
static_assert(sizeof(PRINTDLGW) == 66, "the 32-bit printer dialog record is 66 bytes, packed");
#endif
static_assert(sizeof(DEVNAMES) == 4 * sizeof(WCHAR), "the device-names header is four characters wide");

// shell32 export 162: turns a path into an item id list without touching the
// disk; an empty path gives the desktop. It is exported only by number.
using SimpleIdListFromPath = LPITEMIDLIST(WINAPI*)(LPCWSTR path);

LPITEMIDLIST IdListFromPath(const std::wstring& path) {
    // No id list is the desktop too, and Wine's export makes an id list of
    // something else from "", which leaves the folder dialog's tree empty.
    if (path.c_str()[0] == L'\0') return nullptr;
    HMODULE shell = GetModuleHandleW(L"shell32.dll");  // loaded: we import from it
    if (shell == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(shell, MAKEINTRESOURCEA(162));
    if (proc == nullptr) return nullptr;
    // Through void(*)(), the one function type a cast to any other is allowed from.
    auto fn = reinterpret_cast<SimpleIdListFromPath>(reinterpret_cast<void (*)()>(proc));
    return fn(path.c_str());
}

// A shell export taken by number, or null when this shell lacks it: the
// caller then does nothing.
template <typename Function>
Function ShellOrdinal(WORD ordinal) {
    HMODULE shell = GetModuleHandleW(L"shell32.dll");  // loaded: we import from it
    if (shell == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(shell, MAKEINTRESOURCEA(ordinal));
    if (proc == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

// The exports by number; all take wide strings.
using ExitWindowsDialogFn = void(WINAPI*)(HWND owner);
using RestartDialogFn = int(WINAPI*)(HWND owner, LPCWSTR prompt, DWORD flags);
using RunFileDlgFn = void(WINAPI*)(HWND owner, HICON icon, LPCWSTR folder, LPCWSTR title, LPCWSTR prompt,
                                   UINT flags);
using PickIconDlgFn = int(WINAPI*)(HWND owner, LPWSTR file, UINT fileSize, int* index);
using ObjectPropertiesFn = BOOL(WINAPI*)(HWND owner, DWORD type, LPCWSTR object, LPCWSTR page);
constexpr WORD kRestartOrdinal = 59;
constexpr WORD kShutDownOrdinal = 60;
constexpr WORD kRunOrdinal = 61;
constexpr WORD kPickIconOrdinal = 62;
constexpr WORD kObjectPropertiesOrdinal = 178;

HWND AsWindow(std::intptr_t handle) { return reinterpret_cast<HWND>(handle); }

// A movable global memory block. The printer dialog may reallocate the
// blocks it is given, so after the call we own whatever the record names.
class ScopedGlobal {
public:
    explicit ScopedGlobal(std::size_t size) : block_(GlobalAlloc(GHND, size)) {
        if (block_ == nullptr) throw std::bad_alloc();
    }
    ScopedGlobal(const ScopedGlobal&) = delete;
    ScopedGlobal& operator=(const ScopedGlobal&) = delete;
    ~ScopedGlobal() {
        if (block_ != nullptr) GlobalFree(block_);
    }
    HGLOBAL Get() const noexcept { return block_; }
    // The handle the dialog left in the record; the old one is its to have freed.
    void Adopt(HGLOBAL block) noexcept { block_ = block; }

private:
    HGLOBAL block_;
};

// A locked global block, unlocked on the way out.
template <typename T>
class ScopedLock {
public:
    explicit ScopedLock(HGLOBAL block) noexcept : block_(block), data_(static_cast<T*>(GlobalLock(block))) {}
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ~ScopedLock() {
        if (data_ != nullptr) GlobalUnlock(block_);
    }
    T* Get() const noexcept { return data_; }

private:
    HGLOBAL block_;
    T* data_;
};

// A fixed wide field filled from text, cut to leave room for the NUL.
template <std::size_t N>
void CopyField(WCHAR (&field)[N], const std::wstring& text) {
    const std::size_t count = text.copy(field, N - 1);
    field[count] = L'\0';
}

// Up to the first NUL, or the whole field when it has none.
template <std::size_t N>
std::wstring FieldText(const WCHAR (&field)[N]) {
    return std::wstring(field, static_cast<std::size_t>(std::find(field, field + N, L'\0') - field));
}

std::wstring OrEmpty(LPCWSTR text) { return text == nullptr ? std::wstring() : std::wstring(text); }

// A face name of 32 characters keeps 31: the field holds its NUL too, and
// no installed face has a longer name.
LOGFONTW ToLogFont(const FontRecord& font) {
    LOGFONTW logFont{};
    logFont.lfHeight = font.height;
    logFont.lfWidth = font.width;
    logFont.lfEscapement = font.escapement;
    logFont.lfOrientation = font.orientation;
    logFont.lfWeight = font.weight;
    logFont.lfItalic = font.italic;
    logFont.lfUnderline = font.underline;
    logFont.lfStrikeOut = font.strikeOut;
    logFont.lfCharSet = font.charSet;
    logFont.lfOutPrecision = font.outPrecision;
    logFont.lfClipPrecision = font.clipPrecision;
    logFont.lfQuality = font.quality;
    logFont.lfPitchAndFamily = font.pitchAndFamily;
    CopyField(logFont.lfFaceName, font.faceName);
    return logFont;
}

FontRecord FromLogFont(const LOGFONTW& logFont) {
    FontRecord font;
    font.height = logFont.lfHeight;
    font.width = logFont.lfWidth;
    font.escapement = logFont.lfEscapement;
    font.orientation = logFont.lfOrientation;
    font.weight = logFont.lfWeight;
    font.italic = logFont.lfItalic;
    font.underline = logFont.lfUnderline;
    font.strikeOut = logFont.lfStrikeOut;
    font.charSet = logFont.lfCharSet;
    font.outPrecision = logFont.lfOutPrecision;
    font.clipPrecision = logFont.lfClipPrecision;
    font.quality = logFont.lfQuality;
    font.pitchAndFamily = logFont.lfPitchAndFamily;
    font.faceName = FieldText(logFont.lfFaceName);
    return font;
}

std::wstring SystemMessage(DWORD error) {
    LPWSTR text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = length != 0 ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    if (message.empty()) message = L"System error " + std::to_wstring(error) + L".";
    return message;
}

PrinterSettings SettingsOf(const PRINTER_INFO_2W& info) {
    PrinterSettings printer;
    printer.deviceName = OrEmpty(info.pPrinterName);
    printer.driverName = OrEmpty(info.pDriverName);
    printer.portName = OrEmpty(info.pPortName);
    if (info.pDevMode != nullptr) {
        printer.orientation = info.pDevMode->dmOrientation;
        printer.copies = info.pDevMode->dmCopies;
        printer.duplex = info.pDevMode->dmDuplex;
    }
    return printer;
}

// The device-mode block the printer dialog starts from. The wide record is
// used whole; the fields set are those of the ANSI one.
void FillDeviceMode(HGLOBAL block, const PrinterDeviceMode& from) {
    ScopedLock<DEVMODEW> mode(block);
    if (mode.Get() == nullptr) throw std::bad_alloc();
    CopyField(mode.Get()->dmDeviceName, from.deviceName);
    mode.Get()->dmSize = sizeof(DEVMODEW);
    mode.Get()->dmFields = from.fields;
    mode.Get()->dmOrientation = from.orientation;
    mode.Get()->dmDuplex = from.duplex;
}

// Header words, then the text at driverOffset characters from the start.
void FillDeviceNames(HGLOBAL block, const PrinterDeviceNames& from) {
    ScopedLock<WCHAR> names(block);
    if (names.Get() == nullptr) throw std::bad_alloc();
    const WORD header[4] = {from.driverOffset, from.deviceOffset, from.outputOffset, from.defaultFlag};
    std::memcpy(names.Get(), header, sizeof(header));
    from.text.copy(names.Get() + from.driverOffset, from.text.size());
}

LPCWSTR OrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// A 255-character buffer with one spare NUL: a FileName that fills all 255
// is still a terminated string when the system reads it.
std::vector<wchar_t> FileBuffer(const std::wstring& text) {
    std::vector<wchar_t> buffer(FileBufferSize + 1, L'\0');
    text.copy(buffer.data(), FileBufferSize);
    return buffer;
}

class WindowsDialogPlatform final : public DialogPlatform {
public:
    std::wstring ModuleFolder() override {
        std::vector<wchar_t> path(MAX_PATH);
        for (;;) {
            const DWORD size = static_cast<DWORD>(path.size());
            const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
            if (length == 0) return {};
            if (length < size) {
                std::wstring folder(path.data(), length);
                const std::size_t slash = folder.find_last_of(L'\\');
                if (slash == std::wstring::npos) return {};
                // "C:" alone would mean the drive's current folder, not its root.
                const bool driveRoot = slash > 0 && folder[slash - 1] == L':';
                folder.resize(driveRoot ? slash + 1 : slash);
                return folder;
            }
            path.resize(path.size() * 2);  // truncated: a long path
        }
    }

    int OpenFileDialog(FileDialogRecord& record) override { return RunFileDialog(record, GetOpenFileNameW); }
    int SaveFileDialog(FileDialogRecord& record) override { return RunFileDialog(record, GetSaveFileNameW); }

    std::optional<std::wstring> BrowseForFolder(const FolderDialogRecord& record) override {
        if (!com_) com_ = std::make_unique<w32::ScopedCom>();  // the shell's tree needs an apartment
        w32::ScopedIdList root(IdListFromPath(record.rootPath));

        BROWSEINFOW info{};
        info.hwndOwner = reinterpret_cast<HWND>(record.owner);
        info.pidlRoot = root.Get();
        info.lpszTitle = OrNull(record.prompt);
        info.ulFlags = record.flags;
        w32::ScopedIdList chosen(SHBrowseForFolderW(&info));
        if (chosen.Get() == nullptr) return std::nullopt;

        std::wstring path(PathBufferSize, L'\0');
        if (!SHGetPathFromIDListW(chosen.Get(), path.data())) return std::nullopt;  // computer, printer
        return path;
    }

    void ShutDownDialog(std::intptr_t owner) override {
        if (auto dialog = ShellOrdinal<ExitWindowsDialogFn>(kShutDownOrdinal)) dialog(AsWindow(owner));
    }

    void RestartDialog(std::intptr_t owner, const std::wstring& prompt, std::uint32_t flags) override {
        if (auto dialog = ShellOrdinal<RestartDialogFn>(kRestartOrdinal)) {
            dialog(AsWindow(owner), OrNull(prompt), flags);
        }
    }

    void RunDialog(const RunDialogRecord& record) override {
        if (auto dialog = ShellOrdinal<RunFileDlgFn>(kRunOrdinal)) {
            dialog(AsWindow(record.owner), reinterpret_cast<HICON>(record.icon), nullptr, OrNull(record.title),
                   OrNull(record.prompt), record.flags);
        }
    }

    int FormatDrive(std::intptr_t owner, std::uint32_t drive, std::uint32_t capacity,
                    std::uint32_t options) override {
        return static_cast<int>(SHFormatDrive(AsWindow(owner), drive, capacity, options));
    }

    // No owner: the dialog stands on its own, as the object has always shown it.
    int ChangeIconDialog(IconPickRecord& record) override {
        auto dialog = ShellOrdinal<PickIconDlgFn>(kPickIconOrdinal);
        if (dialog == nullptr) return 0;
        std::vector<wchar_t> file(PathBufferSize + 1, L'\0');  // one spare NUL past a full buffer
        record.file.copy(file.data(), PathBufferSize);
        int index = record.index;
        const int result = dialog(nullptr, file.data(), static_cast<UINT>(PathBufferSize), &index);
        record.file.assign(file.data(), PathBufferSize);
        record.index = index;
        return result;
    }

    std::intptr_t ExtractChosenIcon(const std::wstring& file, std::int32_t index, bool large) override {
        w32::ScopedIcon big;
        w32::ScopedIcon small;
        if (ExtractIconExW(file.c_str(), index, big.Out(), small.Out(), 1) == 0) return 0;
        HICON wanted = large ? big.Get() : small.Get();
        return wanted == nullptr ? 0 : reinterpret_cast<std::intptr_t>(CopyIcon(wanted));
    }

    void ObjectProperties(std::intptr_t owner, std::uint32_t type, const std::wstring& object,
                          const std::wstring& tab) override {
        if (auto dialog = ShellOrdinal<ObjectPropertiesFn>(kObjectPropertiesOrdinal)) {
            dialog(AsWindow(owner), type, object.c_str(), OrNull(tab));
        }
    }

    void StartProgram(const std::wstring& commandLine) override {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());  // CreateProcessW may write to it
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }

    void AboutBox(std::intptr_t owner, const std::wstring& appName, const std::wstring& otherText,
                  std::intptr_t icon) override {
        ShellAboutW(AsWindow(owner), appName.c_str(), OrNull(otherText), reinterpret_cast<HICON>(icon));
    }

    int HelpWindow(std::intptr_t owner, const std::wstring& file, std::uint32_t command,
                   std::uint32_t data) override {
        return WinHelpW(AsWindow(owner), OrNull(file), command, data);
    }

    int ColorDialog(ColorDialogRecord& record) override {
        COLORREF custom[16];
        std::copy(record.customColors.begin(), record.customColors.end(), custom);
        CHOOSECOLORW choose{};
        choose.lStructSize = sizeof(choose);
        choose.hwndOwner = AsWindow(record.owner);
        choose.hInstance = reinterpret_cast<HWND>(GetModuleHandleW(nullptr));  // read only with a template
        choose.rgbResult = record.color;
        choose.lpCustColors = custom;
        choose.Flags = record.flags;
        const BOOL result = ChooseColorW(&choose);
        record.color = choose.rgbResult;
        std::copy(custom, custom + 16, record.customColors.begin());
        return result;
    }

    int FontDialog(FontDialogRecord& record) override {
        w32::ScopedWindowDC display(AsWindow(record.owner));
        LOGFONTW logFont = ToLogFont(record.font);
        CHOOSEFONTW choose{};
        choose.lStructSize = sizeof(choose);
        choose.hwndOwner = AsWindow(record.owner);
        choose.hDC = display.Get();
        choose.lpLogFont = &logFont;
        choose.iPointSize = record.pointSize;
        choose.Flags = record.flags;
        choose.rgbColors = record.color;
        choose.nFontType = record.fontType;
        choose.nSizeMin = record.sizeMin;
        choose.nSizeMax = record.sizeMax;
        const BOOL result = ChooseFontW(&choose);
        record.font = FromLogFont(logFont);
        record.pointSize = choose.iPointSize;
        record.color = choose.rgbColors;
        record.fontType = choose.nFontType;
        return result;
    }

    std::optional<TextFace> FontFace(std::intptr_t owner, const FontRecord& font) override {
        const LOGFONTW logFont = ToLogFont(font);
        w32::ScopedFont made(CreateFontIndirectW(&logFont));
        if (made.Get() == nullptr) return std::nullopt;
        w32::ScopedWindowDC display(AsWindow(owner));
        if (display.Get() == nullptr) return std::nullopt;
        w32::ScopedSelect selected(display.Get(), made.Get());
        TextFace face;
        face.buffer.assign(FaceBufferSize, L'\0');
        face.length = GetTextFaceW(display.Get(), static_cast<int>(FaceBufferSize - 1), face.buffer.data());
        return face;
    }

    int PrinterDialog(PrinterDialogRecord& record) override {
        w32::ScopedWindowDC display(AsWindow(record.owner));
        ScopedGlobal deviceMode(sizeof(DEVMODEW));
        FillDeviceMode(deviceMode.Get(), record.deviceMode);
        ScopedGlobal deviceNames((record.deviceNames.driverOffset + record.deviceNames.text.size()) * sizeof(WCHAR));
        FillDeviceNames(deviceNames.Get(), record.deviceNames);

        PRINTDLGW print{};
        print.lStructSize = sizeof(print);
        print.hwndOwner = AsWindow(record.owner);
        print.hDevMode = deviceMode.Get();
        print.hDevNames = deviceNames.Get();
        print.hDC = display.Get();
        print.Flags = record.flags;
        const BOOL result = PrintDlgW(&print);
        deviceMode.Adopt(print.hDevMode);
        deviceNames.Adopt(print.hDevNames);
        // A printer context asked for with the flags: the object has no way to
        // hand it out. Without those flags the field is undefined on return.
        const bool madeContext = (print.Flags & (PD_RETURNDC | PD_RETURNIC)) != 0 && print.hDC != display.Get();
        w32::ScopedCreatedDC made(madeContext ? print.hDC : nullptr);
        if (result == 0 || print.hDevMode == nullptr) return result;

        ScopedLock<DEVMODEW> mode(print.hDevMode);
        if (mode.Get() == nullptr) throw std::bad_alloc();
        record.deviceMode.deviceName.assign(mode.Get()->dmDeviceName, DeviceNameSize);
        record.deviceMode.size = mode.Get()->dmSize;
        record.deviceMode.fields = mode.Get()->dmFields;
        record.deviceMode.orientation = mode.Get()->dmOrientation;
        record.deviceMode.copies = mode.Get()->dmCopies;
        record.deviceMode.duplex = mode.Get()->dmDuplex;
        return result;
    }

    PrinterLookup DefaultPrinter() override {
        DWORD size = 0;
        GetDefaultPrinterW(nullptr, &size);
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return {std::nullopt, L"No default printer is installed."};
        if (error != ERROR_INSUFFICIENT_BUFFER) return {std::nullopt, SystemMessage(error)};
        std::vector<wchar_t> name(size, L'\0');
        if (!GetDefaultPrinterW(name.data(), &size)) return {std::nullopt, SystemMessage(GetLastError())};

        w32::ScopedPrinter printer;
        if (!OpenPrinterW(name.data(), printer.Out(), nullptr)) return {std::nullopt, SystemMessage(GetLastError())};
        DWORD needed = 0;
        GetPrinterW(printer.Get(), 2, nullptr, 0, &needed);
        std::vector<BYTE> info(std::max<DWORD>(needed, sizeof(PRINTER_INFO_2W)));
        if (!GetPrinterW(printer.Get(), 2, info.data(), static_cast<DWORD>(info.size()), &needed)) {
            return {std::nullopt, SystemMessage(GetLastError())};
        }
        PrinterSettings settings = SettingsOf(*reinterpret_cast<const PRINTER_INFO_2W*>(info.data()));
        settings.deviceName = name.data();  // the name the user knows it by, even for a connection
        return {settings, {}};
    }

    std::vector<PrinterSettings> InstalledPrinters() override {
        const DWORD kinds = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
        DWORD needed = 0;
        DWORD count = 0;
        EnumPrintersW(kinds, nullptr, 2, nullptr, 0, &needed, &count);
        if (needed == 0) return {};
        std::vector<BYTE> buffer(needed);
        if (!EnumPrintersW(kinds, nullptr, 2, buffer.data(), needed, &needed, &count)) return {};
        const auto* infos = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        std::vector<PrinterSettings> printers;
        for (DWORD i = 0; i < count; ++i) printers.push_back(SettingsOf(infos[i]));
        return printers;
    }

    std::wstring UpperCase(std::wstring text) override {
        if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
        return text;
    }

    void ShowMessage(std::intptr_t owner, const std::wstring& text, const std::wstring& title,
                     std::uint32_t style) override {
        MessageBoxW(AsWindow(owner), text.c_str(), title.c_str(), style);
    }

private:
    using FileDialogCall = BOOL(WINAPI*)(LPOPENFILENAMEW);

    static int RunFileDialog(FileDialogRecord& record, FileDialogCall call) {
        std::vector<wchar_t> file = FileBuffer(record.file);
        std::vector<wchar_t> fileTitle = FileBuffer(record.fileTitle);

        OPENFILENAMEW ofn{};
        ofn.lStructSize = kOpenFileNameSize;  // record.structSize is the 32-bit figure
        ofn.hwndOwner = reinterpret_cast<HWND>(record.owner);
        ofn.hInstance = GetModuleHandleW(nullptr);
        ofn.lpstrFilter = record.filter.c_str();
        ofn.nFilterIndex = static_cast<DWORD>(record.filterIndex);
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(FileBufferSize);
        ofn.lpstrFileTitle = fileTitle.data();
        ofn.nMaxFileTitle = static_cast<DWORD>(FileBufferSize);
        ofn.lpstrInitialDir = OrNull(record.initialDir);
        ofn.lpstrTitle = OrNull(record.title);  // null: the system's own "Open" / "Save As"
        ofn.Flags = record.flags;
        ofn.lpstrDefExt = OrNull(record.defaultExt);  // null: nothing is appended
        const BOOL result = call(&ofn);

        record.file.assign(file.data(), FileBufferSize);
        record.fileTitle.assign(fileTitle.data(), FileBufferSize);
        return result;
    }

    std::unique_ptr<w32::ScopedCom> com_;
};

}  // namespace

std::unique_ptr<DialogPlatform> MakeWindowsDialogPlatform() {
    return std::make_unique<WindowsDialogPlatform>();
}

}  // namespace dlg
