// Owners of Win32 handles for the Windows front ends: non-copyable, closing
// quietly on destruction.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <winspool.h>

#include <utility>

namespace w32 {

// Holds one handle and closes it with Traits::Close; movable.
template <typename Handle, typename Traits>
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) noexcept : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    ~ScopedHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Handle{}; }
    // For the calls that hand a new handle back through a pointer.
    Handle* Out() noexcept {
        Reset();
        return &handle_;
    }
    void Reset() noexcept {
        if (handle_ != Handle{}) Traits::Close(handle_);
        handle_ = Handle{};
    }

private:
    Handle handle_{};
};

struct GdiObjectTraits {
    static void Close(HGDIOBJ object) noexcept { DeleteObject(object); }
};
struct KernelHandleTraits {
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct IconTraits {
    static void Close(HICON icon) noexcept { DestroyIcon(icon); }
};
struct PrinterTraits {
    static void Close(HANDLE printer) noexcept { ClosePrinter(printer); }
};
struct CreatedDcTraits {
    static void Close(HDC dc) noexcept { DeleteDC(dc); }
};
// Item id lists come from the COM task allocator.
struct IdListTraits {
    static void Close(LPITEMIDLIST list) noexcept { CoTaskMemFree(list); }
};

using ScopedFont = ScopedHandle<HFONT, GdiObjectTraits>;
using ScopedPen = ScopedHandle<HPEN, GdiObjectTraits>;
using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using ScopedIcon = ScopedHandle<HICON, IconTraits>;
using ScopedPrinter = ScopedHandle<HANDLE, PrinterTraits>;
using ScopedCreatedDC = ScopedHandle<HDC, CreatedDcTraits>;
using ScopedIdList = ScopedHandle<LPITEMIDLIST, IdListTraits>;

// A window's display context (the screen's for no window), released on the way out.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    ~ScopedWindowDC() {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    HDC Get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a context for one scope and puts the old one back,
// so that the object can be deleted after: a selected object cannot.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(SelectObject(dc, object)) {}
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;
    ~ScopedSelect() {
        if (old_ != nullptr) SelectObject(dc_, old_);  // null: the select failed
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A single-threaded COM apartment on this thread, left again at the end.
// Entering twice is harmless (S_FALSE, balanced by our own leave); a thread
// already in the multithreaded apartment is left as it is.
class ScopedCom {
public:
    ScopedCom() noexcept
        : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;
    ~ScopedCom() {
        if (entered_) CoUninitialize();
    }

private:
    bool entered_;
};

}  // namespace w32
