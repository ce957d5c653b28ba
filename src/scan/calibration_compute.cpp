/*
 * calibration_compute.cpp - from 64 white and 64 dark samples of a pixel to
 * the offset and gain words the scanner applies to it. The scanner subtracts
 * the offset from each sample and multiplies by the gain, where a gain word g
 * stands for (65535 + g) / 65535, and bit 14 of the offset word adds another
 * 65535 / 65535 for gains of two and more.
 */
#include "calibration.h"

#include "entry/settings.h"

#include <algorithm>

/* The white level the scanner's output range is calibrated to, and the dark
 * level its offsets leave in place. */
constexpr uint32_t kFullRange = 63920;
constexpr uint32_t kDarkFloor = 80;
constexpr uint32_t kGainNumerator = 4188997200u; /* kFullRange x 65535 */

uint32_t RobustMean(uint32_t count, uint16_t *samples)
{
    std::sort(samples, samples + count);
    uint32_t median = count & 1 ? samples[count / 2]
                                : (uint32_t{samples[count / 2 - 1]} + samples[count / 2]) / 2;
    /* Specks of dust and sensor glitches lie far from the median; the mean
     * of what lies within 5 % of it is the pixel's white. */
    uint32_t low = 95 * median / 100, high = 105 * median / 100;
    uint32_t sum = 0, within = 0, total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        total += samples[i];
        if (samples[i] > low && samples[i] < high) {
            sum += samples[i];
            ++within;
        }
    }
    if (within)
        return sum / within;
    /* Nothing close to the median (it may be 0): drop the two extremes. */
    return (total - samples[0] - samples[count - 1]) / (count - 2);
}

void ComputePixelCorrection(PixelCorrection *pixel)
{
    uint32_t darkSum = 0;
    for (uint32_t i = 0; i < pixel->DarkCount; ++i)
        darkSum += pixel->DarkSamples[i];
    uint32_t dark = darkSum / pixel->DarkCount;
    uint32_t white = RobustMean(pixel->WhiteCount, pixel->WhiteSamples);
    pixel->DarkLevel = dark;
    pixel->WhiteLevel = white;

    uint32_t range;
    if (white > dark) {
        range = white - dark;
    } else {
        /* A dead pixel: give it unit gain over the usual dark floor. */
        range = kFullRange;
        dark = kDarkFloor;
    }
    if (Settings.bfApplyInGamma == 0) {
        range = range * 256 / pixel->Factor;
        if (range >= kFullRange)
            range = kFullRange - 1;
    } else if (range > kFullRange) {
        /* A gain below one has no encoding; brighter pixels get the same
         * ceiling as with the factors applied here. */
        range = kFullRange - 1;
    }
    /* A factor so large it shrinks the range below one step would divide by
     * zero: take it as one step, the largest gain there is. */
    if (range == 0)
        range = 1;

    uint32_t gain = kGainNumerator / range;
    uint32_t shift = range * kDarkFloor / kFullRange;
    uint32_t offset = dark > shift ? dark - shift : 0;
    uint32_t extra = gain - 65535;
    if (extra < 65536) {
        pixel->GainWord = static_cast<uint16_t>(extra);
    } else {
        /* Gains of two and more: bit 14 of the offset word carries the
         * 65536 that the gain word cannot. */
        pixel->GainWord = static_cast<uint16_t>(extra + 1);
        offset |= 0x4000;
    }
    pixel->OffsetWord = static_cast<uint16_t>(offset);
}
