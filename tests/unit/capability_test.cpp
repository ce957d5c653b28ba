/*
 * capability_test.cpp - vScannerCapability: the fields taken from the two
 * pages, the feature bits, the device setting exchange and its SEND, the
 * resolution and pattern lists, and the failures with the fields each one
 * leaves alone.
 */
#include "device_control_fixture.h"

#include <array>

using namespace control_test;

namespace {

/* A block with real lists behind its pointers; every other byte, and every
 * list entry, starts as 0xA5 so that untouched ones show. */
struct CapabilityCall {
    CapabilityBlock Block;
    std::array<int32_t, 256> Contrast;
    std::array<int32_t, 256> Brightness;
    std::array<uint32_t, 256> Adjust;
    std::array<uint16_t, 150> Resolutions;
    std::array<uint16_t, 12> Patterns;

    CapabilityCall(uint16_t sources = 0, uint16_t features = 0)
    {
        std::memset(&Block, 0xA5, sizeof Block);
        std::memset(Contrast.data(), 0xA5, sizeof Contrast);
        std::memset(Brightness.data(), 0xA5, sizeof Brightness);
        std::memset(Adjust.data(), 0xA5, sizeof Adjust);
        std::memset(Resolutions.data(), 0xA5, sizeof Resolutions);
        std::memset(Patterns.data(), 0xA5, sizeof Patterns);
        Block.lpContrastList = Contrast.data();
        Block.lpBrightnessList = Brightness.data();
        Block.lpAdjustList = Adjust.data();
        Block.lpResolutionList = Resolutions.data();
        Block.lpPatternList = Patterns.data();
        Block.wSources = sources;
        Block.wFeatures = features;
    }

    void Run() { vScannerCapability(&Block); }

    bool ListsUntouched() const
    {
        auto poisoned = [](const void *data, size_t size) {
            const uint8_t *bytes = static_cast<const uint8_t *>(data);
            for (size_t k = 0; k < size; ++k)
                if (bytes[k] != 0xA5)
                    return false;
            return true;
        };
        return poisoned(Contrast.data(), sizeof Contrast) && poisoned(Brightness.data(), sizeof Brightness) &&
               poisoned(Adjust.data(), sizeof Adjust) && poisoned(Resolutions.data(), sizeof Resolutions) &&
               poisoned(Patterns.data(), sizeof Patterns);
    }
};

class CapabilityTest : public DeviceControlTest {
protected:
    static void QueuePages(const std::vector<uint8_t> &page, const std::vector<uint8_t> &status)
    {
        fake::Queue(BUSLNK_GOOD, page);
        fake::Queue(BUSLNK_GOOD, status);
    }

    /* A page that supports the device setting exchange (byte 18 bit 4). */
    static std::vector<uint8_t> SettingPage()
    {
        std::vector<uint8_t> page = ParameterPage();
        page[18] = 0x10;
        return page;
    }
};

TEST_F(CapabilityTest, ReportsWhatThePagesSay)
{
    std::vector<uint8_t> page = ParameterPage(5100, 7000, 600);
    page[0] = 0x80;
    Put16(page, 3, 1200);
    Put16(page, 5, 2400);
    QueuePages(page, StatusPage(0, 0, 0, 0x05));

    CapabilityCall call;
    call.Run();
    const CapabilityBlock &b = call.Block;

    EXPECT_EQ(Value(b.dwResult), 1u);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, 0), kLampReadCdb}));
    EXPECT_EQ(Value(b.wMaxResolutionX), 1200);
    EXPECT_EQ(Value(b.wImageTypes), 15);
    EXPECT_EQ(Value(b.wSources), 1 + 2 + 4);
    EXPECT_EQ(Value(b.wMaxLength), 11666);
    EXPECT_EQ(Value(b.wMaxWidth), 8500);
    EXPECT_EQ(Value(b.wFeatures), 0x098D);
    EXPECT_EQ(Value(b.wLensCount), 1);
    EXPECT_EQ(Value(b.wFixed10), 1);
    EXPECT_EQ(Value(b.wFixed12), 1);
    EXPECT_EQ(Value(b.wFixed36), 0x8081);
    EXPECT_EQ(Value(b.wFixed38), 7);
    EXPECT_EQ(Value(b.wFixed44), 8);
    EXPECT_EQ(Value(b.wFixed46), 0);
    EXPECT_EQ(Value(b.wFixed48), 1000);
    EXPECT_EQ(Value(b.wFixed54), 8);
    EXPECT_EQ(Value(b.wFixed56), 31);
    EXPECT_EQ(Value(b.wFixed58), 2);
    EXPECT_EQ(Value(b.wFixed62), 0x81);
    /* Not asked for: offsets 64 to 68 stay as they were. */
    EXPECT_EQ(Value(b.wBaseResolution), 0xA5A5);
    EXPECT_EQ(Value(b.wMaxResolutionY), 0xA5A5);
    EXPECT_EQ(Value(b.wDeviceSetting), 0xA5A5);
    EXPECT_EQ(Value(b.wReserved), 0xA5A5);
    EXPECT_EQ(Value(b.dwReserved), 0xA5A5A5A5u);

    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(call.Contrast[k], k - 128) << k;
        ASSERT_EQ(call.Brightness[k], k - 128) << k;
        ASSERT_EQ(call.Adjust[k], 2u * k) << k;
    }
}

TEST_F(CapabilityTest, IncomingSourcesChooseThePage)
{
    struct Row {
        uint16_t Sources;
        uint8_t Variant;
    };
    /* 0x0004 is a scan source bit, not a page request: it reads the flatbed. */
    const Row rows[] = {{0x0008, 2}, {0x0010, 1}, {0x0018, 2}, {0x0004, 0}, {0x0001, 0}, {0x0002, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Sources);
        fake::Reset();
        std::vector<uint8_t> page = ParameterPage();
        page[0] = 0x7F; /* everything but the colour default */
        QueuePages(page, StatusPage());
        CapabilityCall call(row.Sources);
        call.Run();
        EXPECT_EQ(Value(call.Block.dwResult), 1u);
        EXPECT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, row.Variant), kLampReadCdb}));
        EXPECT_EQ(Value(call.Block.wImageTypes), 1);
    }
}

TEST_F(CapabilityTest, SourcesOnReturnFromTheInstalledOptions)
{
    struct Row {
        uint8_t Options;
        uint16_t Sources;
    };
    const Row rows[] = {{0x00, 1}, {0x01, 3}, {0x02, 1}, {0x04, 5}, {0x05, 7}, {0xF8, 1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(static_cast<int>(row.Options));
        fake::Reset();
        QueuePages(ParameterPage(), StatusPage(0, 0, 0, row.Options));
        CapabilityCall call(0x0008);
        call.Run();
        EXPECT_EQ(Value(call.Block.wSources), row.Sources);
    }
}

TEST_F(CapabilityTest, FeatureBitsAndLensCountWithoutTheExtendedFields)
{
    struct Row {
        uint8_t Byte18, Byte27, Byte29;
        uint16_t Features, Lenses;
    };
    const Row rows[] = {
        {0x00, 1, 0x00, 0x098D, 1},
        {0x10, 1, 0x00, 0x0B8D, 1}, /* device setting supported */
        {0x00, 1, 0x02, 0x0B8D, 1}, /* capability flag */
        {0x00, 1, 0x01, 0x098D, 1}, /* the model flag is not reported */
        {0xEF, 1, 0xFD, 0x098D, 1}, /* neither bit among the others */
        {0x00, 2, 0x00, 0x0D8D, 2},
        {0x10, 4, 0x02, 0x0F8D, 4},
        {0x00, 0, 0x00, 0x098D, 1}, /* a page reporting no lens still has one */
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "bytes 18 " << int(row.Byte18) << ", 27 " << int(row.Byte27)
                                        << ", 29 " << int(row.Byte29));
        fake::Reset();
        std::vector<uint8_t> page = ParameterPage();
        page[18] = row.Byte18;
        page[27] = row.Byte27;
        page[29] = row.Byte29;
        QueuePages(page, StatusPage());
        CapabilityCall call(0, 0x7FFF); /* every bit but the request */
        call.Run();
        EXPECT_EQ(Value(call.Block.dwResult), 1u);
        EXPECT_EQ(Value(call.Block.wFeatures), row.Features);
        EXPECT_EQ(Value(call.Block.wLensCount), row.Lenses);
        EXPECT_EQ(Value(call.Block.wBaseResolution), 0xA5A5);
        EXPECT_EQ(Value(call.Block.wMaxResolutionY), 0xA5A5);
        EXPECT_EQ(Value(call.Block.wDeviceSetting), 0xA5A5);
        EXPECT_EQ(fake::Commands().size(), 2u); /* no status SEND */
    }
}

TEST_F(CapabilityTest, ExtendedFieldsWhenAsked)
{
    std::vector<uint8_t> page = ParameterPage(5100, 7000, 600);
    Put16(page, 5, 2400);
    QueuePages(page, StatusPage());
    CapabilityCall call(0, 0x8000);
    call.Run();

    EXPECT_EQ(Value(call.Block.dwResult), 1u);
    EXPECT_EQ(Value(call.Block.wFeatures), 0x898D);
    EXPECT_EQ(Value(call.Block.wBaseResolution), 600);
    EXPECT_EQ(Value(call.Block.wMaxResolutionY), 2400);
    /* No setting support on this page: nothing exchanged, nothing sent. */
    EXPECT_EQ(Value(call.Block.wDeviceSetting), 0xA5A5);
    EXPECT_EQ(fake::Commands().size(), 2u);
}

/* The exchange on a page that supports it: a query turns wDeviceSetting
 * into the current value with bit 7; 0 clears bits 6 and 7 of status byte
 * 2; any other value is written with bit 7 and lamp byte 1. */
TEST_F(CapabilityTest, DeviceSettingExchange)
{
    struct Row {
        uint16_t SettingIn;
        uint8_t StatusByte2;
        uint16_t SettingOut;
        uint8_t SentByte0, SentByte2;
    };
    const Row rows[] = {
        {0x0045, 0x47, 0x0045, 0x01, 0x85},
        {0xFFFF, 0x47, 0x0087, 0x01, 0x87},
        {0x0000, 0xC5, 0x0000, 0x03, 0x05}, /* the lamp byte goes back as read */
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.SettingIn);
        fake::Reset();
        std::memcpy(LampStatus.Bytes, "\x21\x22\x23\x24\x25\x26\x27\x28\x29", 9);
        std::vector<uint8_t> status = {0x03, 0x10, row.StatusByte2, 0x11, 0x0F, 0x05, 0x01, 0x02, 0x33};
        QueuePages(SettingPage(), status);

        CapabilityCall call(0, 0x8000);
        call.Block.wDeviceSetting = row.SettingIn;
        call.Run();

        EXPECT_EQ(Value(call.Block.dwResult), 1u);
        EXPECT_EQ(Value(call.Block.wDeviceSetting), row.SettingOut);
        EXPECT_EQ(Value(call.Block.wFeatures), 0x8B8D);
        ASSERT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, 0), kLampReadCdb, kLampSendCdb}));
        std::vector<uint8_t> sent = status;
        sent[0] = row.SentByte0;
        sent[2] = row.SentByte2;
        EXPECT_EQ(fake::Hex(fake::Commands()[2].DataOut), fake::Hex(sent));
        /* The exchange works on a private copy; the shared one is not touched. */
        EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), "21 22 23 24 25 26 27 28 29");
    }
}

TEST_F(CapabilityTest, FailedSettingSendIsNotReported)
{
    QueuePages(SettingPage(), StatusPage());
    fake::Queue(fake::CheckCondition(0x26, 0x00));
    CapabilityCall call(0, 0x8000);
    call.Block.wDeviceSetting = 0x0001;
    call.Run();

    EXPECT_EQ(Value(call.Block.dwResult), 1u);
    EXPECT_EQ(Value(call.Block.wSources), 1);
    EXPECT_EQ(call.Contrast[0], -128);
    EXPECT_EQ(Value(call.Block.wFixed58), 2);
}

TEST_F(CapabilityTest, ResolutionListForBaseResolutions)
{
    struct Row {
        uint16_t Base;
        std::vector<uint16_t> First, Middle; /* entries 0-2 and 98-101 */
        uint16_t Last;
    };
    /* 650 dpi shows the truncated step: the first hundred stop at 600. */
    const Row rows[] = {
        {600, {6, 12, 18}, {594, 600, 612, 624}, 1200},
        {1200, {12, 24, 36}, {1188, 1200, 1224, 1248}, 2400},
        {650, {6, 12, 18}, {594, 600, 662, 674}, 1250},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Base);
        fake::Reset();
        QueuePages(ParameterPage(5100, 7000, row.Base), StatusPage());
        CapabilityCall call;
        call.Run();
        ASSERT_EQ(Value(call.Block.dwResult), 1u);
        const std::array<uint16_t, 150> &list = call.Resolutions;
        EXPECT_EQ(std::vector<uint16_t>(list.begin(), list.begin() + 3), row.First);
        EXPECT_EQ(std::vector<uint16_t>(list.begin() + 98, list.begin() + 102), row.Middle);
        EXPECT_EQ(list[149], row.Last);
        /* Even steps on either side of the base resolution: r below, 2r
         * above (the step from entry 99 to 100 is checked above). */
        for (int k = 1; k < 150; ++k) {
            if (k != 100) {
                ASSERT_EQ(list[k] - list[k - 1], k < 100 ? list[0] : 2 * list[0]) << k;
            }
        }
    }
}

TEST_F(CapabilityTest, PatternListNamesTheBuiltInPatterns)
{
    QueuePages(ParameterPage(), StatusPage());
    CapabilityCall call;
    call.Run();
    EXPECT_EQ(std::vector<uint16_t>(call.Patterns.begin(), call.Patterns.end()),
              (std::vector<uint16_t>{0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505, 0x5506, 0x4407, 0x4408,
                                     0x4409, 0x330A, 0x220B}));
}

TEST_F(CapabilityTest, OptionalListsMayBeNull)
{
    QueuePages(ParameterPage(), StatusPage());
    CapabilityCall call;
    call.Block.lpResolutionList = nullptr;
    call.Block.lpPatternList = nullptr;
    call.Run();
    EXPECT_EQ(Value(call.Block.dwResult), 1u);
    EXPECT_EQ(call.Adjust[255], 510u);
    EXPECT_EQ(call.Resolutions[0], 0xA5A5);
    EXPECT_EQ(call.Patterns[0], 0xA5A5);
}

TEST_F(CapabilityTest, FailedPageReadWritesOnlyTheResult)
{
    fake::Queue(fake::CheckCondition(0x60, 0x00)); /* -204 */
    CapabilityCall call(0x0010, 0x8000);
    CapabilityBlock before = call.Block;
    call.Run();

    EXPECT_EQ(Value(call.Block.dwResult), 0x0000FF34u);
    ExpectOnlyResultWritten(before, call.Block);
    EXPECT_TRUE(call.ListsUntouched());
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, 1)});
}

TEST_F(CapabilityTest, FailedStatusReadKeepsThePageFieldsOnly)
{
    std::vector<uint8_t> page = ParameterPage(5100, 7000, 600);
    page[0] = 0x80;
    page[27] = 2;
    fake::Queue(BUSLNK_GOOD, page);
    fake::Queue(BUSLNK_FAILURE); /* -1004 */
    CapabilityCall call(0, 0x8000);
    call.Run();
    const CapabilityBlock &b = call.Block;

    EXPECT_EQ(Value(b.dwResult), 0x0000FC14u);
    /* Written before the status read. */
    EXPECT_EQ(Value(b.wMaxResolutionX), 1200);
    EXPECT_EQ(Value(b.wImageTypes), 15);
    EXPECT_EQ(Value(b.wFixed36), 0x8081);
    EXPECT_EQ(Value(b.wFixed38), 7);
    EXPECT_EQ(Value(b.wFixed62), 0x81);
    EXPECT_EQ(Value(b.wMaxLength), 11666);
    EXPECT_EQ(Value(b.wMaxWidth), 8500);
    EXPECT_EQ(Value(b.wBaseResolution), 600);
    EXPECT_EQ(Value(b.wMaxResolutionY), 1200);
    EXPECT_EQ(Value(b.wFeatures), 0x8400);
    EXPECT_EQ(Value(b.wLensCount), 2);
    /* Not reached. */
    EXPECT_EQ(Value(b.wSources), 0);
    EXPECT_EQ(Value(b.wDeviceSetting), 0xA5A5);
    EXPECT_EQ(Value(b.wFixed10), 0xA5A5);
    EXPECT_EQ(Value(b.wFixed48), 0xA5A5);
    EXPECT_EQ(Value(b.wFixed58), 0xA5A5);
    EXPECT_TRUE(call.ListsUntouched());
}

/* A page with base resolution 0 gives no sizes in 1/1000 inch and no
 * resolution list: it is refused with a command-layer code (high half 0)
 * before any field is written. */
TEST_F(CapabilityTest, PageWithBaseResolutionZeroIsRefused)
{
    fake::Queue(BUSLNK_GOOD, ParameterPage(5100, 7000, 0));
    CapabilityCall call(0, 0x8000);
    CapabilityBlock before = call.Block;
    call.Run();

    EXPECT_EQ(Value(call.Block.dwResult), 0x0000FD3Eu); /* -706 */
    ExpectOnlyResultWritten(before, call.Block);
    EXPECT_TRUE(call.ListsUntouched());
    EXPECT_EQ(fake::Commands().size(), 1u);
}

/* The three value lists are required; a block without one of them is
 * refused before any command, with nothing but dwResult written. */
TEST_F(CapabilityTest, MissingRequiredListIsRefusedBeforeAnyCommand)
{
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        fake::Reset();
        fake::SetResponder([](const RecordedCommand &) {
            FakeReply reply;
            reply.Data = ParameterPage();
            return reply;
        });
        CapabilityCall call(0, 0x8000);
        if (missing == 0)
            call.Block.lpContrastList = nullptr;
        else if (missing == 1)
            call.Block.lpBrightnessList = nullptr;
        else
            call.Block.lpAdjustList = nullptr;
        CapabilityBlock before = call.Block;
        call.Run();

        EXPECT_EQ(Value(call.Block.dwResult), 0x0000FD3Eu);
        ExpectOnlyResultWritten(before, call.Block);
        EXPECT_TRUE(call.ListsUntouched());
        EXPECT_TRUE(fake::Commands().empty());
    }
}

} // namespace
