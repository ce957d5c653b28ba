/*
 * tables_test.cpp - what the scanner does with the gamma tables (64 KiB
 * pieces numbered in the qualifier) and with bilevel output: the window's
 * threshold and the halftone pattern the host sent.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

namespace {

SimHost IdealHost()
{
    SimHost host;
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    return host;
}

/* The grey ramp, 0.5 in to 8 in, at 100 dpi: 750 pixels by 6 lines. */
WindowRequest Ramp(uint8_t composition, uint8_t depth)
{
    WindowRequest w;
    w.Resolution = 100;
    w.X = 300;
    w.Y = 1050;
    w.Width = 4500;
    w.Length = 36;
    w.Composition = composition;
    w.Depth = depth;
    return w;
}

uint8_t RampValue(uint32_t i) { return ChartColor(6000 + i * 120, 21000).G; }

/* Sends a table of 65536 two-byte entries per channel in pieces of 64 KiB,
 * numbered from 1, as a host does. */
void SendGammaInPieces(SimHost &host, uint8_t code, const std::vector<uint8_t> &tables)
{
    for (uint32_t k = 1; k <= tables.size() / 65536; ++k) {
        std::vector<uint8_t> piece(tables.begin() + (k - 1) * 65536, tables.begin() + k * 65536);
        ASSERT_EQ(host.SendGamma(static_cast<uint8_t>(code | 0x01 | (k << 1)), piece), BUSLNK_GOOD) << k;
    }
}

} // namespace

TEST(Gamma, ColourTablesArriveInSixPiecesOneTablePerChannel)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> tables(3 * 131072);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < 65536; ++i) {
            /* red inverted, green halved, blue constant */
            uint32_t v = c == 0 ? 65535 - i : c == 1 ? i / 2 : 12345;
            PutLittle16(&tables[c * 131072 + 2 * i], v);
        }
    SendGammaInPieces(host, 0x60, tables);
    std::vector<uint8_t> image = host.Scan(Ramp(kColor, 16));
    for (uint32_t i = 0; i < 750; ++i) {
        uint32_t v = RampValue(i) * 257u;
        ASSERT_EQ(Sample16(image, 3 * i + 0), 65535 - v) << i;
        ASSERT_EQ(Sample16(image, 3 * i + 1), v / 2) << i;
        ASSERT_EQ(Sample16(image, 3 * i + 2), 12345u) << i;
    }
}

TEST(Gamma, PieceNumberPlacesThePiece)
{
    SimHost host = IdealHost();
    /* Piece 4 of a colour set is the upper half of the green table. */
    std::vector<uint8_t> piece(65536);
    for (uint32_t i = 0; i < 32768; ++i)
        PutLittle16(&piece[2 * i], 7);
    ASSERT_EQ(host.SendGamma(0x60 | 0x01 | (4 << 1), piece), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Gamma[1][32767], 32767);
    EXPECT_EQ(host.Device.Gamma[1][32768], 7);
    EXPECT_EQ(host.Device.Gamma[1][65535], 7);
    EXPECT_EQ(host.Device.Gamma[0][65535], 65535);
    EXPECT_EQ(host.Device.Gamma[2][32768], 32768);
}

TEST(Gamma, OneChannelTableShapesGreyScans)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> table(131072);
    for (uint32_t i = 0; i < 65536; ++i)
        PutLittle16(&table[2 * i], std::min<uint32_t>(i * 2, 65535));
    SendGammaInPieces(host, 0x20, table);
    std::vector<uint8_t> grey = host.Scan(Ramp(kGrey, 8));
    for (uint32_t i = 0; i < 750; ++i)
        ASSERT_EQ(grey[i], std::min<uint32_t>(RampValue(i) * 257u * 2, 65535) >> 8) << i;
}

TEST(Gamma, OneByteEntriesScaleToSixteenBits)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> table(65536);
    for (uint32_t i = 0; i < 65536; ++i)
        table[i] = static_cast<uint8_t>(255 - (i >> 8));
    ASSERT_EQ(host.SendGamma(0x20, table), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Gamma[1][0], 65535);
    EXPECT_EQ(host.Device.Gamma[1][65535], 0);
}

TEST(Gamma, RefusesPiecesBeyondTheTables)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> piece(65536);
    EXPECT_EQ(host.SendGamma(0x20 | 0x01 | (3 << 1), piece), BUSLNK_CHECK_CONDITION) << "one channel has two pieces";
    EXPECT_EQ(host.RequestSense()[12], 0x1A);
    EXPECT_EQ(host.SendGamma(0x60 | 0x01 | (7 << 1), piece), BUSLNK_CHECK_CONDITION) << "colour has six";
    EXPECT_EQ(host.SendGamma(0x61, std::vector<uint8_t>(3)), BUSLNK_CHECK_CONDITION) << "half an entry";
    EXPECT_EQ(host.SendGamma(0x41, piece), BUSLNK_CHECK_CONDITION) << "no such channel code";
    EXPECT_EQ(host.RequestSense()[12], 0x24);
    SimHost grey;
    grey.Configure("model", "gray300");
    EXPECT_EQ(grey.SendGamma(0x63, piece), BUSLNK_CHECK_CONDITION) << "a grey scanner has one table";
}

TEST(Bilevel, ThresholdFromTheWindow)
{
    SimHost host = IdealHost();
    for (uint8_t threshold : {uint8_t(128), uint8_t(50), uint8_t(1), uint8_t(255)}) {
        WindowRequest w = Ramp(kBilevel, 1);
        w.Threshold = threshold;
        std::vector<uint8_t> bits = host.Scan(w);
        ASSERT_EQ(bits.size(), 6u * 94); /* 750 pixels: 94 bytes a line */
        for (uint32_t j = 0; j < 6; ++j)
            for (uint32_t i = 0; i < 750; ++i) {
                bool black = bits[j * 94 + i / 8] & (0x80 >> (i % 8));
                ASSERT_EQ(black, RampValue(i) < threshold) << int(threshold) << " " << i;
            }
        /* The padding bits of the last byte stay 0. */
        EXPECT_EQ(bits[93] & 0x03, 0) << "750 pixels leave two padding bits";
    }
}

TEST(Bilevel, HalftoneWithTheSentPattern)
{
    SimHost host = IdealHost();
    ASSERT_EQ(host.SendHalftone({2, 44, 212, 156, 100}), BUSLNK_GOOD);
    std::vector<uint8_t> bits = host.Scan(Ramp(kDithered, 1));
    const uint8_t pattern[2][2] = {{44, 212}, {156, 100}};
    for (uint32_t j = 0; j < 6; ++j)
        for (uint32_t i = 0; i < 750; ++i) {
            bool black = bits[j * 94 + i / 8] & (0x80 >> (i % 8));
            ASSERT_EQ(black, RampValue(i) < pattern[j % 2][i % 2]) << i << "," << j;
        }
}

TEST(Bilevel, HalftoneWithoutAPatternUsesTheScannersOwn)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> bits = host.Scan(Ramp(kDithered, 1));
    /* Mid-grey (ramp value 128 at x = 4.25 in) comes out half black. */
    uint32_t black = 0;
    for (uint32_t j = 0; j < 4; ++j)
        for (uint32_t i = 372; i < 380; ++i)
            black += (bits[j * 94 + i / 8] >> (7 - i % 8)) & 1;
    EXPECT_EQ(black, 16u);
}

TEST(Bilevel, RefusesMalformedPatterns)
{
    SimHost host;
    EXPECT_EQ(host.SendHalftone({2, 1, 2, 3}), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(host.RequestSense()[12], 0x1A);
    EXPECT_EQ(host.SendHalftone({0}), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(host.RequestSense()[12], 0x26);
    std::vector<uint8_t> big(17 * 17 + 1, 1);
    big[0] = 17;
    EXPECT_EQ(host.SendHalftone(big), BUSLNK_CHECK_CONDITION);
}
