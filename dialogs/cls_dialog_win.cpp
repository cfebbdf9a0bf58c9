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
#include <shlobj.h>
// commdlg.h maps these names to its A/W functions; here they are the
// DialogPlatform members.
#undef GetOpenFileName
#undef GetSaveFileName

#include <cstddef>
#include <vector>

namespace dlg {

namespace {

// The record without the extension fields added after it: every version of
// the system accepts it, and it is what the dialog object describes.
constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR);
#if !defined(_WIN64)
static_assert(kOpenFileNameSize == 76, "the 32-bit file dialog record is 76 bytes");
static_assert(sizeof(BROWSEINFOW) == 32, "the 32-bit folder dialog record is 32 bytes");
#endif

// An item id list the shell allocated with the COM task allocator.
class ScopedIdList {
public:
    explicit ScopedIdList(LPITEMIDLIST list) noexcept : list_(list) {}
    ScopedIdList(const ScopedIdList&) = delete;
    ScopedIdList& operator=(const ScopedIdList&) = delete;
    ~ScopedIdList() { CoTaskMemFree(list_); }  // accepts null
    LPITEMIDLIST Get() const noexcept { return list_; }

private:
    LPITEMIDLIST list_;
};

// Enters a single-threaded apartment on the calling thread and leaves it
// again. Entering twice is harmless (S_FALSE, balanced by our own leave); a
// thread already in the multithreaded apartment is left as it is.
class ScopedCom {
public:
    ScopedCom() noexcept : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;
    ~ScopedCom() {
        if (entered_) CoUninitialize();
    }

private:
    bool entered_;
};

// shell32 export 162: turns a path into an item id list without touching the
// disk; an empty path gives the desktop. It is exported only by number.
using SimpleIdListFromPath = LPITEMIDLIST(WINAPI*)(LPCWSTR path);

LPITEMIDLIST IdListFromPath(const std::wstring& path) {
    HMODULE shell = GetModuleHandleW(L"shell32.dll");  // loaded: we import from it
    if (shell == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(shell, MAKEINTRESOURCEA(162));
    if (proc == nullptr) return nullptr;
    // Through void(*)(), the one function type a cast to any other is allowed from.
    auto fn = reinterpret_cast<SimpleIdListFromPath>(reinterpret_cast<void (*)()>(proc));
    return fn(path.c_str());
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

    int GetOpenFileName(FileDialogRecord& record) override { return RunFileDialog(record, GetOpenFileNameW); }
    int GetSaveFileName(FileDialogRecord& record) override { return RunFileDialog(record, GetSaveFileNameW); }

    std::optional<std::wstring> BrowseForFolder(const FolderDialogRecord& record) override {
        if (!com_) com_ = std::make_unique<ScopedCom>();  // the shell's tree needs an apartment
        ScopedIdList root(IdListFromPath(record.rootPath));

        BROWSEINFOW info{};
        info.hwndOwner = reinterpret_cast<HWND>(record.owner);
        info.pidlRoot = root.Get();
        info.lpszTitle = OrNull(record.prompt);
        info.ulFlags = record.flags;
        ScopedIdList chosen(SHBrowseForFolderW(&info));
        if (chosen.Get() == nullptr) return std::nullopt;

        std::wstring path(PathBufferSize, L'\0');
        if (!SHGetPathFromIDListW(chosen.Get(), path.data())) return std::nullopt;  // computer, printer
        return path;
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

    std::unique_ptr<ScopedCom> com_;
};

}  // namespace

std::unique_ptr<DialogPlatform> MakeWindowsDialogPlatform() {
    return std::make_unique<WindowsDialogPlatform>();
}

}  // namespace dlg
