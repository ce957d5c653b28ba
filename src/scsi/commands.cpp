/*
 * commands.cpp - the command templates and their builders. Patched bytes
 * persist between uses: the lens byte of the parameter page read keeps the
 * last selection, TEST UNIT READY keeps its last timeout.
 */
#include "commands.h"

#include "byte_order.h"
#include "command_template.h"
#include "executor.h"

uint8_t ModelCode = 0;
uint16_t SelectedLens = 0;
uint16_t LensCount = 1;
uint8_t LampTimerMinutes = 15;
uint8_t LampTimerFlag = 0;

DeviceParameterPage DeviceParameters;
LampStatusPage LampStatus;

/* Data type codes of the scanner's READ and SEND. */
enum : uint8_t {
    kImageData = 0x00,
    kShadingData = 0x01,
    kHalftoneData = 0x02,
    kGammaData = 0x03,
    kGeometryData = 0x80,
    kLampData = 0x81,
    kParameterData = 0x82,
};

static COMMAND_TEMPLATE(TestUnitReadyCommand, 6, 1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
static COMMAND_TEMPLATE(InquiryCommand, 6, 1, 0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00);
static COMMAND_TEMPLATE(SetWindowCommand, 10, 30, 0x24, 0, 0, 0, 0, 0, 0, 0, kWindowListLength, 0);
static COMMAND_TEMPLATE(ReadImageCommand, 10, 30, 0x28, 0, kImageData, 0, 0, 0, 0, 0, 0, 0);
static COMMAND_TEMPLATE(SendShadingCommand, 10, 30, 0x2A, 0, kShadingData, 0, 0, 0, 0, 0, 0, 0);
static COMMAND_TEMPLATE(SendHalftoneCommand, 10, 30, 0x2A, 0, kHalftoneData, 0, 0, 0x80, 0, 0, 0, 0);
static COMMAND_TEMPLATE(SendGammaCommand, 10, 30, 0x2A, 0, kGammaData, 0, 0, 0, 0, 0, 0, 0);
static COMMAND_TEMPLATE(ReadGeometryCommand, 10, 30, 0x28, 0, kGeometryData, 0, 0, 0, 0, 0,
                        kImageGeometryPageLength, 0);
static COMMAND_TEMPLATE(LampStatusCommand, 10, 60, 0x28, 0, kLampData, 0, 0, 0, 0, 0,
                        kLampStatusPageLength, 0);
static COMMAND_TEMPLATE(LampControlCommand, 10, 60, 0x2A, 0, kLampData, 0, 0, 0, 0, 0, 1, 0);
static COMMAND_TEMPLATE(SensorPollCommand, 10, 60, 0x28, 0, kLampData, 0, 0, 0, 0, 0,
                        kLampStatusPageLength, 0);
static COMMAND_TEMPLATE(ReadParametersCommand, 10, 30, 0x28, 0, kParameterData, 0, 0, 0, 0, 0,
                        kDeviceParameterPageLength, 0);

CommandRecord &SensorPollRecord = SensorPollCommand.Record;

/* Byte offsets of the 10-byte READ and SEND CDBs. */
constexpr int kQualifierByte = 5;
constexpr int kLengthBytes = 6;

ResultCode TestUnitReady(uint16_t timeout)
{
    TestUnitReadyCommand.Record.wTimeout = timeout;
    return ExecuteCommand(&TestUnitReadyCommand.Record, kNoData, nullptr, 0);
}

ResultCode Inquiry(uint8_t *buffer)
{
    return ExecuteCommand(&InquiryCommand.Record, kDataIn, buffer, kInquiryLength);
}

ResultCode SetWindow(const uint8_t *windowList)
{
    return ExecuteCommand(&SetWindowCommand.Record, kDataOut, const_cast<uint8_t *>(windowList),
                          kWindowListLength);
}

ResultCode ReadImageData(void *buffer, uint32_t length)
{
    WriteBigEndian24(ReadImageCommand.Cdb + kLengthBytes, length);
    return ExecuteCommand(&ReadImageCommand.Record, kDataIn, buffer, length);
}

ResultCode SendShadingData(uint8_t qualifier, const void *buffer, uint32_t length)
{
    uint8_t *data = static_cast<uint8_t *>(const_cast<void *>(buffer));
    uint8_t *cdb = SendShadingCommand.Cdb;
    /* Model 168 takes a three-channel table as three one-channel SENDs, the
     * channel number in bits 5-6 of the qualifier. */
    if (ModelCode == 168 && (qualifier & 0x60) != kOneChannel) {
        uint32_t piece = length / 3;
        WriteBigEndian24(cdb + kLengthBytes, piece);
        for (uint32_t k = 0; k < 3; ++k) {
            cdb[kQualifierByte] = static_cast<uint8_t>((k << 5) | (qualifier & 0x9F));
            ResultCode result =
                ExecuteCommand(&SendShadingCommand.Record, kDataOut, data + piece * k, piece);
            if (result != SD_OK)
                return result;
        }
        return SD_OK;
    }
    cdb[kQualifierByte] = qualifier;
    WriteBigEndian24(cdb + kLengthBytes, length);
    return ExecuteCommand(&SendShadingCommand.Record, kDataOut, data, length);
}

ResultCode SendHalftonePattern(const void *buffer, uint32_t length)
{
    /* Byte 6 stays 0: the pattern length is a 16-bit field. */
    WriteBigEndian16(SendHalftoneCommand.Cdb + 7, length);
    return ExecuteCommand(&SendHalftoneCommand.Record, kDataOut, const_cast<void *>(buffer), length);
}

ResultCode SendGammaData(uint8_t channelCode, uint8_t widthFlag, const void *buffer, uint32_t length)
{
    constexpr uint32_t kPiece = 65536;
    uint8_t *data = static_cast<uint8_t *>(const_cast<void *>(buffer));
    uint8_t *cdb = SendGammaCommand.Cdb;
    uint8_t qualifier = static_cast<uint8_t>(channelCode | widthFlag);
    if (length <= kPiece) {
        cdb[kQualifierByte] = qualifier;
        WriteBigEndian24(cdb + kLengthBytes, length);
        return ExecuteCommand(&SendGammaCommand.Record, kDataOut, data, length);
    }
    /* Larger tables go in 64 KiB pieces numbered from 1 in bits 1-4. The
     * number has four bits, so a call carries at most 15 whole pieces; the
     * gamma step sends 2 or 6. */
    uint32_t pieces = length / kPiece;
    WriteBigEndian24(cdb + kLengthBytes, kPiece);
    for (uint32_t k = 1; k <= pieces; ++k) {
        cdb[kQualifierByte] = static_cast<uint8_t>(((k << 1) & 0x1E) | qualifier);
        ResultCode result =
            ExecuteCommand(&SendGammaCommand.Record, kDataOut, data + (k - 1) * kPiece, kPiece);
        if (result != SD_OK)
            return result;
    }
    uint32_t remainder = length % kPiece;
    if (remainder == 0)
        return SD_OK;
    /* A trailing partial piece carries the number of the last whole piece;
     * no caller sends such a length. */
    cdb[kQualifierByte] = static_cast<uint8_t>(((pieces << 1) & 0x1E) | qualifier);
    WriteBigEndian24(cdb + kLengthBytes, remainder);
    return ExecuteCommand(&SendGammaCommand.Record, kDataOut, data + pieces * kPiece, remainder);
}

ResultCode ReadImageGeometry(uint8_t *buffer)
{
    return ExecuteCommand(&ReadGeometryCommand.Record, kDataIn, buffer, kImageGeometryPageLength);
}

ResultCode TransferLampStatus(int direction, uint8_t *buffer)
{
    bool reading = direction == kDataIn;
    LampStatusCommand.Cdb[0] = reading ? 0x28 : 0x2A;
    return ExecuteCommand(&LampStatusCommand.Record, reading ? kDataIn : kDataOut, buffer,
                          kLampStatusPageLength);
}

ResultCode SendLampControl(const uint8_t *buffer)
{
    return ExecuteCommand(&LampControlCommand.Record, kDataOut, const_cast<uint8_t *>(buffer), 1);
}

ResultCode ReadDeviceParameters(uint8_t variant, uint8_t *buffer)
{
    ReadParametersCommand.Cdb[4] = static_cast<uint8_t>(SelectedLens);
    ReadParametersCommand.Cdb[5] = variant;
    return ExecuteCommand(&ReadParametersCommand.Record, kDataIn, buffer, kDeviceParameterPageLength);
}
