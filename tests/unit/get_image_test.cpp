/*
 * Image reading end to end against a scripted scanner: every delivered byte
 * of direct and buffered transfers, colour-tagged segments with a line gap,
 * mirrored scanners, rescaled scans read in chunks of any size, bits made by
 * the driver and by the scanner, an early end of the image, and the
 * caller's mistakes.
 */
#include "driver_fixture.h"
#include "pipeline_reference.h"
#include "entry/settings.h"
#include "fake_scanner.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <random>

namespace {

class GetImage : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        Settings = {};
        ScanState = {};
        scanner.Lamp[0] = 0x21; /* calibration holds: no passes */
        scanner.Install();
        block = {};
        block.wImageType = 1;
        block.wScanSource = 1;
        block.wBitsPerPixel = 8;
        block.wHalftoneMode = 1;
        block.wResolution = 250;
        block.wLeft = 1000;
        block.wRight = 1999; /* 250 pixels at 250 dpi */
        block.wTop = 500;
        block.wBottom = 1099; /* 150 lines */
        block.wFlags = SD_FLAG_DEFAULT;
    }
    void TearDown() override
    {
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        ScanState = {};
        DriverTest::TearDown();
    }
    void Start()
    {
        vScannerStartScan(&block);
        ASSERT_EQ(uint32_t{block.dwResult}, 1u);
    }
    /* Bytes of one delivered line. */
    uint32_t LineBytes() const
    {
        uint32_t width = block.wWidth;
        if (block.wBitsPerPixel == 1)
            return width;
        return width * (block.wImageType == SD_IMAGE_COLOR ? 3 : 1) * (block.wBitsPerPixel > 8 ? 2 : 1);
    }
    /* Reads the whole image in calls of the given sizes (the last repeats). */
    std::vector<uint8_t> ReadAll(std::vector<uint32_t> sizes)
    {
        uint32_t lines = block.wLength, lineBytes = LineBytes(), done = 0;
        std::vector<uint8_t> image(size_t{lines} * lineBytes);
        for (size_t call = 0; done < lines; ++call) {
            uint32_t want = sizes[std::min(call, sizes.size() - 1)];
            /* A buffer exactly as large as asked, so any write past it shows. */
            std::vector<uint8_t> buffer(size_t{want} * lineBytes + 1);
            ImageDataBlock read = {};
            read.lpImageBuffer = buffer.data();
            read.dwRequestLines = want;
            vScannerGetImage(&read);
            EXPECT_EQ(uint32_t{read.dwResult}, 1u) << "call " << call;
            if (read.dwResult != 1)
                break;
            uint32_t got = read.dwReturnLines;
            EXPECT_EQ(got, std::min(want, lines - done)) << "call " << call;
            EXPECT_EQ(uint32_t{read.dwRemainLines}, lines - done - got);
            std::copy(buffer.begin(), buffer.begin() + size_t{got} * lineBytes, image.begin() + size_t{done} * lineBytes);
            done += got;
            if (got == 0 && want != 0)
                break;
        }
        EXPECT_EQ(ScanState.ScanActive, 0u) << "the last line ends the scan";
        return image;
    }
    /* What the scanner's lines are, as the caller should get them when no
     * rescaling is needed. */
    std::vector<uint8_t> Expected()
    {
        std::vector<uint8_t> image;
        bool color = block.wImageType == SD_IMAGE_COLOR, wide = block.wBitsPerPixel > 8;
        for (uint32_t y = 0; y < block.wLength; ++y)
            for (uint32_t x = 0; x < block.wWidth; ++x)
                for (uint32_t c = 0; c < (color ? 3u : 1u); ++c) {
                    uint16_t v = scanner.Sample(x, y, c);
                    image.push_back(uint8_t(v));
                    if (wide)
                        image.push_back(uint8_t(v >> 8));
                }
        return image;
    }
    /* What a correct pipeline makes of the scanner's lines: each output
     * pixel and line computed from its position by the slow reference. */
    std::vector<uint8_t> Rescaled()
    {
        bool color = block.wImageType == SD_IMAGE_COLOR, wide = block.wBitsPerPixel > 8;
        uint32_t channels = color ? 3 : 1;
        std::vector<ref::Line> lines;
        for (uint32_t y = 0; y < scanner.Lines(); ++y) {
            ref::Line line;
            for (uint32_t x = 0; x < scanner.Pixels(); ++x)
                for (uint32_t c = 0; c < channels; ++c)
                    line.push_back(scanner.Sample(x, y, c));
            lines.push_back(line);
        }
        bool uniform = block.wResolution > 600 && block.wResolution >= 25;
        std::vector<uint8_t> image;
        for (const ref::Line &line : ref::Scan(lines, channels, block.wWidth, block.wLength, uniform,
                                               wide ? 65535 : 255)) {
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

    FakeScanner scanner;
    ScanAttributeBlock block;
};

TEST_F(GetImage, DirectTransferDeliversTheScannersLinesUnchanged)
{
    for (uint16_t bits : {8, 16}) {
        for (uint16_t type : {1, 14}) {
            block.wBitsPerPixel = bits;
            block.wImageType = type;
            scanner.Sample = [](uint32_t x, uint32_t y, uint32_t c) { return uint16_t(x * 251 + y * 13 + c * 4099); };
            fake::Reset();
            scanner.Install();
            Start();
            EXPECT_EQ(block.wWidth, 250);
            EXPECT_EQ(block.wLength, 150);
            EXPECT_EQ(ReadAll({150}), Expected()) << bits << " bits, type " << type;
            EXPECT_EQ(ImageReads(), 1u) << "one READ straight into the caller's buffer";
        }
    }
}

TEST_F(GetImage, DirectTransferInCallsOfAnySize)
{
    Start();
    EXPECT_EQ(ReadAll({1, 7, 0, 33, 200}), Expected());
}

TEST_F(GetImage, TaggedColourSegmentsWithAGapPairUp)
{
    block.wImageType = SD_IMAGE_COLOR;
    for (uint16_t bits : {8, 16}) {
        for (std::vector<uint32_t> sizes : {std::vector<uint32_t>{150}, {1}, {5, 13, 2}}) {
            block.wBitsPerPixel = bits;
            /* A gap of 8 lines at 600 dpi is 3 lines at the 250 dpi scanned. */
            scanner.Page[0] = 0x83;
            scanner.Page[2] = 8;
            scanner.SegmentGap = 3;
            scanner.SegmentOrder = sizes.size() > 1 ? "BRG" : "RGB";
            fake::Reset();
            scanner.Install();
            Start();
            EXPECT_EQ(ReadAll(sizes), Expected()) << bits << " bits, first call " << sizes[0];
        }
    }
}

TEST_F(GetImage, ColourLinesThatNeverPairUpAreAnErrorNotALoop)
{
    /* The page promises almost no gap, so the raw area holds 3 lines; the
     * scanner's blue lags further than that, and the area fills with red and
     * green waiting for it. */
    block.wImageType = SD_IMAGE_COLOR;
    scanner.Page[0] = 0x83;
    scanner.Page[2] = 2;
    scanner.SegmentGap = 3;
    Start();
    std::vector<uint8_t> buffer(size_t{LineBytes()});
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 1;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFDA6u);
    EXPECT_EQ(ImageReads(), 1u);
}

TEST_F(GetImage, MirroredScannerIsTurnedAround)
{
    scanner.Reversed = true;
    scanner.Page[1] = 0x01;
    block.wLeft = 0;
    block.wRight = 999;
    for (uint16_t type : {1, 14}) {
        block.wImageType = type;
        fake::Reset();
        scanner.Install();
        Start();
        EXPECT_EQ(ReadAll({150}), Expected()) << "type " << type;
    }
    scanner.Page[0] = 0x83;
    scanner.Page[2] = 5;
    scanner.SegmentGap = 2;
    fake::Reset();
    scanner.Install();
    Start();
    EXPECT_EQ(ReadAll({4, 50}), Expected()) << "tagged";
}

TEST_F(GetImage, RescaledScansGiveTheSameImageInAnyChunks)
{
    std::mt19937 random(7);
    const struct {
        uint16_t resolution, type, bits;
    } cases[] = {{300, 1, 8}, {300, 14, 8}, {200, 1, 16}, {900, 1, 8}, {900, 14, 16}, {75, 14, 8}, {40, 1, 8}};
    for (const auto &c : cases) {
        block.wResolution = c.resolution;
        block.wImageType = c.type;
        block.wBitsPerPixel = c.bits;
        std::vector<uint8_t> whole;
        for (int run = 0; run < 3; ++run) {
            std::vector<uint32_t> sizes = {65535};
            if (run == 1)
                sizes = {1};
            if (run == 2)
                for (int i = 0; i < 40; ++i)
                    sizes.push_back(random() % 9);
            fake::Reset();
            scanner.Install();
            Start();
            std::vector<uint8_t> image = ReadAll(sizes);
            ASSERT_EQ(image.size(), size_t{block.wLength} * LineBytes());
            if (run == 0) {
                whole = image;
                EXPECT_EQ(image, Rescaled()) << c.resolution << " dpi, type " << c.type;
            } else
                EXPECT_EQ(image, whole) << c.resolution << " dpi, type " << c.type << ", run " << run;
        }
        EXPECT_EQ(LiveAllocations(), 0) << c.resolution << " dpi";
    }
}

TEST_F(GetImage, LineArtMadeByTheDriver)
{
    scanner.Page[13] &= ~0x01; /* the scanner cannot threshold */
    block.wBitsPerPixel = 1;
    scanner.Sample = [](uint32_t x, uint32_t y, uint32_t) { return uint16_t((x * 5 + y * 11) & 0xFF); };
    Start();
    ASSERT_EQ(block.wWidth, (250 + 7) / 8);
    std::vector<uint8_t> expected;
    for (uint32_t y = 0; y < 150; ++y) {
        std::vector<uint8_t> line(32, 0);
        for (uint32_t x = 0; x < 250; ++x)
            if (scanner.Sample(x, y, 0) < 128)
                line[x / 8] |= uint8_t(0x80 >> (x % 8));
        expected.insert(expected.end(), line.begin(), line.end());
    }
    EXPECT_EQ(ReadAll({3, 100}), expected);
}

TEST_F(GetImage, BitsMadeByTheScannerPassThrough)
{
    block.wBitsPerPixel = 1;
    Start();
    std::vector<uint8_t> expected;
    for (uint32_t y = 0; y < 150; ++y) {
        std::vector<uint8_t> line = scanner.RawLine(y);
        expected.insert(expected.end(), line.begin(), line.end());
    }
    EXPECT_EQ(ReadAll({150}), expected);
}

TEST_F(GetImage, EarlyEndReportsTheRestWithoutData)
{
    scanner.EndAfterLines = 40;
    Start();
    std::vector<uint8_t> buffer(100 * 250, 0xEE);
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 100;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 1u);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 40u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 110u);
    std::vector<uint8_t> expected = Expected();
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 40 * 250, expected.begin()));
    EXPECT_EQ(buffer[40 * 250], 0xEE);
    size_t reads = ImageReads();

    read.dwRequestLines = 60;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 60u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 50u);
    read.dwRequestLines = 70;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 70u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 0u) << "never below 0";
    EXPECT_EQ(ImageReads(), reads) << "nothing more is read";
    EXPECT_EQ(LiveAllocations(), 0) << "reading to the end releases everything";
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
}

TEST_F(GetImage, EarlyEndWhileRescaling)
{
    block.wResolution = 300;
    scanner.EndAfterLines = 10;
    Start();
    std::vector<uint8_t> buffer(size_t{block.wLength} * LineBytes());
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = block.wLength;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 1u);
    EXPECT_LT(uint32_t{read.dwReturnLines}, uint32_t{block.wLength}) << "the call ends with the lines it has";
}

TEST_F(GetImage, RequestsForNoLinesAndMoreThanAreLeft)
{
    Start();
    std::vector<uint8_t> buffer(200 * 250);
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 0;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 1u);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 0u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 150u);
    EXPECT_EQ(ImageReads(), 0u) << "a READ of length 0 would end the image";
    read.dwRequestLines = 200;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 150u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, 0u);
    EXPECT_EQ(ScanState.ScanActive, 0u);
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
}

TEST_F(GetImage, NoScanOrNoBuffer)
{
    ImageDataBlock read = {};
    std::vector<uint8_t> buffer(250);
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 1;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
    Start();
    read.lpImageBuffer = nullptr;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
    vScannerGetImage(nullptr);
}

TEST_F(GetImage, FailingReadKeepsTheCountsAndTheScan)
{
    block.wResolution = 300;
    Start();
    int reads = 0;
    scanner.Hook = [&](const RecordedCommand &c, FakeReply &reply) {
        if (c.Opcode() == 0x28 && c.Cdb[2] == 0 && c.Length > 0 && ++reads == 2)
            reply = fake::CheckCondition(0x4B, 0x00);
    };
    std::vector<uint8_t> buffer(size_t{block.wLength} * LineBytes());
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = block.wLength;
    read.dwReturnLines = 77;
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFDA6u);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 77u) << "not counted";
    EXPECT_EQ(ScanState.ScanActive, 1u);
    scanner.Hook = nullptr;
}

TEST_F(GetImage, TransferBufferThatCannotBeHad)
{
    block.wResolution = 300;
    Start();
    std::vector<uint8_t> buffer(size_t{block.wLength} * LineBytes());
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 10;
    FailAllocationAfter(0, false);
    vScannerGetImage(&read);
    EXPECT_EQ(StopFailingAllocations(), 1);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC11u);
    vScannerGetImage(&read);
    EXPECT_EQ(uint32_t{read.dwResult}, 1u) << "the next call sets the buffer up";
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 10u);
}

TEST_F(GetImage, AbortAtAnyPointReleasesEverything)
{
    block.wResolution = 900;
    for (uint32_t stop : {0u, 1u, 5u}) {
        fake::Reset();
        scanner.Install();
        Start();
        std::vector<uint8_t> buffer(size_t{LineBytes()} * 2);
        ImageDataBlock read = {};
        read.lpImageBuffer = buffer.data();
        read.dwRequestLines = 2;
        for (uint32_t i = 0; i < stop; ++i)
            vScannerGetImage(&read);
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        EXPECT_EQ(uint32_t{abort.dwResult}, 1u);
        EXPECT_EQ(fake::Commands().back().Length, 0u) << "the scanner is stopped with a READ of 0";
        EXPECT_EQ(LiveAllocations(), 0) << "after " << stop << " calls";
        vScannerGetImage(&read);
        EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
    }
}

TEST_F(GetImage, NewStartWithoutReadingTheLastScanLosesNothing)
{
    block.wResolution = 300;
    Start();
    std::vector<uint8_t> buffer(size_t{LineBytes()} * 3);
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.data();
    read.dwRequestLines = 3;
    vScannerGetImage(&read);
    Start();
    EXPECT_EQ(ReadAll({20}).size(), size_t{block.wLength} * LineBytes());
    EXPECT_EQ(LiveAllocations(), 0);
}

} // namespace
