/* Shortcuts that must not change a sample: division by a multiply and
 * shift, and batched white levels against RobustMean. */
#include "pipeline/sample_ops.h"
#include "scan/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace {

/* Every divisor up to 65536, numerators at the edges of the range (where a
 * multiplier short of precision fails first) and random ones. */
TEST(ExactDivider, EqualsDivisionForEveryDivisorOverTheWholeNumeratorRange)
{
    std::mt19937 random(1);
    for (uint32_t d = 1; d <= 65536; ++d) {
        const ExactDivider divider = MakeDivider(d);
        const uint32_t top = 65535 * d; /* the largest numerator taken */
        const uint32_t edges[] = {0, 1, d - 1, d, d + 1, top, top - 1, top - d, top - d + 1,
                                  (top / d / 2) * d, (top / d / 2) * d - 1, 255 * d, 255 * d - 1};
        for (uint32_t x : edges)
            ASSERT_EQ(Divide(x, divider), x / d) << "d=" << d << " x=" << x;
        std::uniform_int_distribution<uint32_t> any(0, top);
        for (int i = 0; i < 16; ++i) {
            const uint32_t x = any(random);
            ASSERT_EQ(Divide(x, divider), x / d) << "d=" << d << " x=" << x;
        }
    }
}

TEST(ExactDivider, InterpolationMatchesTheDividingOne)
{
    std::mt19937 random(2);
    std::uniform_int_distribution<uint32_t> sample(0, 65535);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t n = 1 + random() % 65535;
        const uint32_t w = random() % n;
        const uint32_t p = sample(random), c = sample(random);
        ASSERT_EQ(InterpolateDivided(p, c, w, MakeDivider(n)), InterpolateSample(p, c, w, n))
            << "case " << i;
    }
}

/* Lanes of white samples of the kinds a pass holds: a level with noise,
 * dust specks, dead pixels (median 0), saturated ones, and pure noise. */
void FillLanes(WhiteBatch &batch, uint16_t (*plain)[kBatchedWhiteSamples], uint32_t seed)
{
    std::mt19937 random(seed);
    for (uint32_t l = 0; l < kWhiteLanes; ++l) {
        const uint32_t kind = random() % 6;
        const uint32_t level = random() % 65536;
        for (uint32_t i = 0; i < kBatchedWhiteSamples; ++i) {
            uint32_t v;
            switch (kind) {
            case 0: v = std::min<uint32_t>(65535, level + random() % 128); break;
            case 1: v = random() % 17 == 0 ? level / 3 : std::min<uint32_t>(65535, level + random() % 64); break;
            case 2: v = i < 40 ? 0 : random() % 65536; break;
            case 3: v = 65535 - random() % 3; break;
            case 4: v = level; break;
            default: v = random() % 65536; break;
            }
            plain[l][i] = static_cast<uint16_t>(v);
            batch.Rows[i][l] = static_cast<int16_t>(v - 0x8000);
        }
    }
}

TEST(BatchedWhiteLevels, EqualRobustMeanLaneByLane)
{
    for (uint32_t seed = 0; seed < 3000; ++seed) {
        WhiteBatch batch;
        uint16_t plain[kWhiteLanes][kBatchedWhiteSamples];
        FillLanes(batch, plain, seed);
        uint32_t white[kWhiteLanes];
        RobustMeansBatched(batch, white);
        for (uint32_t l = 0; l < kWhiteLanes; ++l)
            ASSERT_EQ(white[l], RobustMean(kBatchedWhiteSamples, plain[l])) << "seed " << seed << " lane " << l;
    }
}

} // namespace
