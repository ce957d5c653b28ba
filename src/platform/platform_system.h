/*
 * platform_system.h - what each host file provides to the shared platform
 * code: the real sleep and the real millisecond clock.
 */
#ifndef SCANDRV_PLATFORM_SYSTEM_H
#define SCANDRV_PLATFORM_SYSTEM_H

#include <cstdint>

void SystemSleep(uint32_t milliseconds);
uint32_t SystemTickCount();

#endif
