/* MirrorLines on each raw layout: worked lines, and the vector routines
 * against the plain ones. */
#include "image/mirror.h"
#include "platform/vector_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

TEST(BitReversal, IsAnInvolutionOnEveryByte)
{
    EXPECT_EQ(BitReversal[0x0B], 0xD0);
    for (unsigned v = 0; v < 256; ++v)
        EXPECT_EQ(BitReversal[BitReversal[v]], v);
}

/* Worked lines for each layout; padding and tags stay in place, and a pixel
 * count larger than the line holds turns only what the line holds. */
TEST(MirrorLines, WorkedLines)
{
    const struct { int32_t Selector, Bits; uint32_t Pixels, LineBytes, Lines; Bytes In, Out; } rows[] = {
        {1, 8, 5, 6, 2, {10, 20, 30, 40, 50, 99, 1, 2, 3, 4, 5, 98}, {50, 40, 30, 20, 10, 99, 5, 4, 3, 2, 1, 98}},
        {1, 12, 3, 6, 1, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
        {3, 8, 3, 9, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {7, 8, 9, 4, 5, 6, 1, 2, 3}},
        {3, 16, 2, 12, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}},
        {0, 1, 16, 2, 1, {0x01, 0x03}, {0xC0, 0x80}},
        /* Pixels 1011001110 and padding 101010: the padding comes first. */
        {0, 1, 10, 2, 1, {0xB3, 0xAA}, {0x55, 0xCD}},
        {2, 16, 2, 18, 1, {'R', 0, 1, 2, 3, 4, 'G', 0, 5, 6, 7, 8, 'B', 0, 9, 10, 11, 12},
         {'R', 0, 3, 4, 1, 2, 'G', 0, 7, 8, 5, 6, 'B', 0, 11, 12, 9, 10}},
        {1, 8, 9, 3, 1, {1, 2, 3}, {3, 2, 1}},
        {3, 8, 9, 7, 1, {1, 2, 3, 4, 5, 6, 7}, {4, 5, 6, 1, 2, 3, 7}},
        {2, 8, 9, 12, 1, {'R', 0, 1, 2, 'G', 0, 3, 4, 'B', 0, 5, 6}, {'R', 0, 2, 1, 'G', 0, 4, 3, 'B', 0, 6, 5}},
        {0, 1, 40, 1, 1, {0x01}, {0x80}},
    };
    for (const auto &row : rows) {
        Bytes data = row.In;
        MirrorLines(row.Selector, row.Bits, row.Pixels, row.LineBytes, row.Lines, data.data());
        EXPECT_EQ(data, row.Out) << "row " << &row - rows;
    }
}

/* On random lines: every count up to past two of the largest blocks, long
 * lines, odd strides, unaligned starts; bytes outside the stretches keep
 * their values. */
struct VectorCase {
    int32_t Selector;
    int32_t Bits;
    uint32_t Unit; /* bytes a count stands for */
    const char *Name;
};

class MirrorVector : public ::testing::TestWithParam<VectorCase> {
protected:
    void TearDown() override { UsePlainRoutinesOnly(false); }
};

TEST_P(MirrorVector, MatchesPlainRoutines)
{
    if (!VectorRoutinesUsable())
        GTEST_SKIP() << "no vector routines on this host";
    const VectorCase c = GetParam();
    std::vector<uint32_t> counts = {511, 512, 513, 1021, 5100};
    for (uint32_t n = 0; n <= 300; ++n)
        counts.push_back(n);
    std::mt19937 random(static_cast<uint32_t>(c.Selector * 31 + c.Bits));
    const uint32_t lines = 3;
    for (uint32_t count : counts) {
        for (uint32_t shift : {0u, 1u, 7u}) {
            const uint32_t stretch = count * c.Unit, pad = 1 + (count + shift) % 5;
            const bool tagged = c.Selector == kMirrorTagged;
            const uint32_t lineBytes = tagged ? 3 * (2 + stretch) + pad : stretch + pad;
            const uint32_t pixels = c.Selector == kMirrorBinary ? 8 * count - count % 8 : count;
            Bytes original(shift + size_t{lines} * lineBytes + 16);
            for (uint8_t &b : original)
                b = static_cast<uint8_t>(random());
            Bytes plain = original, vector = original;
            UsePlainRoutinesOnly(true);
            MirrorLines(c.Selector, c.Bits, pixels, lineBytes, lines, plain.data() + shift);
            UsePlainRoutinesOnly(false);
            MirrorLines(c.Selector, c.Bits, pixels, lineBytes, lines, vector.data() + shift);
            SCOPED_TRACE(testing::Message() << "count " << count << ", start +" << shift);
            ASSERT_EQ(vector, plain);
            const uint32_t span = tagged ? lineBytes / 3 : lineBytes, skip = tagged ? 2 : 0;
            for (size_t i = 0; i < original.size(); ++i) {
                const size_t at = i - shift; /* wraps for bytes before the start */
                const bool inside = i >= shift && at < size_t{span} * lines * (tagged ? 3 : 1) &&
                                    at % span >= skip && at % span < skip + stretch;
                if (!inside) {
                    ASSERT_EQ(vector[i], original[i]) << "byte " << i << " outside the stretches";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MirrorVector,
    ::testing::Values(VectorCase{kMirrorBinary, 1, 1, "binary"}, VectorCase{kMirrorSingle, 8, 1, "single8"},
                      VectorCase{kMirrorSingle, 16, 2, "single16"}, VectorCase{kMirrorTagged, 8, 1, "tagged8"},
                      VectorCase{kMirrorTagged, 12, 2, "tagged12"}, VectorCase{kMirrorWholePixel, 8, 3, "whole8"},
                      VectorCase{kMirrorWholePixel, 16, 6, "whole16"}),
    [](const ::testing::TestParamInfo<VectorCase> &param) { return std::string(param.param.Name); });

} // namespace
