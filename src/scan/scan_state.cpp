/*
 * scan_state.cpp - the one ScanState of the process; every field is 0 at load.
 */
#include "scan_state.h"

ScanStateRecord ScanState = {};
