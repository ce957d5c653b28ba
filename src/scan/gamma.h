/*
 * gamma.h - the gamma step of the scan start: one 65536-entry table of
 * 16-bit values per channel, built from the caller's table or the identity,
 * stretched by the scan's gain and downloaded with SendGammaData. The
 * buffers live only while SendGammaTables runs.
 */
#ifndef SCANDRV_GAMMA_H
#define SCANDRV_GAMMA_H

#include "scandrv.h"
#include "scsi/result.h"

#include <cstdint>

/* Channel mask bits of a GammaTableSet. */
constexpr uint16_t kRedChannel = 0x1;
constexpr uint16_t kGreenChannel = 0x2;
constexpr uint16_t kBlueChannel = 0x4;

/* A set of per-channel tables: the caller's, or the download tables. */
struct GammaTableSet {
    uint32_t Entries;     /* entries per channel */
    uint16_t Width;       /* bytes per entry: 1 or 2 */
    uint16_t ChannelMask; /* 7 for colour; 2 (green alone) for one channel */
    uint8_t *Channel[3];  /* red, green, blue; null for a channel not present */
};

/* Entries per channel of the caller's gamma table, by wGammaScale: 4 gives
 * 1024, 16 gives 4096, 128 or 256 give 65536, anything else 256. */
uint32_t CallerGammaEntries(uint16_t wGammaScale);

/* The gamma step. Builds the download tables, applies the gain, sends them
 * (six 64 KiB pieces for colour, two for one channel). Returns true when the
 * tables went out; otherwise false with dwResult set: -1007 when memory
 * could not be had, else the SEND's result. Allocates nothing it keeps. */
bool SendGammaTables(ScanAttributeBlock *block);

/* Bytes of the download tables of the scan that is starting: TableLength
 * 2-byte entries for each channel (three for colour, one otherwise). */
uint32_t GammaDownloadBytes();

/* The gamma step without its SEND: fills the download tables in `buffer`
 * (GammaDownloadBytes long) from the caller's table or the identity and
 * stretches them (AdjustGammaTables). Returns 1, or -1007 when the
 * stretch's copy cannot be had. */
ResultCode BuildGammaTables(const ScanAttributeBlock *block, uint8_t *buffer);

/* Entry i = i, for a 2-byte channel of n entries. */
void FillIdentity(uint16_t *channel, uint32_t n);

/* Resamples one caller channel (m entries of `width` bytes, or null) into a
 * 2-byte download channel of n entries. A null channel, or an m that does
 * not divide n, gives the identity. */
void ConvertGammaChannel(uint16_t *channel, uint32_t n, const uint8_t *caller, uint32_t m,
                         uint16_t width);

/* Stretches every channel of `tables` along the input axis by the scan's
 * gain. Uses a temporary copy of the tables; returns 1, or -1007 when the
 * copy cannot be allocated (the tables are then unchanged). */
ResultCode AdjustGammaTables(const ScanAttributeBlock *block, GammaTableSet &tables);

/* The input index whose value download entry `index` takes: index x gain
 * (the "Image" setting and the document source), x percent / 100 when percent
 * is above 100, x factor / 256 when the factors go into the gamma curve,
 * divided by 100 and capped at `last`. */
uint32_t GainIndex(int64_t percent, uint32_t factor, uint32_t last, uint32_t index);

#endif
