// Start-up of the Windows program: the shared export state, the common
// controls and COM, then the main window and its message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "shell/conversion_run.h"
#include "shell/main_window_win.h"
#include "win/scoped_win.h"


int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        // Built once here, so the first conversion does not pay for it.
        idb::ExportHeaders();

        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
        InitCommonControlsEx(&controls);

        // The shell's folder dialog needs an apartment on the window's thread.
        const w32::ScopedCom com;
        return idb::win::RunProgram(instance, showCommand);
    } catch (...) {
        // Only start-up can get here: the window procedures catch their own.
        MessageBoxW(nullptr, L"Программа не может быть запущена.", L"Ошибка", MB_ICONSTOP | MB_OK);
        return 1;
    }
}
