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

#endif
