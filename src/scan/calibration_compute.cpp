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
#include <array>
#include <cstring>
#include <utility>

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
    CorrectionFromLevels(pixel, darkSum / pixel->DarkCount, RobustMean(pixel->WhiteCount, pixel->WhiteSamples));
}

void CorrectionFromLevels(PixelCorrection *pixel, uint32_t dark, uint32_t white)
{
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

/*
 * The white levels of many pixels at once. RobustMean needs of the sorted
 * samples only the two middle ones (the median) and the smallest and the
 * largest (the fallback); the band sums do not depend on order. A sorting
 * network gives the sorted samples of every lane with the same compare and
 * exchange steps whatever the data, so the lanes run side by side as plain
 * loops the compiler turns into vector min and max. Samples are kept biased
 * by 0x8000 as signed 16-bit values, whose order is that of the unsigned
 * samples and whose min and max every vector unit has.
 */
namespace {

constexpr uint32_t kNetworkInputs = kBatchedWhiteSamples;

/* Batcher's odd-even merge sort for kNetworkInputs (a power of two). */
constexpr uint32_t NetworkSize()
{
    uint32_t count = 0;
    for (uint32_t p = 1; p < kNetworkInputs; p <<= 1)
        for (uint32_t k = p; k >= 1; k >>= 1)
            for (uint32_t j = k % p; j + k < kNetworkInputs; j += 2 * k)
                for (uint32_t i = 0; i < k && i + j + k < kNetworkInputs; ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        ++count;
    return count;
}

using Comparator = std::pair<uint8_t, uint8_t>;

constexpr std::array<Comparator, NetworkSize()> MakeNetwork()
{
    std::array<Comparator, NetworkSize()> network = {};
    uint32_t n = 0;
    for (uint32_t p = 1; p < kNetworkInputs; p <<= 1)
        for (uint32_t k = p; k >= 1; k >>= 1)
            for (uint32_t j = k % p; j + k < kNetworkInputs; j += 2 * k)
                for (uint32_t i = 0; i < k && i + j + k < kNetworkInputs; ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        network[n++] = {static_cast<uint8_t>(i + j), static_cast<uint8_t>(i + j + k)};
    return network;
}

/* Only four places of the sorted samples are read: the smallest, the two
 * middle ones and the largest. A comparator matters only when one of its
 * wires leads to one of them later on; walking the network backwards from
 * those four wires marks exactly the comparators that do. The others are
 * left out: the values that reach the four places are the same. */
constexpr std::array<bool, NetworkSize()> NeededComparators()
{
    constexpr auto network = MakeNetwork();
    std::array<bool, NetworkSize()> needed = {};
    bool live[kNetworkInputs] = {};
    live[0] = live[kNetworkInputs / 2 - 1] = live[kNetworkInputs / 2] = live[kNetworkInputs - 1] = true;
    for (uint32_t c = NetworkSize(); c-- > 0;) {
        if (live[network[c].first] || live[network[c].second]) {
            needed[c] = true;
            live[network[c].first] = live[network[c].second] = true;
        }
    }
    return needed;
}

constexpr uint32_t PrunedSize()
{
    uint32_t count = 0;
    for (bool needed : NeededComparators())
        count += needed;
    return count;
}

constexpr std::array<Comparator, PrunedSize()> MakePrunedNetwork()
{
    constexpr auto network = MakeNetwork();
    constexpr auto needed = NeededComparators();
    std::array<Comparator, PrunedSize()> pruned = {};
    uint32_t n = 0;
    for (uint32_t c = 0; c < network.size(); ++c)
        if (needed[c])
            pruned[n++] = network[c];
    return pruned;
}

constexpr auto kNetwork = MakePrunedNetwork();
static_assert(NetworkSize() == 543, "Batcher's network for 64 inputs has 543 comparators");

/* The lanes of a row as one value of the compiler's generic vectors (GCC's
 * vector extension, lowered to whatever vector unit the target has, or to
 * scalar code where it has none). */
typedef int16_t LaneRow __attribute__((vector_size(2 * kWhiteLanes)));

/* One comparator over every lane: lo takes the smaller, hi the larger. */
inline void CompareExchange(int16_t *lo, int16_t *hi)
{
    LaneRow a, b;
    std::memcpy(&a, lo, sizeof a);
    std::memcpy(&b, hi, sizeof b);
    const LaneRow smaller = a < b ? a : b;
    const LaneRow larger = a < b ? b : a;
    std::memcpy(lo, &smaller, sizeof smaller);
    std::memcpy(hi, &larger, sizeof larger);
}

} // namespace

void RobustMeansBatched(WhiteBatch &batch, uint32_t *white)
{
    for (const Comparator &c : kNetwork)
        CompareExchange(batch.Rows[c.first], batch.Rows[c.second]);
    constexpr uint32_t n = kBatchedWhiteSamples;
    uint32_t low[kWhiteLanes], high[kWhiteLanes], sum[kWhiteLanes] = {}, within[kWhiteLanes] = {},
                                                   total[kWhiteLanes] = {};
    for (uint32_t l = 0; l < kWhiteLanes; ++l) {
        const uint32_t median = (uint32_t(batch.Rows[n / 2 - 1][l] + 0x8000) + uint32_t(batch.Rows[n / 2][l] + 0x8000)) / 2;
        low[l] = 95 * median / 100;
        high[l] = 105 * median / 100;
    }
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t l = 0; l < kWhiteLanes; ++l) {
            const uint32_t v = static_cast<uint16_t>(batch.Rows[i][l] + 0x8000);
            const bool in = v > low[l] && v < high[l];
            total[l] += v;
            sum[l] += in ? v : 0;
            within[l] += in ? 1 : 0;
        }
    for (uint32_t l = 0; l < kWhiteLanes; ++l) {
        if (within[l]) {
            white[l] = sum[l] / within[l];
        } else {
            const uint32_t smallest = static_cast<uint16_t>(batch.Rows[0][l] + 0x8000);
            const uint32_t largest = static_cast<uint16_t>(batch.Rows[n - 1][l] + 0x8000);
            white[l] = (total[l] - smallest - largest) / (n - 2);
        }
    }
}
