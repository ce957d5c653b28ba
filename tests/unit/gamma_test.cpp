/* The gamma step as the scanner sees it: the identity under each gain and
 * caller tables of every size. */
#include "scan/gamma.h"

#include "driver_fixture.h"
#include "entry/settings.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"

#include <cstring>
#include <vector>

namespace {

typedef std::vector<uint16_t> Table;

class GammaTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ScanState.TableLength = 65536;
        ScanState.WideEntries = 1;
        ScanState.BitsPerPixel = 8;
        for (uint16_t &factor : CalibrationState.ChannelFactor)
            factor = 256;
        block = {};
    }

    template <typename Entry> void UseCallerTable(std::vector<Entry> &table, uint16_t scale)
    {
        block.wFlags = SD_FLAG_GAMMA;
        block.wGammaScale = scale;
        block.lpGammaTable = table.data();
        ScanState.BitsPerPixel = sizeof(Entry) == 1 ? 8 : 16;
    }

    /* Runs the step; returns the tables the scanner received, by channel. */
    std::vector<Table> Send()
    {
        fake::Reset();
        EXPECT_TRUE(SendGammaTables(&block));
        EXPECT_EQ(uint32_t{block.dwResult}, 1u);
        std::vector<uint8_t> bytes;
        for (const RecordedCommand &command : fake::Commands())
            bytes.insert(bytes.end(), command.DataOut.begin(), command.DataOut.end());
        std::vector<Table> tables(bytes.size() / 131072, Table(65536));
        EXPECT_EQ(bytes.size(), tables.size() * 131072);
        for (size_t c = 0; c < tables.size(); ++c)
            std::memcpy(tables[c].data(), bytes.data() + c * 131072, 131072);
        return tables;
    }

    ScanAttributeBlock block;
};

/* Entry 1000 of each channel: the gain the settings and source choose, the
 * channel's own adjustment (one channel takes green's), and the channel
 * factors only when applied in gamma; each channel in two pieces numbered
 * after the qualifier's channel bits. */
TEST_F(GammaTest, SettingsSourceAdjustAndFactorsChooseEachChannelsGain)
{
    const struct {
        uint32_t Color, SourceBit2, InGamma;
        uint16_t Image;
        int32_t Adjust[3];
        uint16_t GreenFactor, Entry1000[3];
    } rows[] = {
        {0, 0, 0, 7, {0, 0, 0}, 256, {1000}}, /* any setting but 0: no gain */
        {0, 4, 0, 0, {0, 0, 0}, 256, {1150}},
        {1, 0, 0, 0, {20, -20, 0}, 256, {1440, 1200, 1200}},
        {0, 0, 0, 0, {0, 20, 0}, 256, {1440}},
        {0, 0, 0, 0, {20, 0, 0}, 256, {1200}},
        {1, 0, 0, 0, {0, 0, 0}, 128, {1200, 1200, 1200}},
        {1, 0, 1, 0, {0, 0, 0}, 128, {1200, 600, 1200}},
    };
    /* The top of the default 120% stretch is held at the largest value. */
    Table t = Send().at(0);
    EXPECT_EQ(t[54612], 65534);
    EXPECT_EQ(t[54613], 65535);
    EXPECT_EQ(t[65535], 65535);
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        ScanState.IsColor = row.Color;
        ScanState.SourceBit2 = row.SourceBit2;
        Settings.bfApplyInGamma = row.InGamma;
        Settings.Image = row.Image;
        CalibrationState.ChannelFactor[1] = row.GreenFactor;
        for (int c = 0; c < 3; ++c)
            block.lAdjust[c] = row.Adjust[c];
        std::vector<Table> tables = Send();
        ASSERT_EQ(tables.size(), row.Color ? 3u : 1u);
        for (size_t c = 0; c < tables.size(); ++c)
            EXPECT_EQ(tables[c][1000], row.Entry1000[c]) << "channel " << c;
        std::vector<uint8_t> qualifiers;
        for (const RecordedCommand &c : fake::Commands())
            qualifiers.push_back(c.Cdb[5]);
        EXPECT_EQ(fake::Hex(qualifiers), row.Color ? "63 65 67 69 6B 6D" : "23 25");
    }
}

TEST_F(GammaTest, LargeAdjustOrFactorCapsInsteadOfWrapping)
{
    block.lAdjust[1] = 1000000;
    Table t = Send().at(0);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[1], 12001);
    EXPECT_EQ(t[1000], 65535);

    /* 65535 x 120 x 610 passes 2^32: a wrapped index would break the rise. */
    block.lAdjust[1] = 510;
    Settings.bfApplyInGamma = 1;
    CalibrationState.ChannelFactor[1] = 65535;
    t = Send().at(0);
    for (uint32_t i = 1; i < 65536; ++i)
        ASSERT_LE(t[i - 1], t[i]) << i;
    EXPECT_EQ(t[65535], 65535);

    block.lAdjust[1] = INT32_MAX;
    EXPECT_EQ(Send().at(0)[1], 65535);
    EXPECT_EQ(GainIndex(int64_t{INT32_MAX} + 100, 0, 65535, 0xFFFFFFFF), 0u);
    EXPECT_EQ(GainIndex(int64_t{INT32_MAX} + 100, 1, 65535, 0xFFFFFFFF), 65535u);
}

TEST_F(GammaTest, EightBitTableOf256ExpandsInWholeLevelSteps)
{
    std::vector<uint8_t> caller(256);
    for (uint32_t k = 0; k < 256; ++k)
        caller[k] = static_cast<uint8_t>(255 - k);
    caller[0] = 10;
    caller[1] = 255;
    UseCallerTable(caller, 0);
    Settings.Image = 1;
    Table t = Send().at(0);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(t[i], 10 * 257) << i;
    EXPECT_EQ(t[256 + 127], (10 + 255) / 2 * 257); /* halfway from entry 0 to 1 */
    EXPECT_EQ(t[256 * 2 + 255], 253 * 257);
    EXPECT_EQ(t[65535], 0);

    Settings.Image = 0; /* the gain applies to the expanded table */
    EXPECT_EQ(Send().at(0)[1000], t[1200]);
    ScanState.BitsPerPixel = 1; /* the driver's binarizer maps through the caller's table itself */
    ScanState.SoftwareBinarize = 1;
    EXPECT_EQ(Send().at(0)[1000], 1200) << "the identity goes to the scanner";
}

TEST_F(GammaTest, SixteenBitFullTableIsCopied)
{
    std::vector<uint16_t> caller(3 * 65536);
    for (uint32_t i = 0; i < caller.size(); ++i)
        caller[i] = static_cast<uint16_t>(i * 40503u);
    std::vector<Table> expected;
    for (uint32_t c = 0; c < 3; ++c)
        expected.emplace_back(caller.begin() + c * 65536, caller.begin() + (c + 1) * 65536);
    ScanState.IsColor = 1;
    Settings.Image = 1;
    for (uint16_t scale : {128, 256}) {
        UseCallerTable(caller, scale);
        EXPECT_TRUE(Send() == expected) << "scale " << scale;
    }
}

TEST_F(GammaTest, ShortTablesSpanTheWholeInputRange)
{
    Settings.Image = 1;
    /* 2-byte, 1024 entries: entry k at 64k + 63, linear between. */
    std::vector<uint16_t> wide(1024);
    for (uint32_t k = 0; k < 1024; ++k)
        wide[k] = static_cast<uint16_t>(64 * k + 63);
    UseCallerTable(wide, 4);
    Table t = Send().at(0);
    for (uint32_t i = 0; i < 65536; ++i)
        ASSERT_EQ(t[i], i < 63 ? 63 : i) << i;

    /* 2-byte, 256 entries, falling. */
    wide.assign(256, 0);
    for (uint32_t k = 0; k < 256; ++k)
        wide[k] = static_cast<uint16_t>(65535 - 257 * k);
    UseCallerTable(wide, 0);
    t = Send().at(0);
    EXPECT_EQ(t[0], 65535);
    EXPECT_EQ(t[256 * 100 + 255], 65535 - 25700);
    EXPECT_EQ(t[256 * 100 + 127], 65535 - 25700 + 128); /* blend of 99 and 100 */
    EXPECT_EQ(t[65535], 0);

    /* 1-byte, 4096 and 1024 entries: the top entry reaches the top input. */
    for (uint16_t scale : {16, 4}) {
        uint32_t m = scale == 16 ? 4096 : 1024, f = 65536 / m;
        std::vector<uint8_t> narrow(m);
        for (uint32_t k = 0; k < m; ++k)
            narrow[k] = static_cast<uint8_t>(k * 256 / m);
        UseCallerTable(narrow, scale);
        t = Send().at(0);
        EXPECT_EQ(t[f * (m / 2) + f - 1], 128 * 257) << m;
        EXPECT_EQ(t[65535], 65535) << m;
        /* Level 1 first at caller entry m / 256, download entry 256 + f - 1;
         * the blend below it rounds down to level 0. */
        EXPECT_EQ(t[256 + f - 1], 257) << m;
        EXPECT_EQ(t[256 + f - 2], 0) << m;
    }
}

} // namespace
