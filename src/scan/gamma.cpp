/*
 * gamma.cpp - builds and downloads the gamma tables at every scan start.
 * The caller's table (or the identity) is resampled to the scanner's 65536
 * input levels, stretched by the gain from the settings, the document source,
 * lAdjust and the calibration's channel factors, and sent in 64 KiB pieces.
 * Both buffers come from AllocatePages and are gone when the step returns.
 */
#include "gamma.h"

#include "calibration.h"
#include "entry/settings.h"
#include "platform/platform.h"
#include "scan_state.h"
#include "scsi/commands.h"

#include <cstring>

uint32_t CallerGammaEntries(uint16_t gammaScale)
{
    switch (gammaScale) {
    case 4:
        return 1024;
    case 16:
        return 4096;
    case 128:
    case 256:
        return 65536;
    default:
        return 256;
    }
}

/* Caller entries may sit at any address, and 2-byte ones are in host order. */
static uint32_t ReadCallerEntry(const uint8_t *table, uint32_t k, uint16_t width)
{
    if (width == 1)
        return table[k];
    uint16_t entry;
    std::memcpy(&entry, table + 2 * k, sizeof entry);
    return entry;
}

void FillIdentity(uint16_t *channel, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        channel[i] = static_cast<uint16_t>(i);
}

/*
 * Every caller table is taken to span the whole input range, whatever its
 * length: with f = n / m download entries per caller entry, caller entry k
 * lands on download entry f x k + f - 1, and the f - 1 entries before it step
 * linearly from entry k - 1 (the first f entries all hold entry 0). This is
 * the scanner's expansion of an 8-bit 256-entry table, applied alike to
 * 1-byte tables of 1024 or 4096 entries and to 2-byte tables of 256, 1024 or
 * 4096 entries, so a short table reaches every input level (the halftone tone
 * map reads 1024- and 4096-entry tables the same way) and none of it is left
 * zero for the gain stretch to run into. With m = n it is a plain copy.
 *
 * Blends are taken in the caller's own levels, rounded down, then widened:
 * a 1-byte level v becomes v x 257, so 0 stays 0 and 255 becomes 65535.
 */
void ConvertGammaChannel(uint16_t *channel, uint32_t n, const uint8_t *caller, uint32_t m,
                         uint16_t width)
{
    if (!caller || m == 0 || n % m != 0) {
        FillIdentity(channel, n);
        return;
    }
    const uint32_t f = n / m;
    const uint32_t widen = width == 1 ? 257 : 1;
    uint16_t *out = channel;
    uint32_t previous = ReadCallerEntry(caller, 0, width);
    for (uint32_t k = 0; k < m; ++k) {
        uint32_t current = ReadCallerEntry(caller, k, width);
        /* At most 65535 x f with f <= 65536: fits 32 bits. */
        for (uint32_t j = 1; j < f; ++j)
            *out++ = static_cast<uint16_t>((previous * (f - j) + current * j) / f * widen);
        *out++ = static_cast<uint16_t>(current * widen);
        previous = current;
    }
}

/*
 * Worked in 64 bits so that a large lAdjust or channel factor cannot wrap the
 * product into a small, wrong index: for the offered ranges (lAdjust 0-510,
 * 16-bit factors, 16-bit indexes) no step comes near 2^64 and the result is
 * exactly the 32-bit one wherever that did not wrap. For indexes beyond
 * 16 bits a product saturates instead; a saturated value still ends above any
 * `last`, and a factor of 0 still gives 0, so the capped result is the true
 * one. Everything but the index is fixed for a channel, so the gain and the
 * bounds of the saturating products are found once, not per entry.
 */
struct ChannelGain {
    uint64_t Gain;
    uint64_t Percent;      /* 0: lAdjust does not raise the gain */
    uint64_t PercentLimit; /* largest value that times Percent fits */
    uint64_t Factor;
    uint64_t FactorLimit;
    bool ApplyFactor;
};

static uint64_t ProductLimit(uint64_t b)
{
    return b != 0 ? UINT64_MAX / b : UINT64_MAX;
}

static ChannelGain GainFor(int64_t percent, uint32_t factor)
{
    ChannelGain g = {};
    /* "Image" 0 brightens by 20 %, 15 % on the second alternative source. */
    g.Gain = Settings.Image != 0 ? 100 : ScanState.SourceBit2 != 0 ? 115 : 120;
    if (percent > 100) {
        g.Percent = static_cast<uint64_t>(percent);
        g.PercentLimit = ProductLimit(g.Percent);
    }
    g.ApplyFactor = Settings.bfApplyInGamma != 0;
    g.Factor = factor;
    g.FactorLimit = ProductLimit(factor);
    return g;
}

static inline uint32_t GainedIndex(const ChannelGain &g, uint32_t last, uint32_t index)
{
    uint64_t v = static_cast<uint64_t>(index) * g.Gain;
    if (g.Percent != 0)
        v = (v > g.PercentLimit ? UINT64_MAX : v * g.Percent) / 100;
    if (g.ApplyFactor)
        v = (v > g.FactorLimit ? UINT64_MAX : v * g.Factor) >> 8;
    v /= 100;
    return v > last ? last : static_cast<uint32_t>(v);
}

uint32_t GainIndex(int64_t percent, uint32_t factor, uint32_t last, uint32_t index)
{
    return GainedIndex(GainFor(percent, factor), last, index);
}

ResultCode AdjustGammaTables(const ScanAttributeBlock *block, GammaTableSet &tables)
{
    const uint32_t n = tables.Entries;
    const uint32_t channelBytes = n * 2;
    uint32_t present = 0;
    for (int c = 0; c < 3; ++c)
        if ((tables.ChannelMask & (1u << c)) && tables.Channel[c])
            ++present;
    if (present == 0 || n == 0)
        return SD_OK;

    /* Every lookup must read the table as it was, so the stretched tables go
     * into a copy first. */
    uint8_t *copy = static_cast<uint8_t *>(AllocatePages(channelBytes * present));
    if (!copy)
        return SD_ERR_NO_MEMORY;

    uint32_t slot = 0;
    for (int c = 0; c < 3; ++c) {
        if (!(tables.ChannelMask & (1u << c)) || !tables.Channel[c])
            continue;
        const uint16_t *old = reinterpret_cast<const uint16_t *>(tables.Channel[c]);
        uint16_t *stretched = reinterpret_cast<uint16_t *>(copy + slot++ * channelBytes);
        /* lAdjust + 100 in 64 bits: no lAdjust overflows it. A one-channel
         * scan has only the green table and takes green's values. */
        const int64_t percent = static_cast<int64_t>(block->lAdjust[c]) + 100;
        const ChannelGain gain = GainFor(percent, CalibrationState.ChannelFactor[c]);
        /* The index never falls as i rises: once it reaches the last entry,
         * the rest of the channel is that entry. */
        uint32_t i = 0;
        for (uint32_t from = 0; i < n && from < n - 1; ++i) {
            from = GainedIndex(gain, n - 1, i);
            stretched[i] = old[from];
        }
        for (; i < n; ++i)
            stretched[i] = old[n - 1];
    }
    slot = 0;
    for (int c = 0; c < 3; ++c)
        if ((tables.ChannelMask & (1u << c)) && tables.Channel[c])
            std::memcpy(tables.Channel[c], copy + slot++ * channelBytes, channelBytes);
    FreePages(copy);
    return SD_OK;
}

/* The download tables' place in one buffer: red, green, blue back to back
 * for colour, the green table alone for one channel. */
static GammaTableSet DownloadTables(uint8_t *buffer)
{
    const bool color = ScanState.IsColor != 0;
    GammaTableSet download = {};
    download.Entries = ScanState.TableLength;
    download.Width = 2;
    download.ChannelMask = color ? (kRedChannel | kGreenChannel | kBlueChannel) : kGreenChannel;
    const uint32_t channelBytes = download.Entries * download.Width;
    if (color) {
        for (uint32_t c = 0; c < 3; ++c)
            download.Channel[c] = buffer + c * channelBytes;
    } else {
        download.Channel[1] = buffer;
    }
    return download;
}

uint32_t GammaDownloadBytes()
{
    return ScanState.TableLength * 2 * (ScanState.IsColor ? 3 : 1);
}

ResultCode BuildGammaTables(const ScanAttributeBlock *block, uint8_t *buffer)
{
    const bool color = ScanState.IsColor != 0;
    const uint16_t mask = color ? (kRedChannel | kGreenChannel | kBlueChannel) : kGreenChannel;

    /* With SoftwareBinarize the caller's table is the driver's to apply (the
     * halftone tone map); the scanner then gets the identity. */
    uint8_t *callerTable = static_cast<uint8_t *>(block->lpGammaTable);
    const bool useCaller =
        (block->wFlags & SD_FLAG_GAMMA) && callerTable && !ScanState.SoftwareBinarize;

    GammaTableSet caller = {};
    caller.Entries = CallerGammaEntries(block->wGammaScale);
    caller.Width = static_cast<int32_t>(ScanState.BitsPerPixel) <= 8 ? 1 : 2;
    caller.ChannelMask = mask;
    if (useCaller) {
        const uint32_t channelBytes = caller.Entries * caller.Width;
        if (color) {
            for (uint32_t c = 0; c < 3; ++c)
                caller.Channel[c] = callerTable + c * channelBytes;
        } else {
            caller.Channel[1] = callerTable;
        }
    }

    /* The scan start always sets WideEntries, so the download tables are
     * always two bytes per entry and the width flag always goes out set. */
    GammaTableSet download = DownloadTables(buffer);
    for (int c = 0; c < 3; ++c) {
        uint16_t *channel = reinterpret_cast<uint16_t *>(download.Channel[c]);
        if (!channel)
            continue;
        if (useCaller)
            ConvertGammaChannel(channel, download.Entries, caller.Channel[c], caller.Entries,
                                caller.Width);
        else
            FillIdentity(channel, download.Entries);
    }
    return AdjustGammaTables(block, download);
}

bool SendGammaTables(ScanAttributeBlock *block)
{
    const bool color = ScanState.IsColor != 0;
    const uint32_t size = GammaDownloadBytes();
    uint8_t *buffer = static_cast<uint8_t *>(AllocatePages(size));
    if (!buffer) {
        StoreCommandResult(block, SD_ERR_NO_MEMORY);
        return false;
    }
    ResultCode rc = BuildGammaTables(block, buffer);
    if (rc == SD_OK)
        rc = SendGammaData(color ? kThreeChannels : kOneChannel, kWideEntries, buffer, size);
    StoreCommandResult(block, rc);
    FreePages(buffer);
    return rc == SD_OK;
}
