/*
 * transfer_state.cpp - the one TransferState of the process. Nothing is set
 * up at load, so the first image request of a scan sets its buffer up.
 */
#include "transfer_state.h"

TransferStateRecord TransferState = [] {
    TransferStateRecord state = {};
    state.SetupPending = 1;
    return state;
}();
