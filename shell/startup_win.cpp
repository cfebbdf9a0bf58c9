// Start-up of the Windows program: the shared export state, the common
// controls and COM, then the main window and its message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "shell/conversion_run.h"
#include "shell/main_window_win.h"

namespace {

// COM as a single-threaded apartment for the life of the program: the shell's
// folder dialog needs it on the window's thread.
class ScopedComApartment {
public:
    ScopedComApartment()
        : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;
    ~ScopedComApartment() {
        if (entered_) CoUninitialize();
    }

private:
    bool entered_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        // Built once here, so the first conversion does not pay for it.
        idb::ExportHeaders();

        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
        InitCommonControlsEx(&controls);

        const ScopedComApartment com;
        return idb::win::RunProgram(instance, showCommand);
    } catch (...) {
        // Only start-up can get here: the window procedures catch their own.
        MessageBoxW(nullptr, L"Программа не может быть запущена.", L"Ошибка", MB_ICONSTOP | MB_OK);
        return 1;
    }
}
