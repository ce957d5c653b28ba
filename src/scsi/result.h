/*
 * result.h - the driver's result codes as it uses them inside, and the two
 * ways a code reaches a parameter block's dwResult.
 */
#ifndef SCANDRV_RESULT_H
#define SCANDRV_RESULT_H

#include "scandrv.h"

#include <cstdint>

/* Signed 16-bit: 1 success, negative an error; adapter statuses the driver
 * does not know are passed through as their low 16 bits. */
typedef int16_t ResultCode;

/* Blocks are packed, so dwResult may sit at an odd address: it is only ever
 * assigned as a member, never through a reference or pointer to it. */

/* A code passed on from a command: the high half of dwResult is 0. */
template <typename Block> inline void StoreCommandResult(Block *block, ResultCode code)
{
    block->dwResult = static_cast<uint16_t>(code);
}

/* A code an export reports of its own: stored as the full 32-bit value, so a
 * negative code has the high half 0xFFFF. */
template <typename Block> inline void StoreOwnResult(Block *block, ResultCode code)
{
    block->dwResult = static_cast<uint32_t>(static_cast<int32_t>(code));
}

/* The same for a result kept in a local until the export's single exit. */
inline void StoreCommandResult(uint32_t &result, ResultCode code)
{
    result = static_cast<uint16_t>(code);
}

inline void StoreOwnResult(uint32_t &result, ResultCode code)
{
    result = static_cast<uint32_t>(static_cast<int32_t>(code));
}

#endif
