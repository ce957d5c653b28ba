/* Command builders whose bytes no export test sees, and the split shading
 * and gamma transfers. */
#include "driver_fixture.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

namespace {

using Commands = DriverTest;

const RecordedCommand &Sent(size_t index)
{
    return fake::Commands().at(index);
}

std::vector<uint8_t> Ramp(size_t length)
{
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return data;
}

/* The INQUIRY, lamp page, parameter page, image stop and halftone CDBs
 * are checked where the exports send them. */
TEST_F(Commands, FixedCommandsCarryTheirTemplates)
{
    uint8_t buffer[128] = {};
    std::vector<uint8_t> image(0x012345);
    EXPECT_EQ(Inquiry(buffer), SD_OK);
    EXPECT_EQ(SetWindow(buffer), SD_OK);
    EXPECT_EQ(ReadImageGeometry(buffer), SD_OK);
    EXPECT_EQ(TransferLampStatus(7, buffer), SD_OK); /* anything but 1 sends */
    EXPECT_EQ(SendLampControl(buffer), SD_OK);
    EXPECT_EQ(TestUnitReady(10), SD_OK);
    EXPECT_EQ(ReadImageData(image.data(), 0x012345), SD_OK); /* a 24-bit length */
    const struct { const char *cdb; uint16_t timeout; int direction; uint32_t length; } expected[] = {
        {"12 00 00 00 25 00", 1, 1, 37},
        {"24 00 00 00 00 00 00 00 45 00", 30, 2, 69},
        {"28 00 80 00 00 00 00 00 10 00", 30, 1, 16},
        {"2A 00 81 00 00 00 00 00 09 00", 60, 2, 9},
        {"2A 00 81 00 00 00 00 00 01 00", 60, 2, 1},
        {"00 00 00 00 00 00", 10, 0, 0},
        {"28 00 00 00 00 00 01 23 45 00", 30, 1, 0x012345},
    };
    ASSERT_EQ(fake::Commands().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fake::Hex(Sent(i).Cdb), expected[i].cdb);
        EXPECT_EQ(Sent(i).Timeout, expected[i].timeout);
        EXPECT_EQ(Sent(i).Direction, expected[i].direction);
        EXPECT_EQ(Sent(i).Length, expected[i].length);
    }
}

/* Other models send it whole: the calibration tests' tables. */
TEST_F(Commands, Model168SplitsThreeChannelShading)
{
    std::vector<uint8_t> table = Ramp(30000);
    ModelCode = 168;
    EXPECT_EQ(SendShadingData(0x63, table.data(), 30000), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 3u);
    const char *cdbs[] = {"2A 00 01 00 00 03 00 27 10 00", "2A 00 01 00 00 23 00 27 10 00",
                          "2A 00 01 00 00 43 00 27 10 00"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(fake::Hex(Sent(k).Cdb), cdbs[k]);
        EXPECT_EQ(Sent(k).DataOut, std::vector<uint8_t>(table.begin() + 10000 * k, table.begin() + 10000 * (k + 1)));
    }
    fake::Reset();
    EXPECT_EQ(SendShadingData(0x21, table.data(), 10000), SD_OK);
    EXPECT_EQ(SendShadingData(0x61, table.data(), 300), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 4u) << "a one-channel table goes out whole";
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 01 00 00 21 00 27 10 00");

    fake::Reset();
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_EQ(SendShadingData(0x61, table.data(), 300), SD_ERR_ADAPTER);
    EXPECT_EQ(fake::Commands().size(), 2u) << "the first failing piece ends the table";
}

/* Pieces of 64 KiB numbered from 1 in the qualifier (the tables of every
 * channel are in the gamma tests); a piece of less carries the number of
 * the last whole one and its own length. */
TEST_F(Commands, GammaPiecesOfOneAndOfLessThan64KiB)
{
    std::vector<uint8_t> table = Ramp(65536 * 2 + 100);
    EXPECT_EQ(SendGammaData(0x60, 1, table.data(), 65536), SD_OK);
    EXPECT_EQ(SendGammaData(0x20, 1, table.data(), static_cast<uint32_t>(table.size())), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 4u);
    EXPECT_EQ(fake::Hex(Sent(0).Cdb), "2A 00 03 00 00 61 01 00 00 00");
    EXPECT_EQ(fake::Hex(Sent(3).Cdb), "2A 00 03 00 00 25 00 00 64 00");
    EXPECT_EQ(Sent(3).DataOut, std::vector<uint8_t>(table.begin() + 131072, table.end()));
}

} // namespace
