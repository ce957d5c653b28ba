/*
 * sim_config.h - the virtual scanner's one extra entry point. Applications
 * and tests that load the virtual scanner as their adapter library may call
 * SimConfigure to choose the model, the document on the glass, the sensor,
 * faults and tracing (README.md beside this file lists every key). Those
 * that cannot call it set the same keys as environment variables named
 * SCANDRV_SIM_<KEY>, read when the adapter is first used.
 *
 * Returns 0 when the key was applied, -1 for an unknown key, -2 for a value
 * the key does not take.
 */
#ifndef SIM_CONFIG_H
#define SIM_CONFIG_H

#include "buslnk32.h"

#ifdef __cplusplus
extern "C" {
#endif

BUSLNK_API int BUSLNK_CALL SimConfigure(const char *key, const char *value);

#ifdef __cplusplus
}
#endif

#endif
