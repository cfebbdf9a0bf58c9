// The dialog object's Windows half: comdlg32, shell32, ole32, gdi32 and the
// print spooler.
#pragma once

#include <memory>

#include "dialogs/cls_dialog.h"

namespace dlg {

// The system's dialogs behind DialogPlatform. Use and destroy it on the
// window's thread: the first folder dialog enters COM there and destruction
// leaves it.
std::unique_ptr<DialogPlatform> MakeWindowsDialogPlatform();

}  // namespace dlg
