/*
 * load_hook_posix.cpp - plays the part of process attach on POSIX hosts: the
 * shared library runs DriverProcessAttach once when it is loaded. Only the
 * shared library contains this file, so the unit tests load settings
 * themselves.
 */
#include "platform.h"

__attribute__((constructor)) static void LibraryLoaded()
{
    DriverProcessAttach();
}
