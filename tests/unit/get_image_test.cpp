/*
 * Image reading against a scripted scanner: every delivered byte, an early
 * end of the image, and reading on after a refused call.
 */
#include "driver_fixture.h"
#include "pipeline_reference.h"
#include "platform/platform.h"
#include "scan/scan_state.h"

#include <random>

namespace {

class GetImage : public ScanTest {
protected:
    /* Reads the whole image in calls of the given sizes (the last repeats). */
    std::vector<uint8_t> ReadAll(std::vector<uint32_t> sizes)
    {
        uint32_t lines = block.wLength, lineBytes = LineBytes(), done = 0;
        std::vector<uint8_t> image;
        for (size_t call = 0; done < lines; ++call) {
            uint32_t want = sizes[std::min(call, sizes.size() - 1)];
            std::vector<uint8_t> buffer;
            ImageDataBlock read = Read(want, &buffer);
            EXPECT_EQ(uint32_t{read.dwResult}, 1u) << "call " << call;
            if (read.dwResult != 1)
                break;
            uint32_t got = read.dwReturnLines;
            EXPECT_EQ(got, std::min(want, lines - done)) << "call " << call;
            EXPECT_EQ(uint32_t{read.dwRemainLines}, lines - done - got);
            image.insert(image.end(), buffer.begin(), buffer.begin() + size_t{got} * lineBytes);
            done += got;
            if (got == 0 && want != 0)
                break;
        }
        EXPECT_EQ(ScanState.ScanActive, 0u) << "the last line ends the scan";
        return image;
    }
    /* What the reference makes of the scanner's lines. */
    std::vector<uint8_t> Expected()
    {
        bool wide = block.wBitsPerPixel > 8;
        uint32_t channels = block.wImageType == SD_IMAGE_COLOR ? 3 : 1;
        std::vector<ref::Line> lines(scanner.Lines());
        for (uint32_t y = 0; y < lines.size(); ++y)
            for (uint32_t x = 0; x < scanner.Pixels(); ++x)
                for (uint32_t c = 0; c < channels; ++c)
                    lines[y].push_back(scanner.Sample(x, y, c));
        std::vector<uint8_t> image;
        for (const ref::Line &line : ref::Scan(lines, channels, block.wWidth, block.wLength,
                                               block.wResolution > 600, wide ? 65535 : 255)) {
            std::vector<uint8_t> bytes = ref::ToBytes(line, wide);
            image.insert(image.end(), bytes.begin(), bytes.end());
        }
        return image;
    }
    uint32_t ImageReads() const
    {
        uint32_t reads = 0;
        for (const RecordedCommand &c : fake::Commands())
            reads += c.Opcode() == 0x28 && c.Cdb[2] == 0 && c.Length > 0;
        return reads;
    }
};

/* Read whole and in random chunks (0 included): direct transfers, tagged
 * segments paired across their gap (8 lines at 600 dpi is 3 at 250) in
 * either order, a far-edge origin, and rescaled scans. */
TEST_F(GetImage, ImagesMatchTheReferenceInCallsOfAnySize)
{
    std::mt19937 random(7);
    const struct { uint16_t resolution, type, bits; uint8_t gap; const char *order; bool reversed; } cases[] = {
        {250, 1, 8, 0, "", false},     {250, 14, 16, 0, "", false},    {250, 14, 8, 8, "RGB", false},
        {250, 14, 16, 8, "BRG", false}, {250, 1, 8, 0, "", true},       {250, 14, 8, 5, "RGB", true},
        {300, 14, 8, 0, "", false},    {200, 1, 16, 0, "", false},     {900, 1, 8, 0, "", false},
        {900, 14, 16, 0, "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        scanner = FakeScanner();
        scanner.Lamp[0] = 0x21;
        const uint16_t mask = c.bits > 8 ? 0xFFFF : 0xFF;
        scanner.Sample = [mask](uint32_t x, uint32_t y, uint32_t ch) {
            return uint16_t((x * 251 + y * 13 + ch * 4099) & mask);
        };
        if (c.gap) {
            scanner.Page[0] = 0x83;
            scanner.Page[2] = c.gap;
            scanner.SegmentGap = c.gap == 8 ? 3 : 2;
            scanner.SegmentOrder = c.order;
        }
        scanner.Reversed = c.reversed;
        scanner.Page[1] = c.reversed ? 0x01 : 0x00;
        block.wResolution = c.resolution;
        block.wBitsPerPixel = c.bits;
        block.wImageType = c.type;
        for (int run = 0; run < 2; ++run) {
            std::vector<uint32_t> sizes; /* the last size repeats */
            for (int i = 0; run == 1 && i < 40; ++i)
                sizes.push_back(random() % 9);
            sizes.push_back(run == 0 ? 65535u : 7u);
            Forget();
            ASSERT_EQ(Start(), 1u);
            EXPECT_EQ(ReadAll(sizes), Expected()) << "run " << run;
            if (run == 0 && !c.gap && c.resolution == 250) {
                EXPECT_EQ(ImageReads(), 1u) << "one READ straight into the caller's buffer";
            }
        }
        EXPECT_EQ(LiveAllocations(), 0);
    }
}

TEST_F(GetImage, ColourLinesThatNeverPairUpAreAnErrorNotALoop)
{
    /* The page promises a gap of 2, so the raw area holds 3 lines; blue
     * lags further and the area fills with red and green waiting for it. */
    block.wImageType = SD_IMAGE_COLOR;
    scanner.Page[0] = 0x83;
    scanner.Page[2] = 2;
    scanner.SegmentGap = 3;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(uint32_t{Read(1).dwResult}, 0xFDA6u);
    EXPECT_EQ(ImageReads(), 1u);
}

/* Calls with the remaining count the caller's block carries, which is what
 * the driver counts on from once the image came out short. */
ImageDataBlock ReadOn(uint32_t lines, uint32_t remain, uint8_t *buffer)
{
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer;
    read.dwRequestLines = lines;
    read.dwReturnLines = 77;
    read.dwRemainLines = remain;
    vScannerGetImage(&read);
    return read;
}

TEST_F(GetImage, EarlyEndReportsTheRestWithoutData)
{
    scanner.EndAfterLines = 20;
    ASSERT_EQ(Start(), 1u);
    std::vector<uint8_t> buffer;
    ImageDataBlock read = Read(30, &buffer);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 20u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 30u);
    EXPECT_EQ(buffer[20 * 250], 0xA5) << "nothing written for the missing lines";
    const uint32_t reads = ImageReads();
    read = ReadOn(20, 30, buffer.data());
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 20u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 10u);
    read = ReadOn(25, 10, buffer.data());
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 25u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 0u) << "never below 0";
    EXPECT_EQ(ImageReads(), reads) << "nothing more is read";
    EXPECT_EQ(LiveAllocations(), 0) << "reading to the end releases everything";
    EXPECT_EQ(uint32_t{Read(1).dwResult}, uint32_t(SD_ERR_NOT_SCANNING));
}

/* A call refused mid-scan (no buffer, or a failed READ) counts no line and
 * the scan goes on: the image comes out short, but reading on reaches the
 * end and leaves nothing behind. */
TEST_F(GetImage, ReadingOnAfterARefusedCallComesToAnEnd)
{
    const struct { uint16_t resolution, type; bool failedRead; } cases[] = {
        {250, 1, true}, {300, 1, true}, {250, 1, false}, {100, 14, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        block.wResolution = c.resolution;
        block.wImageType = c.type;
        int reads = 0, failed = 0;
        scanner.Hook = [&](const RecordedCommand &command, FakeReply &reply) {
            if (c.failedRead && command.Opcode() == 0x28 && command.Cdb[2] == 0 && command.Length > 0 &&
                ++reads == 2)
                reply = fake::CheckCondition(0x4B, 0x00);
        };
        ASSERT_EQ(Start(), 1u);
        uint32_t remain = block.wLength;
        std::vector<uint8_t> buffer(size_t{4} * LineBytes());
        for (int call = 0; call < 200 && remain > 0; ++call) {
            ImageDataBlock read = ReadOn(4, remain, c.failedRead || call != 1 ? buffer.data() : nullptr);
            if (read.dwResult != 1) {
                ++failed;
                EXPECT_EQ(uint32_t{read.dwResult}, c.failedRead ? 0xFDA6u : uint32_t(SD_ERR_NOT_SCANNING));
                EXPECT_EQ(uint32_t{read.dwReturnLines}, 77u) << "not counted";
                EXPECT_EQ(ScanState.ScanActive, 1u);
                continue;
            }
            EXPECT_LE(uint32_t{read.dwRemainLines}, remain) << "call " << call;
            remain = read.dwRemainLines;
        }
        EXPECT_EQ(failed, 1);
        EXPECT_EQ(remain, 0u);
        EXPECT_EQ(LiveAllocations(), 0);
        scanner.Hook = nullptr; /* it refers to this case */
    }
}

TEST_F(GetImage, NewStartWithoutReadingTheLastScanLosesNothing)
{
    block.wResolution = 300;
    ASSERT_EQ(Start(), 1u);
    const int live = LiveAllocations();
    Read(3);
    ASSERT_EQ(Start(), 1u);
    EXPECT_LE(LiveAllocations(), live) << "the first scan's buffers were released";
    EXPECT_EQ(ReadAll({20}), Expected());
    EXPECT_EQ(LiveAllocations(), 0);
}

} // namespace
