/*
 * interrupt_posix.cpp - SIGINT and SIGTERM while a scan runs: the first sets
 * the interrupt flag and lets the scan end cleanly; a second one ends the
 * program at once.
 */
#include "scan_job.h"

#include <cstring>

namespace {

void OnInterrupt(int signal)
{
    InterruptSignal = signal;
}

} // namespace

void InstallInterruptHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    /* A second Ctrl-C ends the program at once. */
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
