/*
 * settings.h - the process-wide settings read from "DRVPREF.INI" beside the
 * library when a process attaches it. Calibration and the gamma tables read
 * them at every scan start; calibration may fill in the channel factors.
 */
#ifndef SCANDRV_SETTINGS_H
#define SCANDRV_SETTINGS_H

#include <cstdint>

struct DriverSettings {
    uint32_t bfApplyInGamma; /* 1: channel factors go into the gamma curve; 0: into shading */
    int32_t Image;           /* 0: gamma gain 120 % (115 % on the second alternative source) */
    uint16_t Factor[3];      /* "RFactor", "GFactor", "BFactor" in 1/256; 0 = the device's own */
    int32_t Calibrate;       /* non-zero: calibrate even when the scanner says it need not */
};

extern DriverSettings Settings;

/* Reads the settings from fileName, each key once, in a fixed order. A file
 * or key that is missing gives the defaults. */
void LoadSettings(const char *fileName);

/* Builds the settings file's path from the library's full file name: the
 * directory up to its last separator ('\\' or '/'), then "DRVPREF.INI".
 * Returns false, leaving path empty, when the directory is unknown or the
 * path would not fit kMaxPath characters with its terminator. */
bool SettingsPathFromLibraryName(const char *libraryName, char *path);

/* Process attach: reset to defaults, then read the file beside the library. */
void LoadSettingsBesideLibrary();

#endif
