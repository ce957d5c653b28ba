/*
 * calibration.cpp - shading calibration at the scan start: whether to
 * calibrate, the white and dark passes of 64 lines over the whole glass with
 * 16-bit samples, and the offset and gain tables sent to the scanner. The
 * per-pixel arithmetic is in calibration_compute.cpp.
 */
#include "calibration.h"

#include "entry/settings.h"
#include "platform/platform.h"
#include "scan_state.h"
#include "scsi/byte_order.h"
#include "scsi/commands.h"
#include "scsi/executor.h"
#include "window.h"

#include <cstring>

int32_t CalibrationMarker = -2;

constexpr uint32_t kPassLines = 64;
/* Upper-left Y of the dark pass: well above the glass, under the lid. */
constexpr int32_t kDarkPassY = -332;
/* A READ carries a 24-bit length. */
constexpr uint32_t kMaxReadLength = 0xFFFFFF;

enum Pass { kWhitePass, kDarkPass };
enum Table { kOffsetTable, kGainTable };

/* The calibration window, kept for the process and rewritten before each pass. */
static uint8_t CalibrationWindow[kWindowListLength];

void ResetCalibrationDefaults()
{
    CalibrationState.WhiteLines = kPassLines;
    CalibrationState.DarkLines = kPassLines;
    /* A factor of 0 in the settings takes the device's own factor, and 1.0
     * when the device has none; the choice holds for the whole process. */
    for (int c = 0; c < 3; ++c) {
        if (Settings.Factor[c] == 0)
            Settings.Factor[c] = DeviceChannelFactor(DeviceParameters, c);
        if (Settings.Factor[c] == 0)
            Settings.Factor[c] = 256;
    }
    int32_t offsetY = CalibrationOffset(DeviceParameters);
    CalibrationState.WhiteOffsetY = offsetY > 0 ? 0 : offsetY;
    CalibrationState.WhiteBuffer = nullptr;
    CalibrationState.DarkBuffer = nullptr;
}

static void LoadChannelFactors()
{
    for (int c = 0; c < 3; ++c)
        CalibrationState.ChannelFactor[c] = Settings.Factor[c];
}

static bool SendCalibrationWindow(ScanAttributeBlock *block, Pass pass)
{
    const CalibrationStateRecord &cal = CalibrationState;
    WindowValues values = {};
    values.ResolutionX = values.ResolutionY = static_cast<uint16_t>(ScanState.BaseResolution);
    values.Left = 0;
    values.Top = static_cast<uint32_t>(pass == kWhitePass ? cal.WhiteOffsetY : kDarkPassY);
    values.Width = ScanState.MaxWidthPixels;
    values.Length = pass == kWhitePass ? cal.WhiteLines : cal.DarkLines;
    values.Brightness = values.Threshold = values.Contrast = 128;
    values.Composition = cal.CalibrateColor ? kCompositionColor : kCompositionGrey;
    values.BitsPerPixel = 16;
    values.Lens = static_cast<uint8_t>(SelectedLens);
    values.Source = ScanState.SourceBit2 ? 0x32 : 0x30;
    values.Master[0] = 0;
    values.Master[1] = 128;
    values.Master[2] = 255;
    static const uint8_t kNeutralGroup[6] = {128, 128, 0, 0, 128, 255};
    for (int k = 0; k < 3; ++k)
        std::memcpy(values.Groups[k], kNeutralGroup, 6);
    BuildWindowList(values, CalibrationWindow);
    ResultCode result = SetWindow(CalibrationWindow);
    StoreCommandResult(block, result);
    return result == SD_OK;
}

/* Sends the lamp control byte, then waits for the scanner to be ready: the
 * readiness, not the control byte's own answer, decides. */
static ResultCode SetCalibrationLamp(uint8_t control)
{
    SendLampControl(&control);
    return TestUnitReady(10);
}

static bool ReadCalibrationGeometry(ScanAttributeBlock *block, Pass pass)
{
    uint8_t geometry[kImageGeometryPageLength];
    ResultCode result = ReadImageGeometry(geometry);
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return false;
    CalibrationStateRecord &cal = CalibrationState;
    const uint32_t lineBytes = ReadBigEndian32(geometry + 4);
    /* Both passes are walked with one line length, and the white buffer was
     * sized with the white pass's: a dark pass whose lines are longer would
     * be read past the end of the white lines. */
    if (pass == kDarkPass && lineBytes != cal.CalLineBytes) {
        StoreCommandResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }
    cal.CalLinePixels = ScanState.MaxWidthPixels;
    cal.CalLineBytes = lineBytes;
    /* The computation needs every line to hold a 16-bit sample per pixel and
     * channel, and a pass must fit one READ. A scanner that reports anything
     * else cannot be calibrated; say so rather than read past the lines. */
    uint32_t channels = cal.CalibrateColor ? 3 : 1;
    uint64_t needed = uint64_t{2} * channels * cal.CalLinePixels;
    uint64_t passBytes = uint64_t{kPassLines} * cal.CalLineBytes;
    if (cal.CalLineBytes < needed || passBytes > kMaxReadLength) {
        StoreCommandResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }
    return true;
}

static uint8_t *&PassBuffer(Pass pass)
{
    return pass == kWhitePass ? CalibrationState.WhiteBuffer : CalibrationState.DarkBuffer;
}

static uint32_t PassLines(Pass pass)
{
    return pass == kWhitePass ? CalibrationState.WhiteLines : CalibrationState.DarkLines;
}

/* One slot for the computed table, then the lines of the pass. */
static bool AllocCalibrationBuffer(ScanAttributeBlock *block, Pass pass)
{
    uint32_t bytes = (PassLines(pass) + 1) * CalibrationState.CalLineBytes;
    PassBuffer(pass) = static_cast<uint8_t *>(AllocatePages(bytes));
    if (!PassBuffer(pass)) {
        StoreCommandResult(block, SD_ERR_NO_MEMORY);
        return false;
    }
    return true;
}

static bool ReadCalibrationLines(ScanAttributeBlock *block, Pass pass)
{
    uint32_t lineBytes = CalibrationState.CalLineBytes;
    ResultCode result = ReadImageData(PassBuffer(pass) + lineBytes, PassLines(pass) * lineBytes);
    StoreCommandResult(block, result);
    return result == SD_OK;
}

static void FreeCalibrationBuffers()
{
    FreePages(CalibrationState.DarkBuffer);
    CalibrationState.DarkBuffer = nullptr;
    FreePages(CalibrationState.WhiteBuffer);
    CalibrationState.WhiteBuffer = nullptr;
}

/* The samples of kWhiteLanes pixels from `first` on, every channel, out of
 * the passes: the dark ones summed per lane, the white ones into one batch
 * per channel. Each line's samples of those pixels lie side by side, so they
 * are read once and spread over the channels. The tail of the line has
 * fewer pixels than lanes: its unused lanes repeat its first pixel. */
template <uint32_t Channels>
static void GatherPassSamples(uint32_t first, uint32_t lanes, WhiteBatch *batches,
                              uint32_t (*darkSums)[kWhiteLanes])
{
    const CalibrationStateRecord &cal = CalibrationState;
    const uint8_t *darkLines = cal.DarkBuffer + cal.CalLineBytes;
    const uint8_t *whiteLines = cal.WhiteBuffer + cal.CalLineBytes;
    uint32_t pixelAt[kWhiteLanes];
    for (uint32_t l = 0; l < kWhiteLanes; ++l)
        pixelAt[l] = 2 * Channels * (first + (l < lanes ? l : 0));
    uint16_t words[Channels * kWhiteLanes];
    for (uint32_t c = 0; c < Channels; ++c)
        for (uint32_t l = 0; l < kWhiteLanes; ++l)
            darkSums[c][l] = 0;
    for (uint32_t i = 0; i < cal.DarkLines; ++i) {
        const uint8_t *line = darkLines + size_t{i} * cal.CalLineBytes;
        for (uint32_t l = 0; l < kWhiteLanes; ++l)
            for (uint32_t c = 0; c < Channels; ++c)
                words[l * Channels + c] = ReadLittleEndian16(line + pixelAt[l] + 2 * c);
        for (uint32_t c = 0; c < Channels; ++c)
            for (uint32_t l = 0; l < kWhiteLanes; ++l)
                darkSums[c][l] += words[l * Channels + c];
    }
    for (uint32_t i = 0; i < kBatchedWhiteSamples; ++i) {
        const uint8_t *line = whiteLines + size_t{i} * cal.CalLineBytes;
        for (uint32_t l = 0; l < kWhiteLanes; ++l)
            for (uint32_t c = 0; c < Channels; ++c)
                words[l * Channels + c] = ReadLittleEndian16(line + pixelAt[l] + 2 * c);
        for (uint32_t c = 0; c < Channels; ++c)
            for (uint32_t l = 0; l < kWhiteLanes; ++l)
                batches[c].Rows[i][l] = static_cast<int16_t>(words[l * Channels + c] - 0x8000);
    }
}

/* Passes of 64 lines (all the driver takes) go through the batched white
 * levels, kWhiteLanes pixels of every channel at a time; the words are those
 * of ComputePixelCorrection on each pixel alone. */
static void ComputeShadingBatched(uint8_t *offsetTable, uint8_t *gainTable)
{
    const CalibrationStateRecord &cal = CalibrationState;
    const uint32_t channels = cal.CalibrateColor ? 3 : 1;
    const uint32_t pixels = cal.CalLinePixels;
    WhiteBatch batches[3];
    uint32_t darkSums[3][kWhiteLanes];
    for (uint32_t first = 0; first < pixels; first += kWhiteLanes) {
        const uint32_t lanes = pixels - first < kWhiteLanes ? pixels - first : kWhiteLanes;
        if (channels == 3)
            GatherPassSamples<3>(first, lanes, batches, darkSums);
        else
            GatherPassSamples<1>(first, lanes, batches, darkSums);
        for (uint32_t c = 0; c < channels; ++c) {
            uint32_t white[kWhiteLanes];
            RobustMeansBatched(batches[c], white);
            PixelCorrection pixel = {};
            pixel.PixelCount = pixels;
            pixel.Factor = cal.ChannelFactor[c];
            for (uint32_t l = 0; l < lanes; ++l) {
                CorrectionFromLevels(&pixel, darkSums[c][l] / cal.DarkLines, white[l]);
                const uint32_t entry = c * pixels + first + l;
                WriteLittleEndian16(offsetTable + 2 * entry, pixel.OffsetWord);
                WriteLittleEndian16(gainTable + 2 * entry, pixel.GainWord);
            }
        }
    }
}

/* One scratch area of 64 + 64 words serves all pixels. */
bool ComputeShadingData()
{
    const CalibrationStateRecord &cal = CalibrationState;
    uint32_t scratchWords = cal.DarkLines + cal.WhiteLines;
    MemoryHandle handle = AllocateMovable(scratchWords * 2);
    if (!handle)
        return false;
    uint16_t *scratch = static_cast<uint16_t *>(LockMovable(handle));
    if (!scratch) {
        FreeMovable(handle);
        return false;
    }
    uint8_t *offsetTable = cal.DarkBuffer;
    uint8_t *gainTable = cal.WhiteBuffer;
    if (cal.WhiteLines == kBatchedWhiteSamples && cal.DarkLines > 0) {
        ComputeShadingBatched(offsetTable, gainTable);
    } else {
        uint32_t channels = cal.CalibrateColor ? 3 : 1;
        PixelCorrection pixel = {};
        pixel.PixelCount = cal.CalLinePixels;
        pixel.DarkCount = cal.DarkLines;
        pixel.DarkSamples = scratch;
        pixel.WhiteCount = cal.WhiteLines;
        pixel.WhiteSamples = scratch + cal.DarkLines;
        const uint8_t *darkLines = cal.DarkBuffer + cal.CalLineBytes;
        const uint8_t *whiteLines = cal.WhiteBuffer + cal.CalLineBytes;
        uint32_t entry = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            pixel.Factor = cal.ChannelFactor[c];
            for (uint32_t p = 0; p < cal.CalLinePixels; ++p, ++entry) {
                uint32_t sampleOffset = 2 * (p * channels + c);
                for (uint32_t i = 0; i < cal.DarkLines; ++i)
                    pixel.DarkSamples[i] = ReadLittleEndian16(darkLines + i * cal.CalLineBytes + sampleOffset);
                for (uint32_t i = 0; i < cal.WhiteLines; ++i)
                    pixel.WhiteSamples[i] = ReadLittleEndian16(whiteLines + i * cal.CalLineBytes + sampleOffset);
                ComputePixelCorrection(&pixel);
                WriteLittleEndian16(offsetTable + 2 * entry, pixel.OffsetWord);
                WriteLittleEndian16(gainTable + 2 * entry, pixel.GainWord);
            }
        }
    }
    UnlockMovable(handle);
    FreeMovable(handle);
    return true;
}

static bool SendShadingTable(ScanAttributeBlock *block, Table table)
{
    const CalibrationStateRecord &cal = CalibrationState;
    uint8_t qualifier = static_cast<uint8_t>((cal.CalibrateColor ? kThreeChannels : kOneChannel) |
                                             (table == kOffsetTable ? 0x02 : 0x00) | kWideEntries);
    uint32_t length = cal.CalLinePixels * (cal.CalibrateColor ? 3 : 1) * 2;
    const uint8_t *data = table == kOffsetTable ? cal.DarkBuffer : cal.WhiteBuffer;
    ResultCode result = SendShadingData(qualifier, data, length);
    StoreCommandResult(block, result);
    return result == SD_OK;
}

/* Lamp page byte 0 with bit 7 (the second alternative source's lamp) set or clear. */
static uint8_t WithSourceLamp(uint8_t control, bool on)
{
    return on ? static_cast<uint8_t>(control | kLampAltSource)
              : static_cast<uint8_t>(control & ~kLampAltSource);
}

/* Both passes and the tables; from the first window on, the pass buffers are
 * released on every way out. */
static void RunCalibrationPasses(ScanAttributeBlock *block)
{
    bool altSource = ScanState.SourceBit2 != 0;
    ResultCode result;

    if (!SendCalibrationWindow(block, kWhitePass))
        return;
    /* White pass: the lamp lights the white strip. */
    uint8_t control = WithSourceLamp(LampStatus.Bytes[0] & ~kLampDark, altSource);
    result = SetCalibrationLamp(control);
    StoreCommandResult(block, result);
    if (result != SD_OK || !ReadCalibrationGeometry(block, kWhitePass) ||
        !AllocCalibrationBuffer(block, kWhitePass) || !ReadCalibrationLines(block, kWhitePass))
        return;

    result = TransferLampStatus(kDataIn, LampStatus.Bytes);
    StoreCommandResult(block, result);
    if (result != SD_OK || !SendCalibrationWindow(block, kDarkPass))
        return;
    /* Dark pass: the dark bit shuts the light off the sensor. */
    control = WithSourceLamp(LampStatus.Bytes[0] | kLampDark, !altSource);
    result = SetCalibrationLamp(control);
    StoreCommandResult(block, result);
    if (result != SD_OK || !ReadCalibrationGeometry(block, kDarkPass) ||
        !AllocCalibrationBuffer(block, kDarkPass) || !ReadCalibrationLines(block, kDarkPass))
        return;
    /* Back to the lamp the scan uses; the dark bit stays. */
    result = SetCalibrationLamp(WithSourceLamp(control, altSource));
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return;

    if (!ComputeShadingData()) {
        StoreCommandResult(block, SD_ERR_NO_MEMORY);
        return;
    }
    /* A failed table does not stop the start: the lamp page READ below
     * decides, as the scanner keeps working with its previous tables. */
    if (SendShadingTable(block, kOffsetTable))
        SendShadingTable(block, kGainTable);
    result = TransferLampStatus(kDataIn, LampStatus.Bytes);
    StoreCommandResult(block, result);
    /* The passes programmed windows of their own: put the scan's back. */
    if (result == SD_OK)
        SendScanWindow(block);
}

void RunShadingCalibration(ScanAttributeBlock *block)
{
    LoadChannelFactors();
    ResultCode result = TransferLampStatus(kDataIn, LampStatus.Bytes);
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return;
    /* The scanner says its calibration still holds, and the settings do not
     * insist on calibrating. */
    if (Settings.Calibrate == 0 && (LampStatus.Bytes[0] & kCalibrationValid))
        return;
    RunCalibrationPasses(block);
    FreeCalibrationBuffers();
}

uint32_t CalibrateIfNeeded(ScanAttributeBlock *block)
{
    int32_t isColor = static_cast<int32_t>(ScanState.IsColor);
    /* The first alternative source keeps its calibration while the device
     * reports it ready (status byte 5 bit 1, state 1) and the scan is of the
     * same kind as the one calibrated last. */
    if (ScanState.SourceBit1 && (LampStatus.Bytes[5] & 0x02) && DeviceState(LampStatus) == 1 &&
        CalibrationMarker == isColor)
        return SD_OK;
    if (ScanState.SourceBit1) {
        /* That source is calibrated in all three channels whatever the scan. */
        CalibrationState.CalibrateColor = 1;
        CalibrationMarker = isColor;
    } else {
        CalibrationState.CalibrateColor = ScanState.IsColor;
        CalibrationMarker = -2;
    }
    RunShadingCalibration(block);
    return block->dwResult;
}
