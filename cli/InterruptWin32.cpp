#include "Interrupt.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <csignal>

namespace tessel::cli {
namespace {

std::atomic<int> g_signal{0};

// Runs on a thread of its own that the console starts. Ctrl+C and Ctrl+Break are SIGINT; closing
// the console, logging off and shutting down are SIGTERM. Returning TRUE keeps the process alive
// so that the work in progress stops at the next subfile and the databases are closed.
BOOL WINAPI recordControlEvent(DWORD dwEvent) {
    switch (dwEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_signal = SIGINT;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_signal = SIGTERM;
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void installInterruptHandlers() {
    SetConsoleCtrlHandler(recordControlEvent, TRUE);
}

int interruptSignal() {
    return g_signal;
}

void endIfInterrupted() {
    if (g_signal == 0)
        return;
    // The status a console program stopped by Ctrl+C ends with.
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

} // namespace tessel::cli
