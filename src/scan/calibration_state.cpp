/*
 * calibration_state.cpp - the calibration record of the process. The channel
 * factors survive from scan to scan; the pass buffers exist only while a
 * calibration runs.
 */
#include "calibration.h"

CalibrationStateRecord CalibrationState = {};
