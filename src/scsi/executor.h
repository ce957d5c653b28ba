/*
 * executor.h - the one road by which scanner commands reach the adapter: the
 * busy wait, the mapping of adapter status to result codes, and the
 * translation of sense data.
 */
#ifndef SCANDRV_EXECUTOR_H
#define SCANDRV_EXECUTOR_H

#include "buslnk32.h"
#include "result.h"

#include <cstdint>

enum TransferDirection { kNoData = 0, kDataIn = 1, kDataOut = 2 };

constexpr uint32_t kSenseLength = 14;
constexpr uint32_t kBusyWaitMilliseconds = 2000;

/* Hands the command to the adapter, waiting out a busy device (2000 ms per
 * attempt, no limit), and maps the status: good gives 1, check condition the
 * translated sense, 2 gives -1004, 24 gives -501, anything else itself. */
ResultCode ExecuteCommand(CommandRecord *command, int direction, void *buffer, uint32_t length);

/* Reads the sense data into the last-sense buffer and translates it. */
ResultCode RequestSense();

/* Copies the 14 bytes of the last sense data. */
void GetLastSense(uint8_t *destination);

/* Translates additional sense code and qualifier into a result code. */
ResultCode TranslateSense(uint8_t asc, uint8_t ascq);

/* For tests: forget the last sense data, as after loading. */
void ResetLastSense();

#endif
