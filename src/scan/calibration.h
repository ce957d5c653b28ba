/*
 * calibration.h - shading calibration: the white and dark passes, the
 * per-pixel offset and gain words, and the state they leave for the gamma
 * step (the channel factors).
 */
#ifndef SCANDRV_CALIBRATION_H
#define SCANDRV_CALIBRATION_H

#include <cstdint>

struct CalibrationStateRecord {
    uint32_t WhiteLines;     /* lines of the white pass: 64 */
    uint32_t DarkLines;      /* lines of the dark pass: 64 */
    int32_t WhiteOffsetY;    /* upper-left Y of the white-pass window; never positive */
    uint32_t CalibrateColor; /* 1: three channels; 0: one */
    uint32_t CalLinePixels;  /* pixels per calibration line (the glass width) */
    uint32_t CalLineBytes;   /* bytes per calibration line as the scanner reports it */
    uint16_t ChannelFactor[3]; /* red, green, blue factors in 1/256, loaded at each run */
    uint8_t *WhiteBuffer;    /* gain table slot, then the white lines; null when not held */
    uint8_t *DarkBuffer;     /* offset table slot, then the dark lines; null when not held */
};

extern CalibrationStateRecord CalibrationState;

/* IsColor of the last calibration for the first alternative source, or -2
 * after any other calibration (and at load): lets that source skip a
 * calibration it has just made. */
extern int32_t CalibrationMarker;

/* The per-pixel computation's parameters and results. */
struct PixelCorrection {
    uint32_t PixelCount;    /* pixels per calibration line */
    uint32_t Factor;        /* channel factor in 1/256 */
    uint32_t DarkCount;     /* dark samples */
    uint16_t *DarkSamples;
    uint32_t DarkLevel;     /* out */
    uint32_t WhiteCount;    /* white samples */
    uint16_t *WhiteSamples; /* sorted in place */
    uint32_t WhiteLevel;    /* out */
    uint16_t GainWord;      /* out */
    uint16_t OffsetWord;    /* out */
};

struct ScanAttributeBlock;

/* At every scan start: pass lengths, channel factors from the settings or
 * the device, the white strip's position, no buffers. */
void ResetCalibrationDefaults();
/* Decides whether to calibrate and does; returns dwResult (1 = go on). */
uint32_t CalibrateIfNeeded(ScanAttributeBlock *block);
/* The white pass, the dark pass, the tables, the scan window again. */
void RunShadingCalibration(ScanAttributeBlock *block);

/* Computes the offset and gain word of every pixel of every channel of the
 * passes in WhiteBuffer and DarkBuffer into the first slot of the dark and
 * the white buffer. False when its scratch area cannot be had. */
bool ComputeShadingData();

/* The mean of the samples within 5 % of their median (sorts them). */
uint32_t RobustMean(uint32_t count, uint16_t *samples);
/* Offset and gain words of one pixel of one channel. */
void ComputePixelCorrection(PixelCorrection *pixel);
/* The second half of it: the words from the pixel's dark and white levels
 * (which it also stores in the record). */
void CorrectionFromLevels(PixelCorrection *pixel, uint32_t dark, uint32_t white);

/* White samples of kWhiteLanes pixels at once, for passes of exactly
 * kBatchedWhiteSamples lines: row i holds sample i of every lane, each
 * stored as the sample minus 0x8000 (a signed value of the same order). */
constexpr uint32_t kWhiteLanes = 16;
constexpr uint32_t kBatchedWhiteSamples = 64;
struct WhiteBatch {
    int16_t Rows[kBatchedWhiteSamples][kWhiteLanes];
};
/* white[l] = RobustMean of lane l's samples, for every lane. Leaves each
 * lane's smallest, two middle and largest sample in their sorted places;
 * the other rows are left in an order of no use. */
void RobustMeansBatched(WhiteBatch &batch, uint32_t *white);

#endif
