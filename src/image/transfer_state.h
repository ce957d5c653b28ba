/*
 * transfer_state.h - the TransferState: the running transfer of one scan.
 * The scan start's pipeline set-up fills the first ten fields (the transfer
 * geometry); image reading owns the rest and counts lines down.
 */
#ifndef SCANDRV_TRANSFER_STATE_H
#define SCANDRV_TRANSFER_STATE_H

#include <cstdint>

enum ImageKindValue : uint32_t { kImageColor = 1, kImageBinary = 2, kImageGrey = 3 };

struct TransferStateRecord {
    uint32_t ImageKind;         /* kImageColor, kImageBinary or kImageGrey */
    uint32_t LineFormat;        /* parameter page byte 0 & 7: 1, 5 whole pixels; 3 tagged segments */
    uint32_t TransferBits;      /* bits per sample; above 8 (signed) means 2-byte samples */
    uint32_t DeviceLineBytes;   /* pixel bytes of one raw line (tagged colour: reported - 6) */
    uint32_t ReportedLineBytes; /* bytes per line as the scanner delivers it */
    uint32_t ReportedPixels;    /* pixels per raw line */
    uint32_t ReportedLines;     /* raw lines still to read */
    uint32_t DeliverPixels;     /* pixels per delivered line */
    uint32_t DeliverLineBytes;  /* bytes per delivered line */
    uint32_t DeliverLines;      /* delivered lines still to come (16-bit value) */

    uint8_t *RawBuffer;         /* the transfer buffer; null: direct transfer */
    uint8_t *RawCursor;         /* next unconsumed raw line */
    uint32_t RawCapacity;       /* raw lines the raw area holds */
    uint32_t RawAvailable;      /* raw (or complete colour) lines ready for the pipeline */
    uint32_t RawKept;           /* raw lines' worth of unpaired segments kept at the start */
    uint8_t *ColorLine;         /* one pixel-interleaved colour line */
    uint32_t *RedTable;         /* offsets of segment pixel data, per colour, arrival order */
    uint32_t *GreenTable;
    uint32_t *BlueTable;
    uint16_t GreenCount, GreenNext, RedCount, RedNext, BlueCount, BlueNext;
    uint8_t *BinaryLine;        /* one grey line waiting for software binarization */
    uint32_t LineHeld;          /* last ProcessChunk result; non-zero: source line still in use */
    uint8_t *OutCursor;         /* next line position in the caller's buffer */
    uint32_t CallLines;         /* lines to deliver in this call */
    uint32_t SetupPending;      /* set the transfer buffer up at the next call (1 at load) */
};

extern TransferStateRecord TransferState;

#endif
