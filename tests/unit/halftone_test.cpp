/* The halftone step: the tone map, the binarizer a scan gets and what it
 * makes of grey lines, the pattern download, and refused patterns. */
#include "scan/halftone.h"

#include "fake_adapter.h"
#include "platform/vector_support.h"
#include "scan/halftone_vector.h"
#include "scan/scan_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

/* Whether the scan's binarizer is this plain one or its vector variant. */
bool Picked(LineBinarizer plain)
{
    return HalftoneState.Binarizer == plain ||
           (VectorVariant(plain) && HalftoneState.Binarizer == VectorVariant(plain));
}

/* One line through the chosen binarizer; a fence byte after the line's
 * bytes must stay as it was. */
Bytes Line(const Bytes &grey)
{
    size_t bytes = (grey.size() + 7) / 8;
    Bytes out(bytes + 1, 0x5A);
    HalftoneState.Binarizer(out.data(), grey.data(), static_cast<uint32_t>(grey.size()));
    EXPECT_EQ(out[bytes], 0x5A) << "wrote past the line of " << grey.size();
    out.pop_back();
    return out;
}

class HalftoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        ScanState = {};
        ScanState.IsBinary = 1;
        ScanState.BitsPerPixel = 1;
        block = {};
        block.wHalftoneMode = SD_HALFTONE_BUILTIN;
    }

    /* Sets up a scan the driver binarizes (or the scanner, with false). */
    bool Start(bool software)
    {
        fake::Reset();
        ScanState.SoftwareBinarize = software;
        block.dwResult = 0;
        return SetUpHalftone(&block);
    }

    ScanAttributeBlock block;
};

TEST_F(HalftoneTest, LineArtIsAnyModeWithoutPatternBits)
{
    Bytes ramp(256);
    std::iota(ramp.begin(), ramp.end(), 0);
    Bytes expected(32, 0x00);
    std::fill(expected.begin(), expected.begin() + 16, 0xFF); /* 0-127 give 1 */
    for (uint16_t mode : {0, 8}) {
        block.wHalftoneMode = mode;
        EXPECT_TRUE(Start(false));
        EXPECT_TRUE(fake::Commands().empty()) << mode;
        EXPECT_TRUE(Picked(&ThresholdLine)) << mode;
        EXPECT_EQ(Line(ramp), expected) << mode;
    }
    EXPECT_EQ(Line({0, 255, 0, 255, 0, 255, 0, 255, 0, 0}), Bytes({0xAA, 0xC0})) << "a partial byte's high bits";
}

TEST_F(HalftoneTest, ScannerReceivesBuiltinPatternAsPrinted)
{
    block.wHalftonePattern = 11;
    EXPECT_TRUE(Start(false));
    ASSERT_EQ(fake::Commands().size(), 1u);
    const RecordedCommand &sent = fake::Commands()[0];
    EXPECT_EQ(fake::Hex(sent.Cdb), fake::Hex({0x2A, 0, 0x02, 0, 0, 0x80, 0, 0, 5, 0}));
    EXPECT_EQ(sent.DataOut, Bytes({2, 44, 212, 156, 100}));
}

TEST_F(HalftoneTest, DriverDithersRowByRowFromColumnZero)
{
    block.wHalftonePattern = 10; /* rows 40 150 84 / 216 128 172 / 106 194 62 */
    EXPECT_TRUE(Start(true));
    EXPECT_TRUE(fake::Commands().empty());
    EXPECT_TRUE(Picked(&DitherLine));
    Bytes grey(9, 100);
    EXPECT_EQ(Line(grey), Bytes({0x49, 0x00})); /* 0 1 0 0 1 0 0 1 | 0 */
    EXPECT_EQ(Line(grey), Bytes({0xFF, 0x80}));
    EXPECT_EQ(Line(grey), Bytes({0xDB, 0x00})); /* 1 1 0 1 1 0 1 1 | 0 */
    EXPECT_EQ(Line(grey), Bytes({0x49, 0x00})); /* row 0 again */

    /* A new start begins at row 0; a value equal to its cell gives 0. */
    EXPECT_TRUE(Start(true));
    EXPECT_EQ(Line({39, 149, 83, 40, 150, 84}), Bytes({0xE0}));
}

TEST_F(HalftoneTest, ToneMapSamplesTheCallerTableOverItsWholeRange)
{
    Bytes table(65536);
    for (uint32_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint8_t>(i * 7 + i / 256);
    block.wHalftoneMode = SD_HALFTONE_THRESHOLD;
    block.lpGammaTable = table.data();
    const struct { uint16_t Scale; uint32_t Step; } sizes[] = {{4, 4}, {128, 256}, {8, 1}}; /* 8: unknown */
    for (auto size : sizes) {
        block.wFlags = SD_FLAG_GAMMA;
        block.wGammaScale = size.Scale;
        EXPECT_TRUE(Start(true));
        for (uint32_t k = 0; k < 256; ++k)
            ASSERT_EQ(ScanState.ToneMap[k], table[k * size.Step]) << size.Scale << " " << k;
    }
    block.wFlags = 0; /* no flag: the identity */
    EXPECT_TRUE(Start(true));
    EXPECT_EQ(ScanState.ToneMap[200], 200);

    /* The binarizer compares mapped values: an inverted table flips the bits. */
    for (uint32_t k = 0; k < 256; ++k)
        table[k] = static_cast<uint8_t>(255 - k);
    block.wFlags = SD_FLAG_GAMMA;
    block.wGammaScale = 0;
    EXPECT_TRUE(Start(true));
    EXPECT_EQ(Line({0, 127, 128, 255}), Bytes({0x30}));
}

TEST_F(HalftoneTest, CallerPatternsAreCopiedAndSentWhole)
{
    Bytes pattern(16 * 16, 200);
    block.wHalftoneMode = SD_HALFTONE_CALLER;
    block.lpPattern = pattern.data();
    block.wPatternSize = 16; /* copied: later changes to the caller's bytes do not count */
    pattern[15] = 0;
    EXPECT_TRUE(Start(true));
    pattern[14] = 0;
    EXPECT_EQ(Line(Bytes(16, 100)), Bytes({0xFF, 0xFE}));

    block.wPatternSize = 11; /* 122 bytes, the most the download holds */
    EXPECT_TRUE(Start(false));
    ASSERT_EQ(fake::Commands().size(), 1u);
    Bytes data = fake::Commands()[0].DataOut;
    ASSERT_EQ(data.size(), 122u);
    EXPECT_EQ(data[0], 11);
    EXPECT_TRUE(std::equal(data.begin() + 1, data.end(), pattern.begin()));
}

/* Patterns the driver (16 at most) or the scanner (11 at most, built-in
 * ones below 12) cannot use are refused with nothing sent, leaving the
 * threshold; a built-in number past the last the driver replaces with it. */
TEST_F(HalftoneTest, PatternsThatCannotBeUsedAreRefused)
{
    block.wHalftonePattern = 12;
    EXPECT_TRUE(Start(true));
    EXPECT_TRUE(Picked(&ThresholdLine));
    Bytes pattern(17 * 17, 200);
    const struct { uint16_t Mode, Number, Side; bool Software, Null; } refused[] = {
        {SD_HALFTONE_BUILTIN, 12, 0, false, false}, {SD_HALFTONE_BUILTIN, 0xFFFF, 0, false, false},
        {SD_HALFTONE_CALLER, 0, 17, true, false},  {SD_HALFTONE_CALLER, 0, 12, false, false},
        {SD_HALFTONE_CALLER, 0, 0, false, false},  {SD_HALFTONE_CALLER, 0, 2, true, true},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(testing::Message() << "case " << &r - refused);
        block.wHalftoneMode = SD_HALFTONE_BUILTIN;
        block.wHalftonePattern = 5;
        EXPECT_TRUE(Start(true));
        block.wHalftoneMode = r.Mode;
        block.wHalftonePattern = r.Number;
        block.wPatternSize = r.Side;
        block.lpPattern = r.Null ? nullptr : pattern.data();
        EXPECT_FALSE(Start(r.Software));
        EXPECT_EQ(uint32_t{block.dwResult}, 0xFD3Eu); /* -706, high half 0 */
        EXPECT_TRUE(fake::Commands().empty());
        EXPECT_TRUE(Picked(&ThresholdLine));
    }
}

/* The vector binarizers against the plain ones: the threshold, every
 * built-in pattern and caller patterns, lines of many lengths, several in
 * turn so the pattern rows advance. A decreasing tone map keeps the plain. */
TEST(VectorBinarizer, GivesThePlainBytes)
{
    if (!VectorRoutinesUsable())
        GTEST_SKIP() << "no vector routines on this build or processor";
    static uint8_t maps[4][256]; /* outlive the test: HalftoneState keeps them */
    for (uint32_t k = 0; k < 256; ++k) {
        maps[0][k] = static_cast<uint8_t>(k);
        /* 8 up to 248: cells of 8 or less give 0, above 248 give 1 */
        maps[1][k] = static_cast<uint8_t>(8 + 240 * std::pow(k / 255.0, 0.45));
        maps[2][k] = 128;
        maps[3][k] = static_cast<uint8_t>(k == 200 ? 10 : k); /* decreasing somewhere: plain only */
    }
    std::mt19937 random(11);
    Bytes grey(40000), caller(256);
    for (uint8_t &g : grey)
        g = static_cast<uint8_t>(random());
    for (uint8_t &c : caller)
        c = static_cast<uint8_t>(random());
    const uint8_t edges[] = {0, 255, 248, 249, 8, 9, 128, 127}; /* around the gamma-like map's ends */
    std::copy(std::begin(edges), std::end(edges), caller.begin());

    struct Choice { int32_t Number; uint32_t CallerSide; };
    std::vector<Choice> choices = {{-1, 0}, {-1, 1}, {-1, 7}, {-1, 16}};
    for (int32_t p = 0; p < kBuiltinPatternCount; ++p)
        choices.push_back({p, 0});
    const uint32_t lengths[] = {0, 1, 7, 8, 9, 31, 32, 33, 63, 65, 100, 257, 5100, 5101};
    struct Restore { ~Restore() { UsePlainRoutinesOnly(false); } } restore;
    for (int m = 0; m < 4; ++m)
        for (Choice choice : choices)
            for (uint32_t length : lengths) {
                Bytes out[2];
                for (bool plain : {true, false}) {
                    UsePlainRoutinesOnly(plain);
                    HalftonePatternData data;
                    SelectBinarizer(maps[m], choice.Number, &data, choice.CallerSide ? caller.data() : nullptr,
                                    choice.CallerSide);
                    const LineBinarizer plainRoutine = HalftoneState.PatternSide ? &DitherLine : &ThresholdLine;
                    EXPECT_EQ(HalftoneState.Binarizer != plainRoutine, !plain && m != 3);
                    for (uint32_t line = 0; line < 17; ++line) {
                        const size_t start = (line * 331) % (grey.size() - length);
                        const Bytes packed = Line(Bytes(grey.begin() + start, grey.begin() + start + length));
                        out[plain].insert(out[plain].end(), packed.begin(), packed.end());
                    }
                }
                ASSERT_EQ(out[0], out[1]) << "map " << m << ", pattern " << choice.Number << ", caller side "
                                          << choice.CallerSide << ", length " << length;
            }
}

} // namespace
