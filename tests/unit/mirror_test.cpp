/*
 * mirror_test.cpp - MirrorLines on each raw layout: worked lines, padding
 * and tags left in place, and stretches held inside their lines.
 */
#include "image/mirror.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Mirror(int32_t selector, int32_t bits, uint32_t pixels, uint32_t lineBytes, uint32_t lines, Bytes data)
{
    MirrorLines(selector, bits, pixels, lineBytes, lines, data.data());
    return data;
}

TEST(BitReversal, ReversesEachByte)
{
    EXPECT_EQ(BitReversal[0x01], 0x80);
    EXPECT_EQ(BitReversal[0x0B], 0xD0);
    EXPECT_EQ(BitReversal[0x00], 0x00);
    for (unsigned v = 0; v < 256; ++v)
        EXPECT_EQ(BitReversal[BitReversal[v]], v);
}

TEST(MirrorLines, SingleChannel)
{
    /* Two lines of five pixels and one padding byte each. */
    EXPECT_EQ(Mirror(1, 8, 5, 6, 2, {10, 20, 30, 40, 50, 99, 1, 2, 3, 4, 5, 98}),
              (Bytes{50, 40, 30, 20, 10, 99, 5, 4, 3, 2, 1, 98}));
    EXPECT_EQ(Mirror(1, 12, 3, 6, 1, {1, 2, 3, 4, 5, 6}), (Bytes{5, 6, 3, 4, 1, 2}));
    EXPECT_EQ(Mirror(1, 16, 1, 2, 1, {7, 8}), (Bytes{7, 8}));
}

TEST(MirrorLines, WholePixelColour)
{
    EXPECT_EQ(Mirror(3, 8, 3, 9, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}), (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));
    EXPECT_EQ(Mirror(3, 16, 2, 12, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
              (Bytes{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));
}

TEST(MirrorLines, PackedBits)
{
    EXPECT_EQ(Mirror(0, 1, 16, 2, 1, {0x01, 0x03}), (Bytes{0xC0, 0x80}));
    /* Ten pixels b0..b9 = 1011001110 and six padding bits 101010: the
     * padding ends up in front of the pixels, which come out b9..b0. */
    EXPECT_EQ(Mirror(0, 1, 10, 2, 1, {0xB3, 0xAA}), (Bytes{0x55, 0xCD}));
}

TEST(MirrorLines, TaggedSegmentsKeepTheirTags)
{
    /* Two lines of three segments: tag "R", "G" or "B" and a spare byte,
     * then three samples. */
    const Bytes line = {'R', 0, 1, 2, 3, 'G', 0, 4, 5, 6, 'B', 0, 7, 8, 9};
    const Bytes mirrored = {'R', 0, 3, 2, 1, 'G', 0, 6, 5, 4, 'B', 0, 9, 8, 7};
    Bytes two = line, want = mirrored;
    two.insert(two.end(), line.begin(), line.end());
    want.insert(want.end(), mirrored.begin(), mirrored.end());
    EXPECT_EQ(Mirror(2, 8, 3, 15, 2, two), want);
    EXPECT_EQ(Mirror(2, 16, 2, 18, 1, {'R', 0, 1, 2, 3, 4, 'G', 0, 5, 6, 7, 8, 'B', 0, 9, 10, 11, 12}),
              (Bytes{'R', 0, 3, 4, 1, 2, 'G', 0, 7, 8, 5, 6, 'B', 0, 11, 12, 9, 10}));
}

/* A pixel count larger than the line holds turns only what the line holds. */
TEST(MirrorLines, StretchStaysInsideTheLine)
{
    EXPECT_EQ(Mirror(1, 8, 9, 3, 1, {1, 2, 3}), (Bytes{3, 2, 1}));
    EXPECT_EQ(Mirror(3, 8, 9, 7, 1, {1, 2, 3, 4, 5, 6, 7}), (Bytes{4, 5, 6, 1, 2, 3, 7}));
    EXPECT_EQ(Mirror(2, 8, 9, 12, 1, {'R', 0, 1, 2, 'G', 0, 3, 4, 'B', 0, 5, 6}),
              (Bytes{'R', 0, 2, 1, 'G', 0, 4, 3, 'B', 0, 6, 5}));
    EXPECT_EQ(Mirror(0, 1, 40, 1, 1, {0x01}), (Bytes{0x80}));
}

} // namespace
