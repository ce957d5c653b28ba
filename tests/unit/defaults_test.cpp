/* vDefaultAttribute: every field, the sizes, and the page each source reads. */
#include "device_control_fixture.h"

#include <cstddef>

using namespace control_test;

namespace {

using DefaultsTest = DeviceControlTest;

ScanAttributeBlock Defaults(const std::vector<uint8_t> &page, uint16_t scanSource = SD_SOURCE_FLATBED)
{
    Script({Reply(page)});
    ScanAttributeBlock block = Poisoned<ScanAttributeBlock>();
    block.wScanSource = scanSource;
    vDefaultAttribute(&block);
    return block;
}

/* Every byte of the block: all fields are written (the block starts
 * poisoned), the header around dwResult is left alone. Sizes are the glass
 * at the base resolution, truncated to 1/1000 inch; the source chooses the
 * page and comes back as flatbed; page byte 0 bit 7 alone gives colour. */
TEST_F(DefaultsTest, FillsEveryFieldFromThePageTheSourceChooses)
{
    const struct {
        uint16_t Width, Length, Base, WidthMils, LengthMils, Source;
        uint8_t Variant, PageByte0;
        uint16_t ImageType;
    } rows[] = {
        {5100, 7000, 600, 8500, 11666, 0, 0, 0x80, 14},     {2550, 3508, 300, 8500, 11693, 3, 1, 0x7F, 1},
        {65535, 65535, 1000, 65535, 65535, 6, 2, 0xFF, 14}, {100, 100, 3, 33333, 33333, 8, 0, 0x00, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Base);
        std::vector<uint8_t> page = ParameterPage(row.Width, row.Length, row.Base);
        page[0] = row.PageByte0;
        ScanAttributeBlock want = Poisoned<ScanAttributeBlock>(), block = Defaults(page, row.Source);
        const size_t header = offsetof(ScanAttributeBlock, wWidth);
        std::memset(reinterpret_cast<uint8_t *>(&want) + header, 0, sizeof want - header);
        want.wWidth = row.WidthMils, want.wLength = row.LengthMils;
        want.wRight = static_cast<uint16_t>(row.WidthMils - 1), want.wBottom = static_cast<uint16_t>(row.LengthMils - 1);
        want.wResolution = row.Base, want.wImageType = row.ImageType, want.wScanSource = 1, want.wBitsPerPixel = 8;
        want.wHalftoneMode = 1, want.wHalftonePattern = 5, want.wFlags = 0x0020;
        want.wReserved3 = 8, want.wReserved4 = 1, want.wReserved5 = 2;
        EXPECT_EQ(Value(block.dwResult), 1u);
        ExpectOnlyResultWritten(want, block);
        EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, row.Variant)});
    }
}

} // namespace
