/*
 * executor.cpp - ExecuteCommand, RequestSense and the sense translation.
 * Every scanner command but the sensor poll passes through here.
 */
#include "executor.h"

#include "command_template.h"
#include "platform/platform.h"

#include <cstring>

/* The data of the most recent REQUEST SENSE; bytes 12 and 13 (ASC, ASCQ) are
 * translated here, bytes 8-11 carry the byte count of an early end of data. */
static uint8_t LastSense[kSenseLength];

/* REQUEST SENSE for 14 bytes; the executor owns it because only RequestSense
 * issues it. */
static COMMAND_TEMPLATE(RequestSenseCommand, 6, 1, 0x03, 0x00, 0x00, 0x00, kSenseLength, 0x00);

/* Set while REQUEST SENSE runs. A device that answers REQUEST SENSE itself
 * with a check condition would otherwise be asked for sense without end; the
 * inner check condition is reported as a failed REQUEST SENSE (-100). */
static bool SenseInProgress = false;

struct SenseRow {
    uint8_t Asc, Ascq;
    ResultCode Result;
};

/* Additional sense code and qualifier pairs the scanner reports, with the
 * result each becomes. Pairs not listed (and 00/00) mean no error. */
static const SenseRow SenseTable[] = {
    {0x4A, 0x00, SD_ERR_COMMAND_PHASE},      {0x2C, 0x00, SD_ERR_COMMAND_SEQUENCE},
    {0x4B, 0x00, SD_ERR_DATA_PHASE},         {0x00, 0x05, SD_ERR_END_OF_DATA},
    {0x3D, 0x00, SD_ERR_LENS_OR_IDENTIFY},   {0x2C, 0x02, SD_ERR_WINDOW_COMBINATION},
    {0x20, 0x00, SD_ERR_COMMAND_REJECTED},   {0x24, 0x00, SD_ERR_COMMAND_REJECTED},
    {0x26, 0x00, SD_ERR_PARAMETER_FIELD},    {0x49, 0x00, SD_ERR_MESSAGE},
    {0x60, 0x00, SD_ERR_LAMP},               {0x25, 0x00, SD_ERR_UNIT_NOT_SUPPORTED},
    {0x53, 0x00, SD_ERR_MEDIA_LOAD},         {0x3A, 0x00, SD_ERR_NO_MEDIUM},
    {0x1A, 0x00, SD_ERR_LIST_LENGTH},        {0x26, 0x02, SD_ERR_PARAMETER_VALUE},
    {0x03, 0x00, SD_ERR_WRITE_FAULT},        {0x2C, 0x01, SD_ERR_TOO_MANY_WINDOWS},
    {0x80, 0x00, SD_ERR_VENDOR},             {0x54, 0x00, SD_ERR_HOST_INTERFACE},
};

/* A diagnostic failure (ASC 0x40) names the failed component by the first
 * qualifier bit set, tested from bit 0 up. */
struct ComponentRow {
    uint8_t Bit;
    ResultCode Result;
};
static const ComponentRow ComponentTable[] = {
    {0x01, SD_ERR_COMPONENT_1}, {0x02, SD_ERR_COMPONENT_2}, {0x04, SD_ERR_COMPONENT_3},
    {0x08, SD_ERR_COMPONENT_4}, {0x10, SD_ERR_COMPONENT_5}, {0x20, SD_ERR_COMPONENT_6},
};

ResultCode ExecuteCommand(CommandRecord *command, int direction, void *buffer, uint32_t length)
{
    TransferRecord dataIn = {0, nullptr};
    TransferRecord dataOut = {0, nullptr};
    if (direction == kDataIn)
        dataIn = {length, buffer};
    else if (direction == kDataOut)
        dataOut = {length, buffer};

    uint16_t status = static_cast<uint16_t>(BusLinkExecute(command, &dataIn, &dataOut));
    /* A busy scanner is waited out for as long as it stays busy. */
    while (status == BUSLNK_BUSY) {
        SleepMilliseconds(kBusyWaitMilliseconds);
        status = static_cast<uint16_t>(BusLinkExecute(command, &dataIn, &dataOut));
    }

    switch (status) {
    case BUSLNK_GOOD:
        return SD_OK;
    case BUSLNK_CHECK_CONDITION:
        return SenseInProgress ? static_cast<ResultCode>(SD_ERR_COMMAND_REJECTED) : RequestSense();
    case BUSLNK_FAILURE:
        return SD_ERR_ADAPTER;
    case BUSLNK_ADAPTER_FAILURE:
        return SD_ERR_ADAPTER_FAILURE;
    default:
        return static_cast<ResultCode>(status);
    }
}

ResultCode TranslateSense(uint8_t asc, uint8_t ascq)
{
    if (asc == 0x40) {
        for (const ComponentRow &row : ComponentTable)
            if (ascq & row.Bit)
                return row.Result;
        return SD_ERR_COMPONENT;
    }
    for (const SenseRow &row : SenseTable)
        if (row.Asc == asc && row.Ascq == ascq)
            return row.Result;
    return SD_OK;
}

ResultCode RequestSense()
{
    SenseInProgress = true;
    ResultCode result = ExecuteCommand(&RequestSenseCommand.Record, kDataIn, LastSense, kSenseLength);
    SenseInProgress = false;
    if (result != SD_OK)
        return SD_ERR_COMMAND_REJECTED;
    return TranslateSense(LastSense[12], LastSense[13]);
}

void GetLastSense(uint8_t *destination)
{
    std::memcpy(destination, LastSense, kSenseLength);
}

void ResetLastSense()
{
    std::memset(LastSense, 0, kSenseLength);
}
