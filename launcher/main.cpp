// Entry point of the launcher: a GUI program with no window of its own.
#include <windows.h>

#include "launcher/launch_sequence.h"
#include "common/system_libraries.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    RestrictDllSearch();
    return RunLaunchSequence(commandLine);
}
