#include "tools/pack/interruption.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<bool> interrupted{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
    interrupted = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: give the main thread time to
        // remove its partial file first.
        Sleep(3000);
    }
    return TRUE;
}
#else
void OnSignal(int) {
    interrupted = true;
}
#endif

}  // namespace

void InstallInterruptionHandlers() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
#endif
}

bool Interrupted() {
    return interrupted;
}
