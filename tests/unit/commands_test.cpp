/*
 * The scanner command set: the exact CDB bytes, timeouts and data phases of
 * every builder, the split shading and gamma transfers, and the selections
 * that persist in the templates.
 */
#include "driver_fixture.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

#include <numeric>

namespace {

class Commands : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ModelCode = 0;
        SelectedLens = 0;
    }
    void TearDown() override
    {
        ModelCode = 0;
        SelectedLens = 0;
        DriverTest::TearDown();
    }
    const RecordedCommand &Sent(size_t index) { return fake::Commands().at(index); }
};

TEST_F(Commands, FixedCommandsCarryTheirTemplates)
{
    uint8_t buffer[128] = {};
    EXPECT_EQ(Inquiry(buffer), SD_OK);
    EXPECT_EQ(SetWindow(buffer), SD_OK);
    EXPECT_EQ(ReadImageGeometry(buffer), SD_OK);
    EXPECT_EQ(TransferLampStatus(kDataIn, buffer), SD_OK);
    EXPECT_EQ(TransferLampStatus(kDataOut, buffer), SD_OK);
    EXPECT_EQ(TransferLampStatus(7, buffer), SD_OK); /* anything but 1 sends */
    EXPECT_EQ(SendLampControl(buffer), SD_OK);
    EXPECT_EQ(ReadDeviceParameters(kVariantAlt2, buffer), SD_OK);

    const struct {
        const char *cdb;
        uint16_t timeout;
        int direction;
        uint32_t length;
    } expected[] = {
        {"12 00 00 00 25 00", 1, 1, 37},
        {"24 00 00 00 00 00 00 00 45 00", 30, 2, 69},
        {"28 00 80 00 00 00 00 00 10 00", 30, 1, 16},
        {"28 00 81 00 00 00 00 00 09 00", 60, 1, 9},
        {"2A 00 81 00 00 00 00 00 09 00", 60, 2, 9},
        {"2A 00 81 00 00 00 00 00 09 00", 60, 2, 9},
        {"2A 00 81 00 00 00 00 00 01 00", 60, 2, 1},
        {"28 00 82 00 00 02 00 00 28 00", 30, 1, 40},
    };
    ASSERT_EQ(fake::Commands().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(fake::Hex(Sent(i).Cdb), expected[i].cdb) << "command " << i;
        EXPECT_EQ(Sent(i).Timeout, expected[i].timeout) << "command " << i;
        EXPECT_EQ(Sent(i).Direction, expected[i].direction) << "command " << i;
        EXPECT_EQ(Sent(i).Length, expected[i].length) << "command " << i;
    }
}

TEST_F(Commands, TestUnitReadyKeepsTheLastTimeout)
{
    EXPECT_EQ(TestUnitReady(10), SD_OK);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "00 00 00 00 00 00");
    EXPECT_EQ(Sent(0).Timeout, 10);
    EXPECT_EQ(Sent(0).Direction, 0);
}

TEST_F(Commands, ImageReadCarriesA24BitLengthAndMayBeEmpty)
{
    std::vector<uint8_t> buffer(0x012345);
    EXPECT_EQ(ReadImageData(buffer.data(), 0x012345), SD_OK);
    EXPECT_EQ(ReadImageData(nullptr, 0), SD_OK);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "28 00 00 00 00 00 01 23 45 00");
    EXPECT_EQ(Sent(0).Length, 0x012345u);
    EXPECT_EQ(Sent(0).Timeout, 30);
    EXPECT_EQ(fake::Hex(Sent(1).Cdb), "28 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Sent(1).Direction, 0);
}

TEST_F(Commands, ParameterPageReadCarriesTheSelectedLens)
{
    uint8_t page[kDeviceParameterPageLength];
    SelectedLens = 1;
    EXPECT_EQ(ReadDeviceParameters(kVariantAlt1, page), SD_OK);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "28 00 82 00 01 01 00 00 28 00");
}

TEST_F(Commands, HalftonePatternLengthIsSixteenBits)
{
    uint8_t pattern[5] = {2, 44, 212, 156, 100};
    EXPECT_EQ(SendHalftonePattern(pattern, 5), SD_OK);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 02 00 00 80 00 00 05 00");
    EXPECT_EQ(fake::Hex(Sent(0).DataOut), "02 2C D4 9C 64");
}

std::vector<uint8_t> Ramp(size_t length)
{
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return data;
}

TEST_F(Commands, Model168SplitsThreeChannelShadingIntoThreeSends)
{
    ModelCode = 168;
    std::vector<uint8_t> table = Ramp(30000);
    EXPECT_EQ(SendShadingData(0x63, table.data(), 30000), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 3u);
    const char *cdbs[] = {"2A 00 01 00 00 03 00 27 10 00", "2A 00 01 00 00 23 00 27 10 00",
                          "2A 00 01 00 00 43 00 27 10 00"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(fake::Hex(Sent(k).Cdb), cdbs[k]);
        EXPECT_EQ(Sent(k).DataOut,
                  std::vector<uint8_t>(table.begin() + 10000 * k, table.begin() + 10000 * (k + 1)));
    }

    fake::Reset();
    EXPECT_EQ(SendShadingData(0x21, table.data(), 10000), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 1u) << "a one-channel table goes out whole";
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 01 00 00 21 00 27 10 00");
}

TEST_F(Commands, Model168StopsAtTheFirstFailingPiece)
{
    ModelCode = 168;
    std::vector<uint8_t> table = Ramp(300);
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_EQ(SendShadingData(0x61, table.data(), 300), SD_ERR_ADAPTER);
    EXPECT_EQ(fake::Commands().size(), 2u);
}

TEST_F(Commands, OtherModelsSendShadingOnce)
{
    ModelCode = 150;
    std::vector<uint8_t> table = Ramp(30000);
    EXPECT_EQ(SendShadingData(0x63, table.data(), 30000), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 1u);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 01 00 00 63 00 75 30 00");
    EXPECT_EQ(Sent(0).DataOut, table);
}

TEST_F(Commands, GammaGoesOutIn64KiBPiecesNumberedFromOne)
{
    std::vector<uint8_t> table = Ramp(393216);
    EXPECT_EQ(SendGammaData(0x60, 1, table.data(), 393216), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 6u);
    const uint8_t qualifiers[] = {0x63, 0x65, 0x67, 0x69, 0x6B, 0x6D};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(Sent(k).Cdb[5], qualifiers[k]) << "piece " << k + 1;
        EXPECT_EQ(fake::Hex({Sent(k).Cdb.begin() + 6, Sent(k).Cdb.begin() + 9}), "01 00 00");
        EXPECT_EQ(Sent(k).DataOut, std::vector<uint8_t>(table.begin() + 65536 * k,
                                                        table.begin() + 65536 * (k + 1)));
    }
}

TEST_F(Commands, GammaOfOnePieceGoesOutWhole)
{
    std::vector<uint8_t> table = Ramp(65536);
    EXPECT_EQ(SendGammaData(0x60, 1, table.data(), 65536), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 1u);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 03 00 00 61 01 00 00 00");
}

TEST_F(Commands, GammaPartialPieceCarriesTheLastWholePieceNumber)
{
    std::vector<uint8_t> table = Ramp(65536 * 2 + 100);
    EXPECT_EQ(SendGammaData(0x20, 1, table.data(), static_cast<uint32_t>(table.size())), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 3u);
    EXPECT_EQ(fake::Hex(Sent(2).Cdb), "2A 00 03 00 00 25 00 00 64 00");
    EXPECT_EQ(Sent(2).DataOut, std::vector<uint8_t>(table.begin() + 131072, table.end()));
}

TEST_F(Commands, GammaFailureOfAPieceStopsTheRest)
{
    std::vector<uint8_t> table = Ramp(393216);
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(fake::CheckCondition(0x26, 0x00));
    EXPECT_EQ(SendGammaData(0x60, 1, table.data(), 393216), SD_ERR_PARAMETER_FIELD);
    EXPECT_EQ(fake::CommandsWithoutSense().size(), 2u);
}

} // namespace
