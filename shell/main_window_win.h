// The Windows program after start-up: the main window Varnox, its handlers,
// the message loop and the platform the conversion command runs on.
#pragma once

#include <windows.h>

namespace idb::win {

// Creates Varnox, shows it centred and runs the message loop until an end
// action; everything the program keeps for its life (the dialog object
// included) is released before it returns. Call with COM entered as an
// apartment on this thread. Returns the process exit code.
int RunProgram(HINSTANCE instance, int showCommand);

}  // namespace idb::win
