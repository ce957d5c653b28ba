/*
 * scan_state.h - the ScanState: what the scan start derived from the
 * caller's request and the scanner's parameter page, read by every later
 * step of the scan. One scan at a time, so one global record.
 */
#ifndef SCANDRV_SCAN_STATE_H
#define SCANDRV_SCAN_STATE_H

#include <cstdint>

struct ScanStateRecord {
    uint8_t ColorLineGap;          /* lines between the colour sensor lines at base resolution */
    uint32_t ModelFlag;            /* parameter page byte 29 bit 0 */
    uint32_t BaseResolution;       /* optical resolution, dpi */
    uint32_t MaxResolutionX;       /* highest resolution the scanner delivers across, this scan */
    uint32_t MaxResolutionY;       /* the same along the page */
    uint32_t MaxWidthMils;         /* glass width in 1/1000 inch (below 65536) */
    uint32_t MaxLengthMils;        /* glass length in 1/1000 inch (below 65536) */
    uint32_t MaxWidthPixels;       /* glass width in pixels at base resolution */
    uint32_t MaxLengthPixels;      /* glass length in lines at base resolution */
    uint8_t ToneMap[256];          /* grey value to the value compared for binary output */
    uint32_t IsColor;              /* colour scan (image type 14) */
    uint32_t IsBinary;             /* one bit per pixel delivered */
    uint32_t IsLineArt;            /* binary by fixed threshold, not by pattern */
    uint32_t ExceedsMaxResolution; /* the request is above what the scanner delivers */
    uint32_t SoftwareBinarize;     /* scanner sends 8-bit grey, the driver makes the bits */
    uint32_t SourceBit2;           /* wScanSource & 4: second alternative source (0 or 4) */
    uint32_t SourceBit1;           /* wScanSource & 2: first alternative source (0 or 2) */
    uint32_t Resolution;           /* requested resolution */
    uint32_t ScanResolutionX;      /* resolution written into the scan window */
    uint32_t ScanResolutionY;      /* always equal to ScanResolutionX */
    uint32_t BitsPerPixel;         /* requested bits per sample */
    uint32_t TableLength;          /* entries of the gamma and shading input range: 65536 */
    uint32_t WideEntries;          /* gamma and shading values are two bytes: always 1 */
    uint32_t EndOfData;            /* the scanner ended the image before all lines came */
    uint32_t ReverseX;             /* X origin at the far edge: window and lines mirrored */
    uint32_t ScanActive;           /* a scan has been started and not yet ended */
};

extern ScanStateRecord ScanState;

#endif
