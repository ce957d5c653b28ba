/*
 * interrupt_win32.cpp - Ctrl-C and Ctrl-Break on the Windows console: the
 * first sets the interrupt flag and lets the scan end cleanly; the handler
 * then steps aside, so a second one ends the program at once.
 */
#include "scan_job.h"

#include <windows.h>

namespace {

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptSignal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    return TRUE;
}

} // namespace

void InstallInterruptHandlers()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
